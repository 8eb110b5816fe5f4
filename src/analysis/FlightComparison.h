#pragma once

#include "analysis/FlightDebrief.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Flights laid beside each other: the thermals that two or more of them climbed in
// together. Pure: debriefs in, shared thermals out; the same rule for every flight:
// - Two thermals of different flights are one shared thermal when they are at the
//   same time: their time spans overlap, or the later starts at most
//   sharedThermalMaxGapSeconds after the earlier ends (one pilot leaves as the other
//   arrives);
// - and at the same place: their centres lie within sharedThermalMaxDistanceMetres
//   of each other once the earlier centre is moved by the wind over the time between
//   the two thermals' middles (a thermal drifts with the air). The wind is the
//   earlier thermal's, else the later's; with neither, the centres as they are.
// - Among several flights the pairs that match are joined nearest first (distance
//   over its limit plus gap over its limit, smallest first), a pair only while its two
//   groups hold no flight in common: a shared thermal holds at most one thermal per
//   flight, the nearest in time and place, and at least two flights. A flight joins
//   a group through any one of its members it matches (three pilots strung along a
//   drifting thermal are one group).
namespace corvex::analysis {

inline constexpr double sharedThermalMaxDistanceMetres = 1000;
inline constexpr std::int64_t sharedThermalMaxGapSeconds = 300;

struct SharedThermalPart {
    std::size_t thermal { 0 }; // index into that flight's debrief.thermals
    std::int64_t start { 0 }, end { 0 };
    double climbMs { 0 };
    double gainMetres { 0 };
};

// A thermal two or more flights climbed in at the same place and time.
struct SharedThermal {
    std::int64_t start { 0 }, end { 0 }; // the earliest start, the latest end
    GeoPoint centre; // the mean of the parts' centres
    std::vector<std::optional<SharedThermalPart>> flights; // per flight, in the order given
};

// Debriefs in the order given (their thermals' times on one clock: UTC). A null
// debrief is a flight without thermals. Sorted by start.
std::vector<SharedThermal> findSharedThermals(std::span<const FlightDebrief* const> debriefs);

// Who climbed fastest in a shared thermal and by how much over the next fastest.
struct FasterClimb {
    std::size_t flight { 0 }; // the fastest, index in the order given
    std::size_t over { 0 }; // the next fastest
    double differenceMs { 0 }; // fastest minus next, at least 0
    // The difference over the next fastest's climb, in percent; nothing when that
    // climb is not above zero.
    std::optional<double> differencePercent;
};
// Nothing when fewer than two flights are in the thermal.
std::optional<FasterClimb> fasterClimb(const SharedThermal& thermal);

} // namespace corvex::analysis
