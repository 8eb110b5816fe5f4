#include "Commands.h"
#include "LibraryAccess.h"

#include "flights/ContestScore.h"
#include "flights/IgcFlight.h"

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

std::string pointJson(const ContestPoint& point)
{
    return "{\"fix\": " + std::to_string(point.fixIndex) + ", \"time\": \"" + isoTime(point.time) + "\", \"lat\": "
        + fixed(point.latitude, 6) + ", \"lon\": " + fixed(point.longitude, 6) + "}";
}

void printJson(std::ostream& out, const ContestScore& score, std::string_view rules)
{
    out << "{\"rules\": \"" << rules << "\", \"type\": \"" << flights::contestTypeName(score.type)
        << "\", \"distance_km\": " << fixed(score.distanceMetres / 1000, 3) << ", \"score\": " << fixed(score.points, 2)
        << ", \"multiplier\": " << fixed(score.multiplier, 1) << ", \"closing_km\": " << fixed(score.closingMetres / 1000, 3)
        << ", \"optimal\": " << (score.optimal ? "true" : "false") << ", \"turnpoints\": [";
    for (std::size_t i = 0; i < score.turnpoints.size(); ++i)
        out << (i ? ", " : "") << pointJson(score.turnpoints[i]);
    out << "]";
    if (score.closingStart && score.closingEnd)
        out << ", \"closing\": [" << pointJson(*score.closingStart) << ", " << pointJson(*score.closingEnd) << "]";
    out << "}\n";
}

void printText(std::ostream& out, const ContestScore& score, std::string_view rules)
{
    out << "Rules:       " << rules << "\n"
        << "Type:        " << flights::contestTypeName(score.type) << "\n"
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

constexpr const char* usage = "FILE.igc|ID [--rules NAME|list] [--json] [--library DIR]";

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
        return FileError;
    const auto flight = flights::readIgcFile(*path);
    if (!flight) {
        printError(context.err, flight.error());
        return FileError;
    }
    const auto score = flights::scoreFlight(*flight, *rules);
    if (!score) {
        printError(context.err, *path + ": fewer than two valid fixes, nothing to score");
        return FileError;
    }
    if (context.option("json"))
        printJson(context.out, *score, rulesName);
    else
        printText(context.out, *score, rulesName);
    return Success;
}

} // namespace

extern const CliCommand scoreCommand {
    .name = "score",
    .usage = usage,
    .summary = "the contest score of a flight: best free distance or triangle",
    .options = {
        { "rules", "NAME", "the contest's rules: xcontest (the default), ffvl, olc; list names them all" },
        { "json", nullptr, "a JSON object instead of text" },
        libraryOption,
    },
    .minimumArguments = 0,
    .maximumArguments = 1,
    .run = runScore,
};

} // namespace corvex::cli
