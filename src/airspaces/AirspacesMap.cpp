#include "airspaces/AirspacesMap.h"

#include <cmath>

namespace corvex {

namespace {

// The constants the instrument's sets were made with: truncated, not 2π and π, so that
// a point converts to the same last binary digits as it always has.
constexpr double truncatedTwoPi = 6.2831853;
constexpr double truncatedPi = 3.14159265;
constexpr double unitsPerWorld = 16777216.0; // 2^24
constexpr double worldFraction = 1.0 / unitsPerWorld;

constexpr MapColor opaqueRed { 1.0, 0.0, 0.0, 1.0 };
constexpr MapColor translucentRed { 1.0, 0.0, 0.0, 0.2 };
constexpr MapColor outlineBlue { 0.2, 0.2, 1.0, 1.0 };

MapColor colorOfHash(std::uint32_t h)
{
    return { static_cast<double>(h & 255u) / 255.0, static_cast<double>((h >> 8) & 255u) / 255.0,
        static_cast<double>((h >> 16) & 255u) / 255.0, 1.0 };
}

} // namespace

GeoPoint inverseMercator(std::int32_t x, std::int32_t y)
{
    // Evaluated left to right as written, so the rounding matches the sets' own maths.
    const double longitude = (x * worldFraction - 0.5) * truncatedTwoPi * 180.0 / truncatedPi;
    const double latitude = std::asin(std::tanh((0.5 - y * worldFraction) * truncatedTwoPi)) * 180.0 / truncatedPi;
    return { latitude, longitude };
}

std::uint32_t hash(std::uint32_t value)
{
    std::uint32_t h = value;
    h ^= h >> 16;
    h *= 0x45d9f3bu;
    h ^= h >> 16;
    h *= 0x45d9f3bu;
    h ^= h >> 16;
    return h;
}

MapOverlays generateMapkitPolylines(const Airspaces& airspaces, int displayAirspacesAs)
{
    MapOverlays overlays;
    overlays.reserve(airspaces.globalPolylines().size());
    for (const GlobalPolyline& polyline : airspaces.globalPolylines()) {
        std::vector<GeoPoint> coordinates;
        coordinates.reserve(polyline.points.size());
        for (const Point2d& point : polyline.points)
            coordinates.push_back(inverseMercator(point.x, point.y));
        // A polyline without points still takes its place, so the colours of the ones
        // after it, which follow the index, stay where they were.
        const auto kind = polyline.closed && displayAirspacesAs == 2 ? MapOverlay::Kind::Polygon : MapOverlay::Kind::Polyline;
        overlays.push_back(std::make_shared<const MapOverlay>(kind, std::move(coordinates)));
    }
    return overlays;
}

MapColor getColorForPolylineWithIndex(std::size_t)
{
    return opaqueRed;
}

MapOverlayStyle airspacesOverlayStyle(const MapOverlay& overlay, std::size_t index, int displayAirspacesAs)
{
    MapOverlayStyle style;
    if (overlay.kind() == MapOverlay::Kind::Polygon) {
        style.strokeColor = opaqueRed;
        style.fillColor = translucentRed;
        style.lineWidth = 1.5;
        return style;
    }
    switch (displayAirspacesAs) {
    case 0:
        // The index wraps at 2^32 as the hash's input does.
        style.strokeColor = colorOfHash(hash(static_cast<std::uint32_t>(index)));
        style.lineWidth = 1.0;
        break;
    case 1:
        style.strokeColor = outlineBlue;
        style.lineWidth = 1.5;
        break;
    case 2:
        style.strokeColor = getColorForPolylineWithIndex(index);
        style.lineWidth = 1.5;
        break;
    default:
        break;
    }
    return style;
}

MapRect fittingMapRect(const MapOverlays& overlays)
{
    const MapRect nullRect = MapRect::null();
    MapRect fitted = nullRect;
    for (const auto& overlay : overlays) {
        const MapRect& bounds = overlay->boundingMapRect();
        // Until a rectangle with a real origin came along, take each one as it is: a
        // leading overlay without points gives the null rectangle and is passed over.
        if (fitted.originEquals(nullRect))
            fitted = bounds;
        else
            fitted = fitted.unitedAcrossWorld(bounds);
    }
    return fitted;
}

} // namespace corvex
