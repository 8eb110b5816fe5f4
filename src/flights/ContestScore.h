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

// The part of a file's track a score is over: fixes `first` to `last` (inclusive), from
// `from` to `to` (UTC seconds).
struct ScoredPart {
    std::size_t first { 0 }, last { 0 };
    std::int64_t from { 0 }, to { 0 };
    ScoredTrack track { ScoredTrack::Flight };
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
    // What scoreFlight scored; scoreFixes leaves it as it is.
    ScoredPart part;
};

// The longest a WGS84 geodesic can be between two points `chordMetres` apart in a straight
// line through the earth: the bound that makes the search exact (ContestScore.cpp).
double geodesicBoundFromChord(double chordMetres);

// The best score over the valid fixes from index `first` to `last` (inclusive).
// Nothing when fewer than two valid fixes are there, or when `cancel` was cancelled
// before the search ended (it asks between its steps).
std::optional<ContestScore> scoreFixes(const std::vector<IgcFix>& fixes, std::size_t first, std::size_t last,
    const ContestRuleSet& rules, const CancelToken* cancel = nullptr);
// The part of the file that flight `part` of `flights` (computeFlights) has scored:
// take-off to landing, or the whole track: from the landing of the flight before (or
// the file's first fix) to the take-off of the flight after (or the file's last fix),
// the walk before and after it. Nothing when the file has no such flight.
std::optional<ScoredPart> scoredPart(
    const IgcFlight& flight, const std::vector<FlightFigures>& flights, std::size_t part, ScoredTrack track);

// The score of flight `part` of the file (computeFlights) over the part of the track
// the rules score when the pilot asks for `wanted` (trackToScore). Nothing as
// scoreFixes, and for a part the file does not have.
std::optional<ContestScore> scoreFlight(const IgcFlight& flight, const ContestRuleSet& rules, std::size_t part,
    std::optional<ScoredTrack> wanted, const CancelToken* cancel = nullptr);
// The first flight of the file, over the part the rules score by default.
std::optional<ContestScore> scoreFlight(const IgcFlight& flight, const ContestRuleSet& rules, const CancelToken* cancel = nullptr);

} // namespace corvex::flights
