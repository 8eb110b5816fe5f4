#include "Commands.h"
#include "LibraryAccess.h"
#include "TerminalProgress.h"

#include "base/FileRead.h"
#include "base/Format.h"
#include "device/InstrumentSession.h"
#include "export/TrackLogExport.h"
#include "flights/FlightExport.h"
#include "flights/FlightWords.h"
#include "flights/IgcFlight.h"
#include "library/FlightLibrary.h"
#include "library/FlightSync.h"
#include "library/LibraryFolder.h"
#include "library/LibraryTable.h"
#include "platform/SystemLogSink.h"
#include "platform/qt/PreferencesStore.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <ostream>

namespace corvex::cli {

using library::FlightLibrary;



namespace {

using library::ImportOutcome;
using library::LibraryFlight;


Json jsonNumber(const std::optional<int>& value) { return value ? Json(*value) : Json(nullptr); }

Json flightJson(const FlightLibrary& flights, const LibraryFlight& flight, bool everything)
{
    Json json { { "id", flight.id }, { "takeoff", isoTime(flight.takeoff) }, { "landing", isoTime(flight.landing) },
        { "duration_s", flight.durationSeconds }, { "max_altitude_m", jsonNumber(flight.maxAltitude()) },
        { "altitude_source", flight.altitudeSource },
        { "track_km", rounded(flight.trackMetres / 1000, 3) }, { "instrument", flight.instrument() }, { "pilot", flight.pilot },
        { "glider", flight.glider }, { "file", flights.pathOf(flight) },
        { "score_points", flight.scorePoints ? rounded(*flight.scorePoints, 2) : Json(nullptr) },
        { "score_type", flight.scorePoints ? Json(flight.scoreType) : Json(nullptr) },
        { "score_km", flight.scoreDistanceMetres ? rounded(*flight.scoreDistanceMetres / 1000, 3) : Json(nullptr) } };
    if (everything) {
        json["logger"] = flight.logger;
        json["serial"] = flight.serial;
        json["takeoff_position"] = Json::array({ rounded(flight.takeoffLatitude, 6), rounded(flight.takeoffLongitude, 6) });
        json["landing_position"] = Json::array({ rounded(flight.landingLatitude, 6), rounded(flight.landingLongitude, 6) });
        json["max_pressure_altitude_m"] = jsonNumber(flight.maxPressureAltitude);
        json["min_pressure_altitude_m"] = jsonNumber(flight.minPressureAltitude);
        json["max_gps_altitude_m"] = jsonNumber(flight.maxGnssAltitude);
        json["min_gps_altitude_m"] = jsonNumber(flight.minGnssAltitude);
        json["best_climb_ms"] = rounded(flight.bestClimb, 2);
        json["best_sink_ms"] = rounded(flight.bestSink, 2);
        json["distance_km"] = rounded(flight.distanceMetres / 1000, 3);
        json["fixes"] = flight.fixes;
        json["sha256"] = flight.sha256;
        json["scorer_version"] = flight.scorerVersion ? Json(*flight.scorerVersion) : Json(nullptr);
        const auto airspaces = flights.airspaceFileFor(flight);
        json["airspaces_file"] = airspaces ? Json(*airspaces) : Json(nullptr);
        // Every rule set the library scored the flight under, by its id.
        if (const auto scores = flights.index().scores(flight.id)) {
            Json byRuleSet = Json::object();
            for (const library::RuleSetScore& each : *scores) {
                const library::StoredScore& score = each.score;
                byRuleSet[each.ruleSet] = Json {
                    { "points", score.points ? rounded(*score.points, 2) : Json(nullptr) },
                    { "type", score.points ? Json(score.type) : Json(nullptr) },
                    { "km", score.distanceMetres ? rounded(*score.distanceMetres / 1000, 3) : Json(nullptr) },
                    { "version", score.version },
                };
            }
            json["scores"] = byRuleSet;
        }
    }
    return json;
}

// "igc, kml or gpx": the formats of the export table.
std::string formatChoices()
{
    const auto formats = flights::flightFileFormats();
    std::string text;
    for (std::size_t i = 0; i < formats.size(); ++i)
        text += (i == 0 ? "" : i + 1 == formats.size() ? " or " : ", ") + std::string(formats[i].id);
    return text;
}

flights::TrackFileOptions trackOptions()
{
    flights::TrackFileOptions options;
    options.creator = "Corvex Vario " CORVEX_VERSION;
    options.writtenAt = std::chrono::system_clock::now();
    return options;
}

std::string altitudeText(const std::optional<int>& value) { return value ? std::to_string(*value) + " m" : "-"; }

// A flight not scored yet shows nothing, never 0 points.
std::string scoreColumn(const LibraryFlight& flight)
{
    if (!flight.scorePoints)
        return "";
    return fixed(*flight.scorePoints, 1) + " " + flights::contestTypeTitle(flight.scoreType);
}

std::string scoreLine(const LibraryFlight& flight)
{
    if (!flight.scorerVersion)
        return "not scored yet (corvex library rebuild scores it)";
    if (!flight.scorePoints)
        return "none";
    return fixed(*flight.scorePoints, 2) + " points, " + flights::contestTypeTitle(flight.scoreType) + ", "
        + fixed(flight.scoreDistanceMetres.value_or(0) / 1000, 2) + " km (" + library::contestRuleSetName(flight.scoreRuleSet) + ")";
}

// Scores the flights that lack one, the progress on the terminal: after a sync or a
// rebuild, so that `library list` shows every score.
enum class ScoreSummary { Printed, Quiet };
void fillScores(CliContext& context, FlightLibrary& flights, ScoreSummary summary)
{
    TerminalProgress progress(context.err);
    library::ScoreFillOptions options;
    options.ruleSets = pilotRuleSets();
    options.progress = [&](std::size_t done, std::size_t total) {
        progress.show("scoring flight " + std::to_string(done) + " of " + std::to_string(total), done, total);
    };
    const auto filled = flights.fillScores(options);
    progress.finish();
    if (!filled) {
        printError(context.err, "the flights cannot be scored: " + filled.error().message);
        return;
    }
    const library::ScoreFillOutcome& outcome = *filled;
    if (outcome.total > 0 && summary == ScoreSummary::Printed)
        context.out << outcome.scored << (outcome.scored == 1 ? " flight scored\n" : " flights scored\n");
    if (outcome.unreadable > 0)
        printError(context.err, std::to_string(outcome.unreadable) + " flights could not be read to be scored");
}

std::optional<std::int64_t> flightId(CliContext& context)
{
    const std::string& text = context.arguments.front();
    std::int64_t id = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error != std::errc {} || end != text.data() + text.size() || id <= 0) {
        printError(context.err, "the flight is the number `corvex library list` shows, not " + text);
        return std::nullopt;
    }
    return id;
}

std::optional<LibraryFlight> findFlight(CliContext& context, const FlightLibrary& flights)
{
    const auto id = flightId(context);
    if (!id)
        return std::nullopt;
    auto flight = flights.index().flight(*id);
    if (flight)
        return std::move(*flight);
    printError(context.err, flight.error().kind == library::LibraryErrorKind::NotFound
            ? "the library has no flight " + std::to_string(*id) + " (see corvex library list)"
            : flight.error().message);
    return std::nullopt;
}

void printImportOutcome(std::ostream& out, std::ostream& err, const ImportOutcome& outcome)
{
    for (const std::string& line : outcome.skippedLines)
        err << "corvex: " << line << " (line skipped)\n";
    switch (outcome.kind) {
    case ImportOutcome::Kind::Imported:
        out << outcome.source << ": imported as " << outcome.flight->file << "\n";
        break;
    case ImportOutcome::Kind::AlreadyInLibrary:
        out << outcome.source << ": skipped, " << outcome.message << "\n";
        break;
    case ImportOutcome::Kind::Refused:
        err << "corvex: " << outcome.source << ": not imported: " << outcome.message << "\n";
        break;
    }
}

int runSync(CliContext& context)
{
    CliSession session(context.port);
    auto flights = openLibrary(context, &session.log());
    if (!flights)
        return FileError;
    if (auto failure = session.connect())
        return *failure;
    InstrumentSession instrument(session.device());
    auto lease = instrument.borrow("saving new flights into the library");
    if (!lease)
        return reportDeviceFailure(context.err, "sync", lease.error());

    StderrAlertPresenter alerts;
    alerts.quiet = true; // each failure is printed below with its flight
    // "new flight 2 of 3 (41%)", moving as the flight comes in.
    TerminalProgress progress(context.err, "new flight");
    library::SyncHooks hooks;
    hooks.added = [&](const ImportOutcome& added) {
        progress.finish();
        const LibraryFlight& flight = *added.flight;
        context.out << flights->pathOf(flight) << "  " << isoTime(flight.takeoff) << "  " << hoursMinutesText(flight.durationSeconds)
                    << "  " << fixed(flight.trackMetres / 1000, 1) << " km\n";
        context.out.flush();
    };
    const library::SyncOutcome outcome = library::syncInstrument(session.device(), *flights,
        TrackLogExportOptions { &alerts, CORVEX_VERSION }, OperationContext(session.log()).withProgress(&progress), hooks);
    progress.finish();
    if (outcome.listFailure)
        return reportDeviceFailure(context.err, "the flight list could not be read", *outcome.listFailure);
    for (const auto& failed : outcome.failed)
        printError(context.err, "flight " + std::to_string(failed.flightNumber) + " was not saved: " + failed.reason);
    // Before the summary, which scripts read as the last line.
    fillScores(context, *flights, ScoreSummary::Quiet);
    context.out << outcome.added.size() << " new, " << outcome.alreadyInLibrary << " already in the library\n";
    return outcome.failed.empty() ? Success : InstrumentFailed;
}

int runList(CliContext& context)
{
    auto flights = openLibrary(context);
    if (!flights)
        return FileError;
    library::FlightFilter filter;
    if (const auto year = context.option("year")) {
        int value = 0;
        const auto [end, error] = std::from_chars(year->data(), year->data() + year->size(), value);
        if (error != std::errc {} || end != year->data() + year->size() || value < 1900 || value > 9999) {
            printError(context.err, "--year is a year such as 2024, not " + *year);
            return UsageError;
        }
        filter.year = value;
    }
    filter.glider = context.option("glider");
    filter.text = context.option("search").value_or("");
    const auto listed = flights->index().flights(filter);
    if (!listed) {
        printError(context.err, "the flights cannot be listed: " + listed.error().message);
        return FileError;
    }
    const auto& list = *listed;
    std::string text;
    if (context.option("csv")) {
        text = library::libraryCsv(list);
    } else if (context.option("json")) {
        Json json = Json::array();
        for (const LibraryFlight& flight : list)
            json.push_back(flightJson(*flights, flight, false));
        text = jsonText(json, JsonLayout::ObjectLines) + "\n";
    } else {
        for (const LibraryFlight& flight : list) {
            char line[512];
            std::snprintf(line, sizeof line, "%6lld  %s  %6s  %7s  %7.1f km  %-26s  %s  %s\n", static_cast<long long>(flight.id),
                isoTime(flight.takeoff).c_str(), hoursMinutesText(flight.durationSeconds).c_str(),
                altitudeText(flight.maxAltitude()).c_str(), flight.trackMetres / 1000, scoreColumn(flight).c_str(),
                flight.glider.c_str(), flight.pilot.c_str());
            text += line;
        }
    }
    context.out << text;
    return Success;
}

int runShow(CliContext& context)
{
    auto flights = openLibrary(context);
    if (!flights)
        return FileError;
    const auto flight = findFlight(context, *flights);
    if (!flight)
        return UsageError;
    if (context.option("json")) {
        context.out << jsonText(flightJson(*flights, *flight, true)) << "\n";
        return Success;
    }
    auto& out = context.out;
    out << "Flight " << flight->id << "\n"
        << "Take-off:      " << isoTime(flight->takeoff) << " at " << fixed(flight->takeoffLatitude, 5) << ", "
        << fixed(flight->takeoffLongitude, 5) << "\n"
        << "Landing:       " << isoTime(flight->landing) << " at " << fixed(flight->landingLatitude, 5) << ", "
        << fixed(flight->landingLongitude, 5) << "\n"
        << "Duration:      " << hoursMinutesText(flight->durationSeconds) << "\n"
        << "Altitude:      pressure " << altitudeText(flight->minPressureAltitude) << " to "
        << altitudeText(flight->maxPressureAltitude) << ", GPS " << altitudeText(flight->minGnssAltitude) << " to "
        << altitudeText(flight->maxGnssAltitude) << "\n"
        << "Figures from:  " << (flight->altitudeSource == "pressure" ? "pressure altitude" : "GPS altitude") << "\n"
        << "Best climb:    " << fixed(flight->bestClimb, 1) << " m/s (20 s)\n"
        << "Best sink:     " << fixed(flight->bestSink, 1) << " m/s (20 s)\n"
        << "Track:         " << fixed(flight->trackMetres / 1000, 1) << " km\n"
        << "Take-off to landing: " << fixed(flight->distanceMetres / 1000, 1) << " km\n"
        << "Score:         " << scoreLine(*flight) << "\n"
        << "Pilot:         " << flight->pilot << "\n"
        << "Glider:        " << flight->glider << "\n"
        << "Instrument:    " << flight->instrument() << "\n"
        << "Fixes:         " << flight->fixes << "\n"
        << "File:          " << flights->pathOf(*flight) << "\n";
    if (const auto airspaces = flights->airspaceFileFor(*flight))
        out << "Airspaces:     " << *airspaces << " (the set the instrument held)\n";
    return Success;
}

int runImport(CliContext& context)
{
    auto flights = openLibrary(context);
    if (!flights)
        return FileError;
    library::ImportTally tally;
    TerminalProgress progress(context.err);
    flights->importPaths(context.arguments, [&](const ImportOutcome& outcome, std::size_t done, std::size_t total) {
        progress.finish();
        printImportOutcome(context.out, context.err, outcome);
        tally.count(outcome);
        progress.show("file " + std::to_string(done) + " of " + std::to_string(total), done, total);
    });
    progress.finish();
    context.out << tally.imported << " imported, " << tally.already << " already in the library, " << tally.refused
                << " refused\n";
    return tally.refused == 0 ? Success : FileError;
}

int runExport(CliContext& context)
{
    auto flights = openLibrary(context);
    if (!flights)
        return FileError;
    const auto flight = findFlight(context, *flights);
    if (!flight)
        return UsageError;
    const std::string format = context.option("format").value_or("");
    if (!flights::findFlightFileFormat(format)) {
        printError(context.err, "--format is " + formatChoices() + ", not " + format);
        return UsageError;
    }
    const std::string out = *context.option("out");
    if (!prepareFolderOfFile(out, context.err))
        return FileError;
    const auto exported = flights::exportFlight(flights->pathOf(*flight), format, out, trackOptions());
    if (!exported) {
        printError(context.err, exported.error().message);
        return FileError;
    }
    context.out << out << "\n";
    return Success;
}

int runRebuild(CliContext& context)
{
    auto flights = openLibrary(context);
    if (!flights)
        return FileError;
    const auto rebuilt = flights->rebuild();
    if (!rebuilt) {
        printError(context.err, "the index cannot be made again: " + rebuilt.error().message);
        return FileError;
    }
    const auto& outcome = *rebuilt;
    for (const ImportOutcome& refused : outcome.refused)
        printImportOutcome(context.out, context.err, refused);
    context.out << outcome.flights << " flights in the index of " << flights->folder() << "\n";
    fillScores(context, *flights, ScoreSummary::Printed);
    return Success;
}

const CliCommand listSubcommand {
    .name = "list",
    .usage = "[--json|--csv] [--year Y] [--glider NAME] [--search TEXT] [--library DIR]",
    .summary = "the flights in the library, newest first",
    .options = {
        { "json", nullptr, "a JSON array of objects instead of a table" },
        { "csv", nullptr, "the table as CSV, the columns of the library window's CSV" },
        { "year", "Y", "only the flights of that year" },
        { "glider", "NAME", "only the flights with that glider, in any case" },
        { "search", "TEXT", "only the flights whose pilot, glider, instrument or file contains TEXT" },
        libraryOption,
    },
    .run = runList,
};
const CliCommand showSubcommand {
    .name = "show",
    .usage = "ID [--json] [--library DIR]",
    .summary = "every figure of one flight",
    .options = { { "json", nullptr, "a JSON object instead of text" }, libraryOption },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runShow,
};
const CliCommand importSubcommand {
    .name = "import",
    .usage = "PATH... [--library DIR]",
    .summary = "add IGC files, and the *.igc files of folders, from any logger",
    .options = { libraryOption },
    .minimumArguments = 1,
    .maximumArguments = 100000,
    .run = runImport,
};
const CliCommand exportSubcommand {
    .name = "export",
    .usage = "ID --format igc|kml|gpx --out FILE [--library DIR]",
    .summary = "write one flight as IGC (a copy), KML or GPX",
    .options = {
        { "format", "igc|kml|gpx", "the file format", true },
        { "out", "FILE", "the file to write", true },
        libraryOption,
    },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runExport,
};
const CliCommand rebuildSubcommand {
    .name = "rebuild",
    .usage = "[--library DIR]",
    .summary = "make the index again from the library's IGC files, and score every flight",
    .options = { libraryOption },
    .run = runRebuild,
};

} // namespace

extern const CliCommand syncCommand {
    .name = "sync",
    .usage = "[--library DIR]",
    .summary = "save every flight of the instrument that is not yet in the library",
    .options = { libraryOption },
    .run = runSync,
};

extern const CliCommand libraryCommand {
    .name = "library",
    .usage = "list|show ID|import PATH...|export ID --format F --out FILE|rebuild",
    .summary = "the flights kept on this computer: list, show, import, export, rebuild the index",
    .options = {},
    .run = nullptr,
    .subcommands = { &listSubcommand, &showSubcommand, &importSubcommand, &exportSubcommand, &rebuildSubcommand },
};

} // namespace corvex::cli
