#pragma once

#include "analysis/AirspaceCheck.h"

#include <cstddef>
#include <optional>
#include <vector>

// Which airspaces to show around a flight: those whose outline meets the box of its
// track grown by a margin, so that a map of the flight shows what it flew under,
// beside and through, and not the whole country of the file.
namespace corvex::analysis {

// The box of the valid fixes (degrees); nothing when there is none.
std::optional<AirspaceIndex::Box> trackBox(const flights::IgcFlight& flight);

// The box grown by a distance on every side (north and south by degrees of latitude,
// east and west by those of longitude at the box's parallel farthest from the equator).
AirspaceIndex::Box grownBox(const AirspaceIndex::Box& box, double marginMetres);

// Whether a closed outline meets a box: an edge crosses it, a point lies in it or it
// lies whole inside the outline. An open line of fewer than three points never does.
bool outlineMeetsBox(const std::vector<GeoPoint>& outline, const AirspaceIndex::Box& box);

// The airspaces whose outline meets the flight's box grown by marginMetres, in the
// index's order.
std::vector<std::size_t> airspacesNearTrack(const flights::IgcFlight& flight, const AirspaceIndex& index, double marginMetres);

} // namespace corvex::analysis
