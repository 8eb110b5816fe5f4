#pragma once

#include "flights/ContestRules.h"
#include "platform/OperationContext.h"
#include "flights/IgcFlight.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// The contest score of a flight: the best free distance or triangle through the
// flight's own fixes, under the rules of an online contest. Pure functions.
namespace corvex::flights {

struct ContestPoint {
    std::size_t fixIndex { 0 }; // in the flight's fixes
    std::int64_t time { 0 };
    double latitude { 0 }, longitude { 0 };
};

struct ContestScore {
    ContestFlightType type { ContestFlightType::FreeFlight };
    // Free flight: start, up to the rule set's number of turnpoints, end. Triangles: the
    // three corners.
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
// Nothing when fewer than two valid fixes are there, or when `cancel` was cancelled
// before the search ended (it asks between its steps).
std::optional<ContestScore> scoreFixes(const std::vector<IgcFix>& fixes, std::size_t first, std::size_t last,
    const ContestRuleSet& rules, const CancelToken* cancel = nullptr);
// The same over all the flight's fixes.
std::optional<ContestScore> scoreFlight(const IgcFlight& flight, const ContestRuleSet& rules, const CancelToken* cancel = nullptr);

} // namespace corvex::flights
