#pragma once

#include "flights/IgcFlight.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// The contest score of a flight: the best free distance or triangle through the
// flight's own fixes, under the rules of an online contest. Pure functions.
namespace corvex::flights {

enum class ContestRules {
    // Free flight through up to three turnpoints ×1.0, free triangle ×1.2 and FAI triangle
    // ×1.4 (closing gap at most 20 % of the perimeter), closed free triangle ×1.4 and closed
    // FAI triangle ×1.6 (gap at most 5 %).
    XContest,
    // Free distance through up to three turnpoints ×1.0, flat triangle ×1.2, FAI triangle
    // ×1.4, both closed within 3 km or 5 % of the perimeter, whichever is more; a gap of
    // up to 3 km is not taken off the distance.
    Ffvl,
};

enum class ContestFlightType { FreeFlight, FreeTriangle, FaiTriangle, ClosedFreeTriangle, ClosedFaiTriangle };

// "free_flight", "free_triangle", "fai_triangle", "closed_free_triangle", "closed_fai_triangle"
std::string_view contestTypeName(ContestFlightType type);

struct ContestPoint {
    std::size_t fixIndex { 0 }; // in the flight's fixes
    std::int64_t time { 0 };
    double latitude { 0 }, longitude { 0 };
};

struct ContestScore {
    ContestFlightType type { ContestFlightType::FreeFlight };
    // Free flight: start, up to three turnpoints, end. Triangles: the three corners.
    std::vector<ContestPoint> turnpoints;
    // Triangles: the fixes before the first and after the last corner that close the
    // path with the shortest gap.
    std::optional<ContestPoint> closingStart, closingEnd;
    double distanceMetres { 0 }; // triangles: perimeter minus the closing gap (WGS84)
    double closingMetres { 0 };
    double multiplier { 1 };
    double points { 0 }; // distance in km × multiplier
    // True when the search proved no score over the valid fixes better by more than a
    // millimetre (× multiplier); false only when it stopped at its work limit on a
    // pathological track, and then this is the best it found.
    bool optimal { true };
};

// The longest a WGS84 geodesic can be between two points `chordMetres` apart in a straight
// line through the earth: the bound that makes the search exact (ContestScore.cpp).
double geodesicBoundFromChord(double chordMetres);

// The best score over the valid fixes from index `first` to `last` (inclusive).
// Nothing when fewer than two valid fixes are there.
std::optional<ContestScore> scoreFixes(const std::vector<IgcFix>& fixes, std::size_t first, std::size_t last, ContestRules rules);
// The same over all the flight's fixes.
std::optional<ContestScore> scoreFlight(const IgcFlight& flight, ContestRules rules);

} // namespace corvex::flights
