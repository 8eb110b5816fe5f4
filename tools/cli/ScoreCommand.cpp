#include "Commands.h"

#include "flights/ContestScore.h"
#include "flights/IgcFlight.h"
#include "library/FlightLibrary.h"
#include "library/LibraryFolder.h"
#include "platform/SystemLogSink.h"
#include "platform/qt/PreferencesStore.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <ostream>

namespace corvex::cli {

namespace {

using flights::ContestPoint;
using flights::ContestRules;
using flights::ContestScore;

std::string isoTime(std::int64_t utc)
{
    const std::time_t time = static_cast<std::time_t>(utc);
    std::tm parts {};
    ::gmtime_r(&time, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// The file of a flight: a path, or a number of the flight library when no such file exists.
std::optional<std::string> flightPath(CliContext& context)
{
    const std::string& argument = context.arguments.front();
    const bool number = !argument.empty() && argument.find_first_not_of("0123456789") == std::string::npos;
    if (!number || std::filesystem::exists(argument))
        return argument;
    static SystemLogSink systemLog;
    library::LibraryFolderChoice choice;
    choice.commandLine = context.option("library");
    if (!choice.commandLine) {
        PreferencesStore preferences;
        if (const QString folder = preferences.stringValue("flightLibraryFolder"); !folder.isEmpty())
            choice.preference = folder.toStdString();
    }
    auto opened = library::FlightLibrary::open(library::libraryFolder(choice), &systemLog);
    if (!opened) {
        printError(context.err, opened.error());
        return std::nullopt;
    }
    const auto flight = (*opened)->index().flight(std::stoll(argument));
    if (!flight) {
        printError(context.err, "no file " + argument + " and the library has no flight " + argument);
        return std::nullopt;
    }
    return (*opened)->pathOf(*flight);
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
        << ", \"turnpoints\": [";
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
    for (const ContestPoint& point : score.turnpoints)
        out << "  " << isoTime(point.time) << "  " << fixed(point.latitude, 5) << ", " << fixed(point.longitude, 5)
            << "  (fix " << point.fixIndex << ")\n";
}

int runScore(CliContext& context)
{
    const std::string rulesName = context.option("rules").value_or("xcontest");
    if (rulesName != "xcontest" && rulesName != "ffvl") {
        printError(context.err, "--rules is xcontest or ffvl, not " + rulesName);
        return UsageError;
    }
    const ContestRules rules = rulesName == "ffvl" ? ContestRules::Ffvl : ContestRules::XContest;
    const auto path = flightPath(context);
    if (!path)
        return FileError;
    const auto flight = flights::readIgcFile(*path);
    if (!flight) {
        printError(context.err, flight.error());
        return FileError;
    }
    const auto score = flights::scoreFlight(*flight, rules);
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
    .usage = "FILE.igc|ID [--rules xcontest|ffvl] [--json] [--library DIR]",
    .summary = "the contest score of a flight: best free distance or triangle",
    .options = {
        { "rules", "xcontest|ffvl", "the contest's rules (default xcontest)" },
        { "json", nullptr, "a JSON object instead of text" },
        { "library", "DIR", "the flight library's folder, for a flight given by its number" },
    },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runScore,
};

} // namespace corvex::cli
