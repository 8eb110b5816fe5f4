#include "flights/ContestRules.h"

namespace corvex::flights {

std::string_view contestTypeName(ContestFlightType type)
{
    switch (type) {
    case ContestFlightType::FreeFlight:
        return "free_flight";
    case ContestFlightType::FreeTriangle:
        return "free_triangle";
    case ContestFlightType::FaiTriangle:
        return "fai_triangle";
    case ContestFlightType::ClosedFreeTriangle:
        return "closed_free_triangle";
    case ContestFlightType::ClosedFaiTriangle:
        return "closed_fai_triangle";
    }
    return "free_flight";
}

std::string_view scoredTrackName(ScoredTrack track) { return track == ScoredTrack::Whole ? "whole" : "flight"; }

std::optional<ScoredTrack> scoredTrackFromName(std::string_view name)
{
    if (name == "flight")
        return ScoredTrack::Flight;
    if (name == "whole")
        return ScoredTrack::Whole;
    return std::nullopt;
}

ScoredTrack trackToScore(const ContestRuleSet& rules, std::optional<ScoredTrack> wanted)
{
    return wanted && rules.pilotChoosesTrack ? *wanted : rules.scoredTrack;
}

const std::vector<ContestRuleSet>& contestRuleSets()
{
    static const std::vector<ContestRuleSet> rows {
        // XContest: free flight through up to three turnpoints ×1.0, free triangle ×1.2 and
        // FAI triangle ×1.4 (closing gap at most 20 % of the perimeter), closed free
        // triangle ×1.4 and closed FAI triangle ×1.6 (gap at most 5 %); the gap is taken
        // off the distance. Its scores of its own sample flights are those of the whole
        // track as uploaded, the fixes before take-off and after landing too; a pilot who
        // wants the flight alone scored can say so.
        {
            .id = "xcontest",
            .name = "XContest",
            .freeFlightMultiplier = 1.0,
            .freeFlightTurnpoints = 3,
            .triangles = {
                { ContestFlightType::FreeTriangle, 1.2, false, { 0.2, 0 } },
                { ContestFlightType::FaiTriangle, 1.4, true, { 0.2, 0 } },
                { ContestFlightType::ClosedFreeTriangle, 1.4, false, { 0.05, 0 } },
                { ContestFlightType::ClosedFaiTriangle, 1.6, true, { 0.05, 0 } },
            },
            .finishBelowStartMetres = std::nullopt,
            .scoredTrack = ScoredTrack::Whole,
            .pilotChoosesTrack = true,
        },
        // FFVL: free distance through up to three turnpoints ×1.0, flat triangle ×1.2, FAI
        // triangle ×1.4, both closed within 3 km or 5 % of the perimeter, whichever is
        // more; a gap of up to 3 km is not taken off the distance. A flight is from
        // take-off to landing without a break (a walk belongs to its own hike & fly cup).
        {
            .id = "ffvl",
            .name = "FFVL",
            .freeFlightMultiplier = 1.0,
            .freeFlightTurnpoints = 3,
            .triangles = {
                { ContestFlightType::FreeTriangle, 1.2, false, { 0.05, 3000 } },
                { ContestFlightType::FaiTriangle, 1.4, true, { 0.05, 3000 } },
            },
            .finishBelowStartMetres = std::nullopt,
            .scoredTrack = ScoredTrack::Flight,
            .pilotChoosesTrack = false,
        },
        // OLC classic, as its public rules read: after the flight a start, up to five
        // turnpoints and a finish (six legs) are chosen among the flight's own fixes so
        // that the distance is the longest; the finish may be at most 1000 m lower than
        // the start. Points are the kilometres × 1.0: the contest's handicap index of the
        // glider is not applied, nor its triangle and speed parts (OLC-Plus); distances
        // are on WGS84, as for the other rows. The flight scored is the free flight, from
        // the release (here: take-off) to the landing.
        {
            .id = "olc",
            .name = "OLC classic",
            .freeFlightMultiplier = 1.0,
            .freeFlightTurnpoints = 5,
            .triangles = {},
            .finishBelowStartMetres = 1000.0,
            .scoredTrack = ScoredTrack::Flight,
            .pilotChoosesTrack = false,
        },
    };
    return rows;
}

const ContestRuleSet* findContestRuleSet(std::string_view id)
{
    for (const ContestRuleSet& row : contestRuleSets())
        if (row.id == id)
            return &row;
    return nullptr;
}

} // namespace corvex::flights
