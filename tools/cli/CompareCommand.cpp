#include "Commands.h"
#include "DebriefOutput.h"
#include "LibraryAccess.h"

#include "analysis/FlightComparison.h"
#include "analysis/FlightDebrief.h"
#include "analysis/FlightKmz.h"
#include "base/Format.h"
#include "base/Units.h"
#include "flights/FlightWords.h"
#include "flights/IgcFlight.h"
#include "library/FlightScores.h"
#include "library/TakeoffTime.h"
#include "map/qt/LegendImage.h"

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace corvex::cli {

namespace {

// One flight of a comparison as the command line gave it, read and debriefed.
struct ComparedFlight {
    std::string argument; // as given: a file or a library number
    std::string path;
    std::optional<library::LibraryFlight> row; // when given by its number
    std::string text; // the file's bytes, to tell the same flight given twice
    flights::IgcFlight flight;
    flights::FlightFigures figures;
    analysis::FlightDebrief debrief;
    std::string pilot, glider; // the library's (with the pilot's edits), else the file's
    int offsetMinutes { 0 }; // the take-off's local time

    bool sameFlightAs(const ComparedFlight& other) const
    {
        return text == other.text && (row ? row->part : 0) == (other.row ? other.row->part : 0);
    }
};

// Every flight the arguments name, in their order: the exit code of the first that
// cannot be had (4 a file that does not read, 7 a number the library lacks), a usage
// error for a flight given twice. Each reason is printed.
Result<std::vector<ComparedFlight>, ExitCode> loadComparedFlights(CliContext& context)
{
    std::vector<ComparedFlight> flights;
    for (const std::string& argument : context.arguments) {
        auto given = givenFlight(context, argument);
        if (!given)
            return Failure { given.error() };
        ComparedFlight compared;
        compared.argument = argument;
        compared.path = std::move(given->path);
        compared.row = std::move(given->row);
        auto text = flights::readIgcText(compared.path);
        if (!text) {
            printError(context.err, text.error());
            return Failure { FileError };
        }
        auto flight = flights::parseIgc(*text);
        if (!flight) {
            printError(context.err, compared.path + ": " + flight.error());
            return Failure { FileError };
        }
        for (const auto& problem : flight->problems)
            context.err << "corvex: " << visibleText(compared.path) << ": line " << problem.line << ": " << visibleText(problem.message)
                        << " (skipped)\n";
        compared.text = std::move(*text);
        compared.flight = std::move(*flight);
        for (const ComparedFlight& earlier : flights)
            if (compared.sameFlightAs(earlier)) {
                printError(context.err, earlier.argument + " and " + argument + " are the same flight: give each flight once");
                return Failure { UsageError };
            }
        compared.figures = flights::computeFigures(compared.flight);
        compared.debrief = analysis::debriefFlight(compared.flight, compared.figures);
        compared.pilot = compared.row ? compared.row->pilot : compared.figures.pilot;
        compared.glider = compared.row ? compared.row->glider : compared.figures.glider;
        compared.offsetMinutes = localOffsetMinutes(compared.figures.takeoffTime, library::igcFileTimeZoneMinutes(compared.path));
        flights.push_back(std::move(compared));
    }
    return flights;
}

std::vector<analysis::SharedThermal> sharedThermalsOf(const std::vector<ComparedFlight>& flights)
{
    std::vector<const analysis::FlightDebrief*> debriefs;
    for (const ComparedFlight& compared : flights)
        debriefs.push_back(&compared.debrief);
    return analysis::findSharedThermals(debriefs);
}

// The take-off's date on its own local clock.
std::string dateOf(const ComparedFlight& compared)
{
    return library::localIsoTime(compared.figures.takeoffTime, compared.offsetMinutes).substr(0, 10);
}

// "3:07": hours and minutes.
std::string hoursText(std::int64_t seconds)
{
    return std::to_string(seconds / 3600) + ":" + (seconds / 60 % 60 < 10 ? "0" : "") + std::to_string(seconds / 60 % 60);
}

std::string scoreText(const ComparedFlight& compared)
{
    if (!compared.row || !compared.row->scorePoints)
        return "-";
    return fixed(*compared.row->scorePoints, 1) + " " + flights::contestTypeTitle(compared.row->scoreType) + " ("
        + library::contestRuleSetName(compared.row->scoreRuleSet) + ")";
}

Json flightJson(const ComparedFlight& compared)
{
    Json json;
    if (compared.row)
        json["id"] = compared.row->id;
    else
        json["file"] = compared.path;
    json["pilot"] = compared.pilot;
    json["glider"] = compared.glider;
    json["date"] = dateOf(compared);
    json["takeoff"] = isoTime(compared.figures.takeoffTime);
    json["landing"] = isoTime(compared.figures.landingTime);
    json["duration_s"] = compared.figures.durationSeconds;
    const bool scored = compared.row && compared.row->scorePoints;
    json["score_points"] = scored ? rounded(*compared.row->scorePoints, 2) : Json(nullptr);
    json["score_type"] = scored ? Json(compared.row->scoreType) : Json(nullptr);
    json["score_rules"] = scored ? Json(compared.row->scoreRuleSet) : Json(nullptr);
    json["altitude_source"] = compared.debrief.altitudeSource;
    json["totals"] = totalsJson(compared.debrief.totals);
    return json;
}

Json sharedJson(const analysis::SharedThermal& thermal)
{
    Json json { { "start", isoTime(thermal.start) }, { "end", isoTime(thermal.end) },
        { "centre", Json { { "lat", rounded(thermal.centre.latitude, 6) }, { "lon", rounded(thermal.centre.longitude, 6) } } },
        { "flights", Json::array() } };
    for (const auto& part : thermal.flights)
        json["flights"].push_back(part ? Json { { "climb_ms", rounded(part->climbMs, 2) }, { "gain_m", rounded(part->gainMetres, 0) } }
                                       : Json(nullptr));
    const auto faster = analysis::fasterClimb(thermal);
    json["faster"] = faster ? Json { { "flight", faster->flight }, { "over", faster->over },
                                  { "difference_ms", rounded(faster->differenceMs, 2) },
                                  { "difference_percent", faster->differencePercent ? rounded(*faster->differencePercent, 0) : Json(nullptr) } }
                            : Json(nullptr);
    return json;
}

// Columns as wide as their widest cell (counted in characters, not bytes), two spaces
// apart; the last is not padded.
void printTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows)
{
    const auto width = [](const std::string& text) {
        return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
    };
    std::vector<std::size_t> widths;
    for (const auto& row : rows)
        for (std::size_t column = 0; column < row.size(); ++column) {
            widths.resize(std::max(widths.size(), row.size()), 0);
            widths[column] = std::max(widths[column], width(row[column]));
        }
    for (const auto& row : rows) {
        std::string line = "  ";
        for (std::size_t column = 0; column < row.size(); ++column) {
            line += row[column];
            if (column + 1 < row.size())
                line += std::string(widths[column] - width(row[column]) + 2, ' ');
        }
        out << line << "\n";
    }
}

void printComparison(std::ostream& out, const std::vector<ComparedFlight>& flights, const std::vector<analysis::SharedThermal>& shared,
    const DebriefText& choice)
{
    const UnitSystem units = choice.units;
    out << "times: " << clockName(choice) << "\n\nflights\n";
    std::vector<std::vector<std::string>> rows(14);
    const char* labels[] = { "", "flight", "pilot", "glider", "date", "take-off", "duration", "thermals", "avg climb", "height gained",
        "circling", "glide speed", "glide ratio", "score" };
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i].push_back(labels[i]);
    for (std::size_t f = 0; f < flights.size(); ++f) {
        const ComparedFlight& compared = flights[f];
        const analysis::DebriefTotals& totals = compared.debrief.totals;
        const std::string name = compared.row ? "#" + std::to_string(compared.row->id)
                                              : std::filesystem::path(compared.path).filename().string();
        const std::string cells[] = { std::to_string(f + 1), name, compared.pilot.empty() ? "-" : compared.pilot,
            compared.glider.empty() ? "-" : compared.glider, dateOf(compared), clockText(compared.figures.takeoffTime, choice),
            hoursText(compared.figures.durationSeconds), std::to_string(totals.thermals),
            quantityText(Quantity::Vario, totals.avgClimbMs, units), quantityText(Quantity::Altitude, totals.heightGainedMetres, units),
            percent(totals.circlingShare), quantityText(Quantity::Speed, totals.avgGlideSpeedKmh / 3.6, units),
            totals.avgGlideRatio ? fixed(*totals.avgGlideRatio, 1) : std::string("-"), scoreText(compared) };
        for (std::size_t i = 0; i < rows.size(); ++i)
            rows[i].push_back(visibleText(cells[i]));
    }
    printTable(out, rows);

    out << "\nshared thermals: " << (shared.empty() ? "none" : std::to_string(shared.size())) << "\n";
    if (shared.empty())
        return;
    std::vector<std::vector<std::string>> table(1);
    table[0] = { "start", "time" };
    for (std::size_t f = 0; f < flights.size(); ++f)
        table[0].push_back(std::to_string(f + 1) + ": climb, gain");
    table[0].push_back("faster");
    for (const analysis::SharedThermal& thermal : shared) {
        std::vector<std::string> row { clockText(thermal.start, choice), durationText(thermal.end - thermal.start) };
        for (const auto& part : thermal.flights)
            row.push_back(part ? quantityText(Quantity::Vario, part->climbMs, units) + ", "
                        + quantityText(Quantity::Altitude, part->gainMetres, units)
                               : std::string("-"));
        const auto faster = analysis::fasterClimb(thermal);
        row.push_back(faster ? std::to_string(faster->flight + 1) + " by " + quantityText(Quantity::Vario, faster->differenceMs, units)
                    + (faster->differencePercent ? " (" + fixed(*faster->differencePercent, 0) + " %)" : std::string())
                    + (flights.size() > 2 ? " over " + std::to_string(faster->over + 1) : std::string())
                             : std::string("-"));
        table.push_back(std::move(row));
    }
    printTable(out, table);
}

// The flights in one KMZ for a globe, each in a colour of its own, with their
// debriefs' thermals; without contest legs: a comparison scores nothing.
ExitCode writeComparisonKmz(CliContext& context, const std::vector<ComparedFlight>& flights, const std::string& path)
{
    if (!prepareFolderOfFile(path, context.err))
        return FileError;
    std::vector<analysis::KmzFlight> kmz;
    for (const ComparedFlight& compared : flights) {
        analysis::KmzFlight flight;
        flight.flight = compared.flight;
        flight.figures = compared.figures;
        flight.debrief = compared.debrief;
        // "2018-04-27 Jane Doe, Rush 6", as a track file is named.
        std::string who = compared.pilot;
        if (!compared.glider.empty())
            who += (who.empty() ? "" : ", ") + compared.glider;
        flight.name = dateOf(compared) + (who.empty() ? "" : " " + who);
        flight.colour = analysis::kmzFlightColour(kmz.size());
        kmz.push_back(std::move(flight));
    }
    const QByteArray legend = climbLegendPng();
    analysis::KmzOptions options;
    options.name = "Comparison";
    options.creator = "Corvex Vario " CORVEX_VERSION;
    options.legendPng.assign(legend.constData(), static_cast<std::size_t>(legend.size()));
    if (const auto saved = analysis::saveKmz(kmz, options, path); !saved) {
        printError(context.err, saved.error());
        return FileError;
    }
    return Success;
}

int runCompare(CliContext& context)
{
    const auto flights = loadComparedFlights(context);
    if (!flights)
        return flights.error();
    if (const auto kmz = context.option("kmz"))
        if (const ExitCode written = writeComparisonKmz(context, *flights, *kmz); written != Success)
            return written;
    const std::vector<analysis::SharedThermal> shared = sharedThermalsOf(*flights);
    if (context.option("json")) {
        Json json { { "flights", Json::array() }, { "shared_thermals", Json::array() } };
        for (const ComparedFlight& compared : *flights)
            json["flights"].push_back(flightJson(compared));
        for (const analysis::SharedThermal& thermal : shared)
            json["shared_thermals"].push_back(sharedJson(thermal));
        context.out << jsonText(json, JsonLayout::ObjectLines) << "\n";
        return Success;
    }
    const TextChoice shown = textChoice(context);
    DebriefText choice;
    choice.units = shown.units;
    if (!shown.utc)
        choice.offsetMinutes = flights->front().offsetMinutes;
    printComparison(context.out, *flights, shared, choice);
    return Success;
}

} // namespace

extern const CliCommand compareCommand {
    .name = "compare",
    .usage = "FILE.igc|ID FILE.igc|ID... [--json] [--kmz FILE] [--library DIR]",
    .summary = "flights side by side: their totals and the thermals they shared",
    .options = {
        { "json", nullptr, "a JSON object instead of text (SI units, UTC)" },
        { "kmz", "FILE", "also write the flights into one KMZ for a globe (3D tracks, thermals, tours)" },
        libraryOption,
    },
    .minimumArguments = 2,
    .maximumArguments = 64,
    .run = runCompare,
};

} // namespace corvex::cli
