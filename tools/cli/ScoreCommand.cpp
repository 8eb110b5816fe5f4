#include "Commands.h"
#include "LibraryAccess.h"

#include "flights/ContestScore.h"
#include "flights/FlightWords.h"
#include "flights/IgcFlight.h"

#include "base/Format.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <ostream>

namespace corvex::cli {

namespace {

using flights::ContestPoint;
using flights::ContestRuleSet;
using flights::ContestScore;

// "xcontest (XContest), ffvl (FFVL), …"
std::string ruleIds()
{
    std::string ids;
    for (const ContestRuleSet& row : flights::contestRuleSets())
        ids += (ids.empty() ? "" : ", ") + std::string(row.id) + " (" + std::string(row.name) + ")";
    return ids;
}

Json pointJson(const ContestPoint& point)
{
    return Json { { "fix", point.fixIndex }, { "time", isoTime(point.time) }, { "lat", rounded(point.latitude, 6) },
        { "lon", rounded(point.longitude, 6) } };
}

// "11:02 to 15:40, take-off to landing"; where the pilot asked for the whole track and
// the contest scores only the flight, it says so.
std::string scoredText(const ContestScore& score, const ContestRuleSet& rules, bool wholeAsked)
{
    std::string text = utcTimeText(score.part.from, "%H:%M") + " to " + utcTimeText(score.part.to, "%H:%M") + " UTC, ";
    if (score.part.track == flights::ScoredTrack::Whole)
        return text + "the whole track, as the rules allow";
    text += "take-off to landing";
    if (wholeAsked)
        text += " (" + std::string(rules.name) + " scores the flight only)";
    return text;
}

void printJson(std::ostream& out, const ContestScore& score, std::string_view rules)
{
    Json json { { "rules", std::string(rules) }, { "type", std::string(flights::contestTypeName(score.type)) },
        { "distance_km", rounded(score.distanceMetres / 1000, 3) }, { "score", rounded(score.points, 2) },
        { "multiplier", rounded(score.multiplier, 1) }, { "closing_km", rounded(score.closingMetres / 1000, 3) },
        { "optimal", score.optimal },
        { "scored", Json { { "from", isoTime(score.part.from) }, { "to", isoTime(score.part.to) },
                        { "track", std::string(flights::scoredTrackName(score.part.track)) } } },
        { "turnpoints", Json::array() } };
    for (const ContestPoint& point : score.turnpoints)
        json["turnpoints"].push_back(pointJson(point));
    if (score.closingStart && score.closingEnd)
        json["closing"] = Json::array({ pointJson(*score.closingStart), pointJson(*score.closingEnd) });
    out << jsonText(json) << "\n";
}

// The words the windows show: the rule set's and the flight type's names.
void printText(std::ostream& out, const ContestScore& score, const flights::ContestRuleSet& rules, bool wholeAsked)
{
    out << "Rules:       " << rules.name << "\n"
        << "Scored:      " << scoredText(score, rules, wholeAsked) << "\n"
        << "Type:        " << flights::contestTypeTitle(flights::contestTypeName(score.type)) << "\n"
        << "Distance:    " << fixed(score.distanceMetres / 1000, 2) << " km\n"
        << "Multiplier:  " << fixed(score.multiplier, 1) << "\n"
        << "Score:       " << fixed(score.points, 2) << " points\n";
    if (score.closingStart)
        out << "Closing gap: " << fixed(score.closingMetres / 1000, 2) << " km\n";
    if (!score.optimal)
        out << "Note:        the search stopped at its work limit; this is the best found, not proven best\n";
    for (const ContestPoint& point : score.turnpoints)
        out << "  " << isoTime(point.time) << "  " << fixed(point.latitude, 5) << ", " << fixed(point.longitude, 5)
            << "  (fix " << point.fixIndex << ")\n";
}

constexpr const char* usage = "FILE.igc|ID [--rules NAME|list] [--whole-track] [--json] [--library DIR]";

int runScore(CliContext& context)
{
    const std::string rulesName = context.option("rules").value_or("xcontest");
    if (rulesName == "list") {
        for (const ContestRuleSet& row : flights::contestRuleSets())
            context.out << row.id << "\t" << row.name << "\n";
        return Success;
    }
    const ContestRuleSet* rules = flights::findContestRuleSet(rulesName);
    if (!rules) {
        printError(context.err, "unknown rules " + rulesName + " (usage: corvex score " + std::string(usage) + "); the rules: " + ruleIds());
        return UsageError;
    }
    // Only listing the rules goes without a flight.
    if (context.arguments.empty()) {
        printError(context.err, "missing argument (usage: corvex score " + std::string(usage) + ")");
        return UsageError;
    }
    const auto path = flightFilePath(context);
    if (!path)
        return path.error();
    const auto flight = flights::readIgcFile(*path);
    if (!flight) {
        printError(context.err, flight.error());
        return FileError;
    }
    // A library flight is one flight of its file, scored as the pilot chose.
    std::size_t part = 0;
    std::optional<flights::ScoredTrack> wanted;
    std::error_code error;
    if (!std::filesystem::exists(context.arguments.front(), error)) {
        if (auto library = openExistingLibrary(context)) {
            if (const auto row = library->index().flight(std::stoll(context.arguments.front()))) {
                part = static_cast<std::size_t>(std::max(0, row->part));
                wanted = flights::scoredTrackFromName(row->scoredTrack);
            }
        }
    }
    const bool wholeAsked = context.option("whole-track").has_value();
    if (wholeAsked)
        wanted = flights::ScoredTrack::Whole;
    const auto score = flights::scoreFlight(*flight, *rules, part, wanted);
    if (!score) {
        printError(context.err, *path + ": fewer than two valid fixes, nothing to score");
        return FileError;
    }
    if (context.option("json"))
        printJson(context.out, *score, rulesName);
    else
        printText(context.out, *score, *rules, wholeAsked);
    return Success;
}

} // namespace

extern const CliCommand scoreCommand {
    .name = "score",
    .usage = usage,
    .summary = "the contest score of a flight: best free distance or triangle",
    .options = {
        { "rules", "NAME", "the contest's rules: xcontest (the default), ffvl, olc; list names them all" },
        { "whole-track", nullptr, "score the walk before take-off and after landing too, where the rules allow it" },
        { "json", nullptr, "a JSON object instead of text" },
        libraryOption,
    },
    .minimumArguments = 0,
    .maximumArguments = 1,
    .run = runScore,
};

} // namespace corvex::cli
