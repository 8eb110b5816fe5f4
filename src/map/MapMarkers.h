#pragma once

#include "map/MapGeometry.h"
#include "map/MapProjection.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace corvex {

// A symbol at one place of the map: a flight's take-off and landing, the cursor that
// follows the flight's time, or a labelled point such as a turnpoint.
struct MapMarker {
    enum class Kind { TakeOff, Landing, Cursor, Point };
    Kind kind { Kind::Point };
    GeoPoint position;
    std::string label;
    bool operator==(const MapMarker& other) const
    {
        return kind == other.kind && position.latitude == other.position.latitude
            && position.longitude == other.position.longitude && label == other.label;
    }
};

// The marker whose place is nearest to pixel and within radiusPixels of it, as an index
// into markers; of markers on the same place, the last (drawn on top). None when no
// marker is that close.
std::optional<std::size_t> markerAt(const std::vector<MapMarker>& markers, const MapViewport& viewport, PixelPoint pixel,
    double radiusPixels);

} // namespace corvex
