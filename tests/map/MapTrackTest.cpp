#include "map/MapTrack.h"
#include "map/Replay.h"

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

namespace corvex {
namespace {

// Fixes a second apart going east along the equator at 1/1000° (111 m) a second, then
// a 60 s gap, then north; the last two fixes repeated in one place.
TrackPoints replayTrack()
{
    TrackPoints track;
    track.push_back({ { 0, 0 }, 1000, 100, 1 });
    track.push_back({ { 0, 0.001 }, 1002, 101, 2 });
    track.push_back({ { 0, 0.002 }, 1004, 102, 2 });
    track.push_back({ { 0.06, 0.002 }, 1064, 162, 1 }); // after the gap, 60 s later
    track.push_back({ { 0.061, 0.002 }, 1065, 163, 1 });
    track.push_back({ { 0.061, 0.002 }, 1065, 164, 0 });
    return track;
}

TEST(Replay, GliderBetweenFixesBeforeAndAfterTheTrackAndAcrossAGap)
{
    const TrackPoints track = replayTrack();
    const double metresPerThousandth = 0.001 * geo::pi / 180 * geo::meanEarthRadiusMetres;
    struct Case {
        double time;
        bool flying;
        double latitude, longitude, altitude, heading, vario, speedKmh;
        std::size_t fix;
    };
    const Case cases[] = {
        { 99.9, false, 0, 0, 0, 0, 0, 0, 0 },
        { 100, true, 0, 0, 1000, 90, 1, metresPerThousandth * 3.6, 0 },
        { 100.5, true, 0, 0.0005, 1001, 90, 1.5, metresPerThousandth * 3.6, 0 },
        { 101.25, true, 0, 0.00125, 1002.5, 90, 2, metresPerThousandth * 3.6, 1 },
        // In the gap: halfway along the chord north, slow over the minute.
        { 132, true, 0.03, 0.002, 1034, 0, 1.5, 60 * metresPerThousandth / 60 * 3.6, 2 },
        { 162.5, true, 0.0605, 0.002, 1064.5, 0, 1, metresPerThousandth * 3.6, 3 },
        // Between two fixes in one place: the last chord that moved gives the heading.
        { 163.5, true, 0.061, 0.002, 1065, 0, 0.5, metresPerThousandth / 2 * 3.6, 4 },
        { 164, true, 0.061, 0.002, 1065, 0, 0, metresPerThousandth / 2 * 3.6, 5 },
        { 164.1, false, 0, 0, 0, 0, 0, 0, 0 },
        { std::numeric_limits<double>::quiet_NaN(), false, 0, 0, 0, 0, 0, 0, 0 },
    };
    for (const Case& c : cases) {
        const std::optional<GliderState> state = gliderStateAt(track, c.time);
        ASSERT_EQ(state.has_value(), c.flying) << c.time;
        if (!state)
            continue;
        EXPECT_NEAR(state->position.latitude, c.latitude, 1e-9) << c.time;
        EXPECT_NEAR(state->position.longitude, c.longitude, 1e-9) << c.time;
        EXPECT_NEAR(state->altitude, c.altitude, 1e-9) << c.time;
        EXPECT_NEAR(state->headingDegrees, c.heading, 1e-6) << c.time;
        EXPECT_NEAR(state->varioMs, c.vario, 1e-9) << c.time;
        EXPECT_NEAR(state->groundSpeedKmh, c.speedKmh, c.speedKmh * 1e-3) << c.time;
        EXPECT_EQ(state->fixIndex, c.fix) << c.time;
    }
    EXPECT_FALSE(gliderStateAt({}, 0));
    // A glider that never moved heads north at no speed.
    const TrackPoints parked { { { 45, 6 }, 500, 0, 0 }, { { 45, 6 }, 500, 10, 0 } };
    const auto still = gliderStateAt(parked, 5);
    ASSERT_TRUE(still);
    EXPECT_EQ(still->headingDegrees, 0);
    EXPECT_EQ(still->groundSpeedKmh, 0);
}

TEST(Replay, HeadingAcrossNorthAndTheDateLine)
{
    // Each chord's heading stays within 0..360: a turn through north wraps, a step over
    // ±180° is the short way east or west.
    struct Case {
        GeoPoint from, to;
        double heading;
        double longitudeMidway;
    };
    const Case cases[] = {
        { { 0, 0 }, { 0.001, -0.00001 }, 359.427, -0.000005 },
        { { 0, 0 }, { 0.001, 0.00001 }, 0.573, 0.000005 },
        { { 0, 0 }, { -0.001, 0 }, 180, 0 },
        { { 0, 0 }, { 0, -0.001 }, 270, -0.0005 },
        { { 10, 179.9995 }, { 10, -179.9995 }, 90, 180 },
        { { 10, -179.9995 }, { 10, 179.9995 }, 270, -180 },
    };
    for (const Case& c : cases) {
        const TrackPoints track { { c.from, 0, 0, 0 }, { c.to, 0, 2, 0 } };
        const auto state = gliderStateAt(track, 1);
        ASSERT_TRUE(state);
        EXPECT_NEAR(state->headingDegrees, c.heading, 1e-3) << c.to.latitude << " " << c.to.longitude;
        EXPECT_GE(state->headingDegrees, 0);
        EXPECT_LT(state->headingDegrees, 360);
        EXPECT_NEAR(std::abs(state->position.longitude), std::abs(c.longitudeMidway), 1e-9);
        EXPECT_LT(state->groundSpeedKmh, 250) << "the short way round";
    }
}

TEST(Replay, ClockSpeedEndSeekAndSpan)
{
    ReplayClock clock;
    clock.setSpan(1000, 2000);
    EXPECT_EQ(clock.time(), 1000);
    EXPECT_EQ(clock.advance(1), 1000) << "paused: time stands";
    clock.play();
    EXPECT_EQ(clock.advance(2), 1002);
    struct Step {
        double speed, wall, expected;
        bool playing;
    };
    const Step steps[] = {
        { 50, 0.03, 1003.5, true },
        { 200, 1, 1203.5, true },
        { 500, 1, 1403.5, true }, // clamped to ×200
        { 0.1, 1, 1404.5, true }, // clamped to ×1
        { 1, -5, 1404.5, true },  // no going back
        { 200, 10, 2000, false }, // the end pauses
        { 200, 1, 2000, false },
    };
    for (const Step& step : steps) {
        clock.setSpeed(step.speed);
        EXPECT_EQ(clock.advance(step.wall), step.expected) << step.speed << " " << step.wall;
        EXPECT_EQ(clock.isPlaying(), step.playing) << step.speed << " " << step.wall;
    }
    EXPECT_EQ(clock.speed(), 200);
    // Playing again from the end starts over.
    clock.play();
    EXPECT_TRUE(clock.isPlaying());
    EXPECT_EQ(clock.time(), 1000);
    // Seeks stay within the span; a narrower span pulls the time in.
    for (const auto& [to, expected] : { std::pair { 500.0, 1000.0 }, { 2500.0, 2000.0 }, { 1500.0, 1500.0 } }) {
        clock.seek(to);
        EXPECT_EQ(clock.time(), expected) << to;
    }
    clock.seek(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(clock.time(), 1500);
    clock.setSpan(1000, 1200);
    EXPECT_EQ(clock.time(), 1200);
    EXPECT_FALSE(clock.isPlaying());
    // An empty span never plays.
    ReplayClock empty;
    empty.play();
    EXPECT_FALSE(empty.isPlaying());
}

TEST(Replay, NextAndPreviousMomentAndFollowing)
{
    const std::vector<std::int64_t> starts { 100, 200, 200, 350 };
    struct Case {
        double t;
        std::optional<double> next, previous;
    };
    const Case cases[] = {
        { 0, 100, std::nullopt },
        { 100, 200, std::nullopt },  // on a moment: the one after it
        { 100.3, 200, std::nullopt }, // within half a second counts as on it
        { 150, 200, 100 },
        { 200, 350, 100 },
        { 349.8, std::nullopt, 200 },
        { 400, std::nullopt, 350 },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nextMoment(starts, c.t), c.next) << c.t;
        EXPECT_EQ(previousMoment(starts, c.t), c.previous) << c.t;
    }
    EXPECT_FALSE(nextMoment({}, 0));
    EXPECT_FALSE(previousMoment({}, 0));

    // The view re-centres only when the point leaves its middle half.
    const MapRect view { 1000, 2000, 400, 200 };
    struct Follow {
        MapPoint point;
        bool recentre;
    };
    const Follow follows[] = {
        { { 1200, 2100 }, false },
        { { 1100, 2050 }, false },
        { { 1300, 2150 }, false },
        { { 1099, 2100 }, true },
        { { 1200, 2151 }, true },
        { { 5000, 9000 }, true },
    };
    for (const Follow& follow : follows) {
        const auto centre = followingCentre(view, follow.point);
        EXPECT_EQ(centre.has_value(), follow.recentre) << follow.point.x << "," << follow.point.y;
        if (centre) {
            EXPECT_EQ(centre->x, follow.point.x);
            EXPECT_EQ(centre->y, follow.point.y);
        }
    }
}

} // namespace
} // namespace corvex
