#include "map/MapHitTest.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvex {

namespace {

double distanceToSegment(MapPoint point, MapPoint from, MapPoint to)
{
    const double dx = to.x - from.x;
    const double dy = to.y - from.y;
    const double lengthSquared = dx * dx + dy * dy;
    double along = 0;
    if (lengthSquared > 0)
        along = std::clamp(((point.x - from.x) * dx + (point.y - from.y) * dy) / lengthSquared, 0.0, 1.0);
    return std::hypot(point.x - (from.x + along * dx), point.y - (from.y + along * dy));
}

double ringArea(const std::vector<MapPoint>& points)
{
    double twice = 0;
    for (std::size_t i = 0, j = points.size() - 1; i < points.size(); j = i++)
        twice += (points[j].x + points[i].x) * (points[j].y - points[i].y);
    return std::abs(twice) / 2;
}

bool rectContains(const MapRect& rect, MapPoint point, double margin)
{
    return !rect.isNull() && point.x >= rect.x - margin && point.x <= rect.x + rect.width + margin
        && point.y >= rect.y - margin && point.y <= rect.y + rect.height + margin;
}

// Whether the closed ring through points contains point (even-odd rule).
bool ringContains(const std::vector<MapPoint>& points, MapPoint point)
{
    if (points.size() < 3)
        return false;
    bool inside = false;
    for (std::size_t i = 0, j = points.size() - 1; i < points.size(); j = i++) {
        const MapPoint& a = points[i];
        const MapPoint& b = points[j];
        if ((a.y > point.y) != (b.y > point.y) && point.x < (b.x - a.x) * (point.y - a.y) / (b.y - a.y) + a.x)
            inside = !inside;
    }
    return inside;
}

// The distance from point to the nearest segment of the line (closed: the ring).
double distanceToOutline(const std::vector<MapPoint>& points, MapPoint point, bool closed)
{
    if (points.empty())
        return std::numeric_limits<double>::infinity();
    if (points.size() == 1)
        return std::hypot(point.x - points[0].x, point.y - points[0].y);
    double nearest = std::numeric_limits<double>::infinity();
    for (std::size_t i = 1; i < points.size(); ++i)
        nearest = std::min(nearest, distanceToSegment(point, points[i - 1], points[i]));
    if (closed)
        nearest = std::min(nearest, distanceToSegment(point, points.back(), points.front()));
    return nearest;
}

} // namespace

std::optional<std::size_t> overlayAtMapPoint(const MapOverlays& overlays, MapPoint point, double tolerance,
    const std::function<bool(std::size_t index)>& isArea)
{
    std::optional<std::size_t> nearestEdge;
    double nearestDistance = std::numeric_limits<double>::infinity();
    std::optional<std::size_t> smallestArea;
    double smallestSize = std::numeric_limits<double>::infinity();
    for (std::size_t index = 0; index < overlays.size(); ++index) {
        const MapOverlay* overlay = overlays[index].get();
        if (!overlay || !rectContains(overlay->boundingMapRect(), point, tolerance))
            continue;
        const std::vector<MapPoint>& points = overlay->points();
        const bool area = isArea ? isArea(index) : overlay->kind() == MapOverlay::Kind::Polygon;
        // <= : of equals, the later overlay, drawn on top, wins.
        const double distance = distanceToOutline(points, point, area);
        if (distance <= tolerance && distance <= nearestDistance) {
            nearestDistance = distance;
            nearestEdge = index;
        }
        if (!nearestEdge && area && ringContains(points, point)) {
            const double size = ringArea(points);
            if (size <= smallestSize) {
                smallestSize = size;
                smallestArea = index;
            }
        }
    }
    return nearestEdge ? nearestEdge : smallestArea;
}

} // namespace corvex
