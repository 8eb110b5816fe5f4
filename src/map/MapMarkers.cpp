#include "map/MapMarkers.h"

namespace corvex {

std::optional<std::size_t> markerAt(const std::vector<MapMarker>& markers, const MapViewport& viewport, PixelPoint pixel,
    double radiusPixels)
{
    if (!viewport.isValid())
        return std::nullopt;
    std::optional<std::size_t> nearest;
    double nearestSquared = radiusPixels * radiusPixels;
    for (std::size_t index = 0; index < markers.size(); ++index) {
        const PixelPoint place = viewport.pixelFor(markers[index].position);
        const double dx = place.x - pixel.x;
        const double dy = place.y - pixel.y;
        const double squared = dx * dx + dy * dy;
        // "<=": a later marker on the same place wins, as it is the one drawn on top.
        if (squared <= nearestSquared) {
            nearest = index;
            nearestSquared = squared;
        }
    }
    return nearest;
}

} // namespace corvex
