#include "map/MapGeometry.h"

#include "geo/WebMercator.h"

#include <algorithm>
#include <cmath>

namespace corvex {

MapPoint mapPointForCoordinate(GeoPoint coordinate)
{
    const geo::MercatorPoint unit = geo::webMercator(coordinate);
    return { unit.x * mapWorldSize, unit.y * mapWorldSize };
}

GeoPoint coordinateForMapPoint(MapPoint point)
{
    return geo::fromWebMercator({ point.x / mapWorldSize, point.y / mapWorldSize });
}

void unwrapMapPoints(std::vector<MapPoint>& points)
{
    // A point without a place (a track's gap) is passed over: the step is measured from
    // the last point that has one.
    double shift = 0;
    std::optional<double> previous;
    for (MapPoint& point : points) {
        if (!std::isfinite(point.x))
            continue;
        point.x += shift;
        if (previous) {
            // One step moves by at most half a world round the shorter way: a longer one
            // crossed ±180°.
            const double wholeWorlds = std::round((point.x - *previous) / mapWorldSize);
            point.x -= wholeWorlds * mapWorldSize;
            shift -= wholeWorlds * mapWorldSize;
        }
        previous = point.x;
    }
}

MapRect MapRect::united(const MapRect& other) const
{
    if (isNull())
        return other;
    if (other.isNull())
        return *this;
    const double left = std::min(x, other.x);
    const double top = std::min(y, other.y);
    const double right = std::max(x + width, other.x + other.width);
    const double bottom = std::max(y + height, other.y + other.height);
    return { left, top, right - left, bottom - top };
}

MapRect MapRect::unitedAcrossWorld(const MapRect& other) const
{
    if (isNull() || other.isNull())
        return united(other);
    // The copy of other whose centre lies nearest this one's, or a neighbour of it when
    // that makes a narrower union (a wide rectangle beside a small one).
    const double nearest = std::round(((x + width / 2) - (other.x + other.width / 2)) / mapWorldSize);
    MapRect best = united(other);
    for (const double shift : { nearest - 1, nearest, nearest + 1 }) {
        if (shift == 0)
            continue;
        const MapRect candidate = united({ other.x + shift * mapWorldSize, other.y, other.width, other.height });
        if (candidate.width < best.width)
            best = candidate;
    }
    return best;
}

bool MapRect::intersects(const MapRect& other) const
{
    if (isNull() || other.isNull())
        return false;
    // Closed on every side: a vertical line (zero width) still meets the view it crosses.
    return x <= other.x + other.width && other.x <= x + width && y <= other.y + other.height
        && other.y <= y + height;
}

MapOverlay::MapOverlay(Kind kind, std::vector<GeoPoint> coordinates)
    : m_kind(kind)
    , m_coordinates(std::move(coordinates))
{
    m_points.reserve(m_coordinates.size());
    if (m_coordinates.empty())
        return;
    double left = std::numeric_limits<double>::infinity();
    double top = left;
    double right = -left;
    double bottom = -left;
    for (const GeoPoint& coordinate : m_coordinates)
        m_points.push_back(mapPointForCoordinate(coordinate));
    unwrapMapPoints(m_points);
    for (const MapPoint& point : m_points) {
        left = std::min(left, point.x);
        right = std::max(right, point.x);
        top = std::min(top, point.y);
        bottom = std::max(bottom, point.y);
    }
    m_boundingMapRect = { left, top, right - left, bottom - top };
}

} // namespace corvex
