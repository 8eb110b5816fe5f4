#include "map/MapTrack.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace corvex {
namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

TEST(MapTrack, ColourBucketsByAltitudeAndByClimb)
{
    // The ramp by altitude spans the track's own lowest to highest fix (the NaN fix is
    // left out of it); the ramp by climb is fixed, zero in the middle bucket.
    TrackPoints track;
    for (const double altitude : { 1000.0, 3000.0, notANumber, 2000.0 })
        track.push_back({ {}, altitude, 0, 0 });
    const TrackColorScale byAltitude(TrackColoring::Altitude, track);
    const TrackColorScale byClimb(TrackColoring::Climb, track);
    EXPECT_EQ(byAltitude.lowestAltitude(), 1000);
    EXPECT_EQ(byAltitude.highestAltitude(), 3000);
    ASSERT_EQ(byClimb.bucketCount(), 11u);

    struct Case {
        TrackColoring coloring;
        double altitude;
        double vario;
        unsigned expected;
    };
    const Case cases[] = {
        { TrackColoring::Altitude, 1000, 0, 0 },
        { TrackColoring::Altitude, 1999, 0, 7 },
        { TrackColoring::Altitude, 2000, 0, 8 },
        { TrackColoring::Altitude, 3000, 0, 15 },
        { TrackColoring::Altitude, 500, 0, 0 },
        { TrackColoring::Altitude, 9000, 0, 15 },
        { TrackColoring::Altitude, notANumber, 0, 0 },
        { TrackColoring::Climb, 0, 0, 5 },
        { TrackColoring::Climb, 0, 0.49, 5 },
        { TrackColoring::Climb, 0, -0.49, 5 },
        { TrackColoring::Climb, 0, 0.5, 6 },
        { TrackColoring::Climb, 0, -2.2, 3 },
        { TrackColoring::Climb, 0, 5, 10 },
        { TrackColoring::Climb, 0, 14, 10 },
        { TrackColoring::Climb, 0, -30, 0 },
        { TrackColoring::Climb, 0, notANumber, 5 },
        { TrackColoring::Climb, 0, std::numeric_limits<double>::infinity(), 5 },
    };
    for (const Case& c : cases) {
        const TrackColorScale& scale = c.coloring == TrackColoring::Altitude ? byAltitude : byClimb;
        EXPECT_EQ(scale.bucketOf({ {}, c.altitude, 0, c.vario }), c.expected) << c.altitude << " m, " << c.vario << " m/s";
    }

    // A level track, or none, puts every fix in the first bucket.
    const TrackColorScale level(TrackColoring::Altitude, { { {}, 1500, 0, 0 }, { {}, 1500, 1, 0 } });
    EXPECT_EQ(level.bucketOf({ {}, 1500, 0, 0 }), 0);
    EXPECT_EQ(TrackColorScale(TrackColoring::Altitude, {}).bucketOf({ {}, 700, 0, 0 }), 0);

    // The ramps' ends and, by climb, the middle are distinct colours; no bucket outside
    // the ramp.
    EXPECT_NE(byAltitude.colorOfBucket(0), byAltitude.colorOfBucket(15));
    EXPECT_EQ(byAltitude.colorOfBucket(15), byAltitude.colorOfBucket(99));
    EXPECT_NE(byClimb.colorOfBucket(0), byClimb.colorOfBucket(5));
    EXPECT_NE(byClimb.colorOfBucket(5), byClimb.colorOfBucket(10));

    // A legend's value of each bucket falls into that bucket again.
    for (const TrackColorScale* scale : { &byAltitude, &byClimb })
        for (std::size_t bucket = 0; bucket < scale->bucketCount(); ++bucket) {
            const double value = scale->valueOfBucket(bucket);
            const TrackPoint point { {}, value, 0, value };
            EXPECT_EQ(scale->bucketOf(point), bucket) << value;
        }
    EXPECT_EQ(byClimb.valueOfBucket(0), -5);
    EXPECT_EQ(byClimb.valueOfBucket(10), 5);
}

// Pointing at a stretch of a track: the nearest stretch within the tolerance, not one
// whose ends alone are near; indices past the track are cut, not read.
TEST(MapTrack, StretchNearAPoint)
{
    // Ten points one unit apart along x: 0..9.
    std::vector<MapPoint> points;
    for (int i = 0; i < 10; ++i)
        points.push_back({ double(i), 0 });
    const std::vector<TrackStretch> stretches { { 0, 2 }, { 5, 7 }, { 8, 40 }, { 50, 60 } };
    struct Case {
        MapPoint point;
        double tolerance;
        std::optional<std::size_t> expected;
    };
    const Case cases[] = {
        { { 1.0, 0.2 }, 0.5, 0 },
        { { 2.0, 0.0 }, 0.5, 0 }, // the stretch's last point
        { { 3.5, 0.0 }, 0.5, std::nullopt }, // between stretches: a glide
        { { 5.5, 0.6 }, 0.5, std::nullopt }, // too far off
        { { 6.5, 0.4 }, 0.5, 1 },
        { { 9.0, 0.1 }, 0.5, 2 }, // a stretch reaching past the track's end
        { { 30.0, 0.0 }, 0.5, std::nullopt },
    };
    for (const Case& c : cases)
        EXPECT_EQ(stretchNearMapPoint(points, stretches, c.point, c.tolerance), c.expected) << c.point.x << ", " << c.point.y;
    EXPECT_FALSE(stretchNearMapPoint({}, stretches, { 0, 0 }, 1));
}

TEST(MapTrack, ThinningKeepsFirstAndLastAndDropsWhatSharesAPixel)
{
    struct Case {
        const char* name;
        std::vector<double> xs; // map units along one parallel
        double scale;           // pixels per unit
        std::vector<std::uint32_t> expected;
    };
    const Case cases[] = {
        { "empty", {}, 1, {} },
        { "one fix", { 5 }, 1, { 0 } },
        { "two fixes within a pixel keep both ends", { 0, 0.2 }, 1, { 0, 1 } },
        { "steps below a pixel add up", { 0, 0.3, 0.6, 0.9, 1.2, 1.3 }, 1, { 0, 5 } },
        { "the last replaces the one it shares a pixel with", { 0, 2, 4, 4.5 }, 1, { 0, 1, 3 } },
        { "scale", { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 }, 0.25, { 0, 4, 10 } },
        { "every fix a pixel apart", { 0, 1, 2, 3 }, 1, { 0, 1, 2, 3 } },
        { "a fix without a place is passed over", { 0, notANumber, 3, notANumber }, 1, { 0, 2 } },
    };
    for (const Case& c : cases) {
        std::vector<MapPoint> points;
        for (const double x : c.xs)
            points.push_back({ x, 100 });
        const ThinnedTrack thinned = thinTrack(points, c.scale, c.scale);
        EXPECT_EQ(thinned.indices, c.expected) << c.name;
        ASSERT_EQ(thinned.pixels.size(), thinned.indices.size()) << c.name;
        for (std::size_t kept = 0; kept < thinned.indices.size(); ++kept) {
            EXPECT_EQ(thinned.pixels[kept].x, c.xs[thinned.indices[kept]] * c.scale) << c.name;
            EXPECT_EQ(thinned.pixels[kept].y, 100 * c.scale) << c.name;
        }
    }
}

// A flight over the date line is one line beyond the world's edge, whichever side it
// starts on, across a recorder's gap too.
TEST(MapTrack, TrackAcrossTheAntimeridianIsOnePiece)
{
    struct Case {
        std::vector<double> longitudes;
        std::vector<double> expected; // degrees east of -180°
    };
    const Case cases[] = {
        { { 179.2, -179.9, -179.1 }, { 359.2, 360.1, 360.9 } },
        { { -179.5, 179.5, 179.0 }, { 0.5, -0.5, -1.0 } },
        { { 179.5, notANumber, -179.5 }, { 359.5, notANumber, 360.5 } },
    };
    for (const Case& c : cases) {
        TrackPoints track;
        for (const double longitude : c.longitudes)
            track.push_back({ { -17, longitude }, 500, 0, 0 });
        const std::vector<MapPoint> points = trackMapPoints(track);
        for (std::size_t index = 0; index < points.size(); ++index)
            EXPECT_TRUE(std::isnan(c.expected[index]) ? std::isnan(points[index].x)
                                                      : std::abs(points[index].x / (mapWorldSize / 360) - c.expected[index]) < 1e-6)
                << c.longitudes.front() << " at " << index;
    }
}

TEST(MapTrack, BoundsOfPoints)
{
    EXPECT_TRUE(boundingMapRect({}).isNull());
    const MapRect one = boundingMapRect({ { 7, 9 } });
    EXPECT_EQ(one.x, 7);
    EXPECT_EQ(one.y, 9);
    EXPECT_EQ(one.width, 0);
    EXPECT_EQ(one.height, 0);
    const MapRect several = boundingMapRect({ { 7, 9 }, { -3, 20 }, { 4, 1 } });
    EXPECT_EQ(several.x, -3);
    EXPECT_EQ(several.y, 1);
    EXPECT_EQ(several.width, 10);
    EXPECT_EQ(several.height, 19);
}

} // namespace
} // namespace corvex
