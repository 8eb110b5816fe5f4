#include "map/MapTrack.h"

#include "base/ClimbSteps.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace corvex {

namespace {

// The ramps' anchor colours, spread evenly over the buckets and mixed in between.
constexpr std::array<MapColor, 4> altitudeAnchors { {
    { 0.16, 0.32, 0.90, 1 }, // low: blue
    { 0.10, 0.68, 0.35, 1 }, // green
    { 0.96, 0.78, 0.12, 1 }, // yellow
    { 0.84, 0.10, 0.10, 1 }, // high: red
} };

template<std::size_t N>
MapColor rampColor(const std::array<MapColor, N>& anchors, double fraction)
{
    const double position = std::clamp(fraction, 0.0, 1.0) * (N - 1);
    const std::size_t below = std::min(static_cast<std::size_t>(position), N - 2);
    const double mix = position - static_cast<double>(below);
    const MapColor& a = anchors[below];
    const MapColor& b = anchors[below + 1];
    return { a.red + (b.red - a.red) * mix, a.green + (b.green - a.green) * mix, a.blue + (b.blue - a.blue) * mix, 1.0 };
}

} // namespace

TrackColorScale::TrackColorScale(TrackColoring coloring, const TrackPoints& points)
    : m_coloring(coloring)
{
    // A fix without a usable altitude (a recorder's gap, a failed sensor) must not
    // stretch or void the ramp of the others.
    bool any = false;
    for (const TrackPoint& point : points) {
        if (!std::isfinite(point.altitude))
            continue;
        m_lowest = any ? std::min(m_lowest, point.altitude) : point.altitude;
        m_highest = any ? std::max(m_highest, point.altitude) : point.altitude;
        any = true;
    }
}

std::uint8_t TrackColorScale::bucketOf(const TrackPoint& point) const
{
    if (m_coloring == TrackColoring::Climb)
        return static_cast<std::uint8_t>(climbStepOf(point.vario));
    const double span = m_highest - m_lowest;
    if (!(span > 0) || !std::isfinite(point.altitude))
        return 0;
    const double fraction = std::clamp((point.altitude - m_lowest) / span, 0.0, 1.0);
    return static_cast<std::uint8_t>(std::min<double>(fraction * altitudeBuckets, altitudeBuckets - 1));
}

MapColor TrackColorScale::colorOfBucket(std::size_t bucket) const
{
    const std::size_t last = bucketCount() - 1;
    const double fraction = static_cast<double>(std::min(bucket, last)) / static_cast<double>(last);
    if (m_coloring == TrackColoring::Climb) {
        const ClimbStepColour colour = climbStepColour(bucket);
        return { colour.red, colour.green, colour.blue, 1.0 };
    }
    return rampColor(altitudeAnchors, fraction);
}

double TrackColorScale::valueOfBucket(std::size_t bucket) const
{
    const std::size_t last = bucketCount() - 1;
    const double index = static_cast<double>(std::min(bucket, last));
    if (m_coloring == TrackColoring::Climb)
        return climbOfStep(bucket);
    return m_lowest + (index + 0.5) * (m_highest - m_lowest) / altitudeBuckets;
}

std::vector<MapPoint> trackMapPoints(const TrackPoints& track)
{
    std::vector<MapPoint> points;
    points.reserve(track.size());
    for (const TrackPoint& point : track)
        points.push_back(mapPointForCoordinate(point.position));
    unwrapMapPoints(points);
    return points;
}

ThinnedTrack thinTrack(const std::vector<MapPoint>& points, double scaleX, double scaleY, double minimumPixels)
{
    ThinnedTrack thinned;
    const auto finite = [](const MapPoint& point) { return std::isfinite(point.x) && std::isfinite(point.y); };
    // A point without a place (not a number) is passed over; the last one that has a
    // place ends the line.
    std::size_t end = points.size();
    while (end > 0 && !finite(points[end - 1]))
        --end;
    const double minimumSquared = minimumPixels * minimumPixels;
    const auto keep = [&](std::size_t index, PixelPoint pixel) {
        thinned.indices.push_back(static_cast<std::uint32_t>(index));
        thinned.pixels.push_back(pixel);
    };
    for (std::size_t index = 0; index < end; ++index) {
        if (!finite(points[index]))
            continue;
        const PixelPoint pixel { points[index].x * scaleX, points[index].y * scaleY };
        if (thinned.pixels.empty()) {
            keep(index, pixel);
            continue;
        }
        const PixelPoint& last = thinned.pixels.back();
        const double dx = pixel.x - last.x;
        const double dy = pixel.y - last.y;
        if (dx * dx + dy * dy >= minimumSquared) {
            keep(index, pixel);
        } else if (index + 1 == end) {
            // The last point replaces the one kept before it when they share a pixel, so
            // that the line ends on the landing, not up to a pixel short of it; a track
            // within one pixel keeps both ends.
            if (thinned.indices.size() > 1) {
                thinned.indices.back() = static_cast<std::uint32_t>(index);
                thinned.pixels.back() = pixel;
            } else {
                keep(index, pixel);
            }
        }
    }
    return thinned;
}

std::optional<std::size_t> stretchNearMapPoint(const std::vector<MapPoint>& points,
    const std::vector<TrackStretch>& stretches, MapPoint point, double tolerance)
{
    const auto distanceToSegment = [&](const MapPoint& from, const MapPoint& to) {
        const double dx = to.x - from.x, dy = to.y - from.y;
        const double lengthSquared = dx * dx + dy * dy;
        const double along
            = lengthSquared > 0 ? std::clamp(((point.x - from.x) * dx + (point.y - from.y) * dy) / lengthSquared, 0.0, 1.0) : 0.0;
        return std::hypot(point.x - (from.x + along * dx), point.y - (from.y + along * dy));
    };
    std::optional<std::size_t> nearest;
    double nearestDistance = tolerance;
    for (std::size_t i = 0; i < stretches.size(); ++i) {
        if (points.empty() || stretches[i].first >= points.size())
            continue;
        const std::size_t last = std::min(stretches[i].last, points.size() - 1);
        for (std::size_t j = stretches[i].first; j <= last; ++j) {
            const double distance = distanceToSegment(points[j], points[j == last ? j : j + 1]);
            if (distance <= nearestDistance) {
                nearestDistance = distance;
                nearest = i;
            }
        }
    }
    return nearest;
}

} // namespace corvex
