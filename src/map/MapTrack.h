#pragma once

#include "base/ClimbSteps.h"
#include "map/MapGeometry.h"
#include "map/MapProjection.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvex {

// One fix of a flight track as the map draws it.
struct TrackPoint {
    GeoPoint position;
    // Metres above sea level.
    double altitude { 0 };
    // Seconds on any one clock; they grow along the track.
    std::int64_t time { 0 };
    // Climb rate, metres per second.
    double vario { 0 };
};

using TrackPoints = std::vector<TrackPoint>;

enum class TrackColoring { Altitude, Climb };

// The colour ramp a track is drawn with. Points fall into a few buckets of one colour
// each, so that the painter draws each run of points in the same bucket as one polyline.
// By altitude, the track's own lowest to highest point spread over the buckets; by
// climb, fixed steps of one metre per second from climbLimit of sink to climbLimit of
// climb, so that a colour means the same climb in every flight, zero in the middle.
class TrackColorScale {
public:
    static constexpr std::size_t altitudeBuckets = 16;
    static constexpr double climbLimit = climbStepLimit;
    static constexpr std::size_t climbBuckets = climbStepCount;

    TrackColorScale() = default;
    TrackColorScale(TrackColoring coloring, const TrackPoints& points);

    TrackColoring coloring() const { return m_coloring; }
    std::size_t bucketCount() const { return m_coloring == TrackColoring::Altitude ? altitudeBuckets : climbBuckets; }
    std::uint8_t bucketOf(const TrackPoint& point) const;
    MapColor colorOfBucket(std::size_t bucket) const;
    // What a bucket stands for, for a legend: by altitude the height (metres) at its
    // middle, by climb its metres per second.
    double valueOfBucket(std::size_t bucket) const;
    // The altitudes the ramp spans (both zero for an empty track).
    double lowestAltitude() const { return m_lowest; }
    double highestAltitude() const { return m_highest; }

private:
    TrackColoring m_coloring { TrackColoring::Altitude };
    double m_lowest { 0 };
    double m_highest { 0 };
};

// The fixes in the Web Mercator plane, in the track's order, as one piece: a flight over
// ±180° continues beyond the world's edge instead of jumping back across the map.
std::vector<MapPoint> trackMapPoints(const TrackPoints& track);

// A track's points at one scale, for drawing: the indices kept and their positions in
// pixels of the whole plane (map point × scale; subtract the view's origin × scale to
// place them in a painting area).
struct ThinnedTrack {
    std::vector<std::uint32_t> indices;
    std::vector<PixelPoint> pixels;
};

// Drops the points closer than minimumPixels to the last one kept: at a small scale most
// fixes of a long flight fall within one pixel of each other. The first and the last
// point are always kept, so that the line starts and ends where the flight did.
ThinnedTrack thinTrack(const std::vector<MapPoint>& points, double scaleX, double scaleY, double minimumPixels = 1.0);

// A stretch of a track (first and last index, inclusive), such as a thermal.
struct TrackStretch {
    std::size_t first { 0 };
    std::size_t last { 0 };
};

// The stretch whose line passes nearest to point and within tolerance (map units: a
// few pixels at the view's scale), as an index into stretches; of stretches equally
// near, the last. points are the track's (trackMapPoints); an index past them is cut.
std::optional<std::size_t> stretchNearMapPoint(const std::vector<MapPoint>& points,
    const std::vector<TrackStretch>& stretches, MapPoint point, double tolerance);

} // namespace corvex
