#pragma once

#include "airspaces/Airspaces.h"
#include "map/MapGeometry.h"

#include <cstddef>
#include <cstdint>

namespace corvex {

// How an airspaces set is drawn on a map, with no drawing toolkit: the window and
// `corvex airspaces render` share it.

// A point of the set's Mercator plane (2^24 units around the world) in degrees.
GeoPoint inverseMercator(std::int32_t x, std::int32_t y);

// The integer hash that spreads overlay indices over colours.
std::uint32_t hash(std::uint32_t value);

// One overlay per polyline of the set, in the set's order; closed rings become polygons
// when displayAirspacesAs is 2.
MapOverlays generateMapkitPolylines(const Airspaces& airspaces, int displayAirspacesAs);

// The set's colour for an overlay: opaque pure red for every index.
MapColor getColorForPolylineWithIndex(std::size_t index);

// The style of the overlay at index in the map's overlay list, for displayAirspacesAs.
MapOverlayStyle airspacesOverlayStyle(const MapOverlay& overlay, std::size_t index, int displayAirspacesAs);

// The union of the overlays' bounding rectangles, starting from the null rectangle; a set
// on both sides of ±180° gives one rectangle across the world's edge.
MapRect fittingMapRect(const MapOverlays& overlays);

} // namespace corvex
