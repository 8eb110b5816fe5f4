#pragma once

#include "map/MapGeometry.h"

#include <cstddef>
#include <functional>
#include <optional>

namespace corvex {

// Which overlay a point of the map designates: the answer to a hover or a click.
//
// An outline whose edge passes within tolerance (map units: a few pixels at the
// view's scale) of the point is pointed at, the nearest such edge first. Otherwise
// the areas around the point count, and the smallest wins: an airspace nested inside
// another is reachable only there. Ties go to the overlay drawn last, the topmost.
//
// isArea says whether the overlay at an index encloses an area (its last point joins
// its first); without it, polygons do and polylines do not.
std::optional<std::size_t> overlayAtMapPoint(const MapOverlays& overlays, MapPoint point, double tolerance,
    const std::function<bool(std::size_t index)>& isArea = {});

} // namespace corvex
