#include "map/MapProjection.h"

#include "geo/WebMercator.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvex {

MapViewport::MapViewport(double width, double height, const MapRect& visible)
    : m_width(width)
    , m_height(height)
    , m_visible(visible)
{
}

bool MapViewport::isValid() const
{
    return m_width > 0 && m_height > 0 && !m_visible.isNull() && m_visible.width > 0 && m_visible.height > 0;
}

PixelPoint MapViewport::pixelFor(MapPoint point) const
{
    return { (point.x - m_visible.x) * scaleX(), (point.y - m_visible.y) * scaleY() };
}

MapPoint MapViewport::mapPointAt(PixelPoint pixel) const
{
    return { m_visible.x + pixel.x / scaleX(), m_visible.y + pixel.y / scaleY() };
}

MapRect MapViewport::mapRectWithMargin(double marginPixels) const
{
    const double marginX = marginPixels / scaleX();
    const double marginY = marginPixels / scaleY();
    return { m_visible.x - marginX, m_visible.y - marginY, m_visible.width + 2 * marginX, m_visible.height + 2 * marginY };
}

double MapViewport::metresPerPixel() const
{
    const double centreLatitude = coordinateForMapPoint({ 0, m_visible.y + m_visible.height / 2 }).latitude;
    return m_visible.width / mapWorldSize * geo::webMercatorEquatorMetres * std::cos(geo::radians(centreLatitude))
        / m_width;
}

std::vector<int> worldCopiesMeeting(const MapRect& content, const MapRect& visible)
{
    std::vector<int> copies;
    if (visible.isNull() || !std::isfinite(visible.width))
        return copies;
    const MapRect world = content.isNull() ? MapRect { 0, 0, mapWorldSize, mapWorldSize } : content;
    if (!(world.y <= visible.y + visible.height && visible.y <= world.y + world.height))
        return copies;
    // Closed on both sides, as MapRect::intersects is.
    const double first = std::ceil((visible.x - (world.x + world.width)) / mapWorldSize);
    const double last = std::floor((visible.x + visible.width - world.x) / mapWorldSize);
    if (!(first <= last))
        return copies;
    const double low = last - first < maximumWorldCopies
        ? first
        : std::clamp(-static_cast<double>(maximumWorldCopies / 2), first, last - (maximumWorldCopies - 1));
    const double high = std::min(last, low + (maximumWorldCopies - 1));
    for (double k = low; k <= high; ++k)
        copies.push_back(static_cast<int>(k));
    return copies;
}

MapRect shiftedByWorlds(const MapRect& rect, int worlds)
{
    if (rect.isNull())
        return rect;
    return { rect.x + worlds * mapWorldSize, rect.y, rect.width, rect.height };
}

MapRect boundingMapRect(const std::vector<MapPoint>& points)
{
    if (points.empty())
        return MapRect::null();
    double left = std::numeric_limits<double>::infinity();
    double top = left;
    double right = -left;
    double bottom = -left;
    for (const MapPoint& point : points) {
        left = std::min(left, point.x);
        right = std::max(right, point.x);
        top = std::min(top, point.y);
        bottom = std::max(bottom, point.y);
    }
    return { left, top, right - left, bottom - top };
}

double unitsPerPixelFitting(const MapRect& bounds, double width, double height, double marginPixels,
    double minimumUnitsPerPixel, double maximumUnitsPerPixel)
{
    width = std::max(1.0, width);
    height = std::max(1.0, height);
    const double innerWidth = width - 2 * marginPixels >= 1 ? width - 2 * marginPixels : width;
    const double innerHeight = height - 2 * marginPixels >= 1 ? height - 2 * marginPixels : height;
    const double boundsWidth = bounds.isNull() ? 0 : bounds.width;
    const double boundsHeight = bounds.isNull() ? 0 : bounds.height;
    return std::clamp(std::max(boundsWidth / innerWidth, boundsHeight / innerHeight), minimumUnitsPerPixel,
        maximumUnitsPerPixel);
}

MapRect mapRectFitting(const MapRect& bounds, double width, double height, double marginPixels,
    double minimumUnitsPerPixel, double maximumUnitsPerPixel)
{
    if (bounds.isNull())
        return MapRect::null();
    const double unitsPerPixel
        = unitsPerPixelFitting(bounds, width, height, marginPixels, minimumUnitsPerPixel, maximumUnitsPerPixel);
    width = std::max(1.0, width);
    height = std::max(1.0, height);
    const double centreX = bounds.x + bounds.width / 2;
    const double centreY = bounds.y + bounds.height / 2;
    return { centreX - width * unitsPerPixel / 2, centreY - height * unitsPerPixel / 2, width * unitsPerPixel,
        height * unitsPerPixel };
}

} // namespace corvex
