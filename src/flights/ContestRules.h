#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

// The rule sets of the online contests the scorer knows, as rows of data: what flight
// types a contest scores, with what multipliers and closing rules, how many turnpoints
// its free flight has and whether it limits the height lost from start to finish.
// Adding a contest is adding a row to contestRuleSets() (ContestRules.cpp).
namespace corvex::flights {

enum class ContestFlightType { FreeFlight, FreeTriangle, FaiTriangle, ClosedFreeTriangle, ClosedFaiTriangle };

// "free_flight", "free_triangle", "fai_triangle", "closed_free_triangle", "closed_fai_triangle"
std::string_view contestTypeName(ContestFlightType type);

// When the start and the end of a triangle are close enough: the gap between them is at
// most `shareOfPerimeter` of the perimeter or `freeMetres`, whichever is more. A gap up
// to `freeMetres` is not taken off the distance; a longer one is, whole.
struct ContestClosing {
    double shareOfPerimeter { 0 };
    double freeMetres { 0 };
};

struct ContestTriangleRule {
    ContestFlightType type { ContestFlightType::FreeTriangle };
    double multiplier { 1 };
    bool fai { false }; // every side at least 28 % of the perimeter
    ContestClosing closing;
};

// Which part of a recorded track a contest scores: the flight from take-off to landing,
// or the whole track (the walk up before take-off and the walk after landing too).
enum class ScoredTrack { Flight, Whole };

// "flight", "whole"
std::string_view scoredTrackName(ScoredTrack track);
// Nothing for "" (the rule set's own choice) and for a text that names neither.
std::optional<ScoredTrack> scoredTrackFromName(std::string_view name);

struct ContestRuleSet {
    std::string_view id; // stable: command line, JSON, the library's stored scores
    std::string_view name; // for people
    double freeFlightMultiplier { 1 };
    std::size_t freeFlightTurnpoints { 3 }; // between the start and the end
    std::vector<ContestTriangleRule> triangles;
    // The end of a free flight at most this many metres below its start.
    std::optional<double> finishBelowStartMetres;
    // What the contest scores of a track, and whether it lets the pilot have the other
    // part scored instead (for a hike & fly, say).
    ScoredTrack scoredTrack { ScoredTrack::Flight };
    bool pilotChoosesTrack { false };
};

// The part the rule set scores when the pilot asks for `wanted` (nothing: no wish): the
// wish where the contest leaves the choice to the pilot, else its own.
ScoredTrack trackToScore(const ContestRuleSet& rules, std::optional<ScoredTrack> wanted);

// Every rule set, the default (XContest) first.
const std::vector<ContestRuleSet>& contestRuleSets();
// Nothing when no row has this id.
const ContestRuleSet* findContestRuleSet(std::string_view id);

} // namespace corvex::flights
