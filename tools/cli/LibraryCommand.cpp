#include "Commands.h"
#include "LibraryAccess.h"
#include "TerminalProgress.h"

#include "analysis/FlightKmz.h"

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
#include "library/PlaceNames.h"
#include "library/Sites.h"
#include "library/TakeoffTime.h"
#include "library/qt/LibraryDebrief.h"
#include "map/qt/LegendImage.h"
#include "platform/SystemLogSink.h"
#include "platform/qt/PreferencesStore.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <ostream>
#include <sstream>

namespace corvex::cli {

using library::FlightLibrary;



namespace {

using library::ImportOutcome;
using library::LibraryFlight;


Json jsonNumber(const std::optional<int>& value) { return value ? Json(*value) : Json(nullptr); }

// The stored debrief totals; null until the flight is analysed, and for a file that
// has none (debrief_version of `library show --json` tells them apart).
Json debriefJson(const LibraryFlight& flight)
{
    if (!flight.debrief)
        return nullptr;
    const library::StoredDebrief& debrief = *flight.debrief;
    return Json { { "thermals", debrief.thermals }, { "failed_attempts", debrief.failedAttempts },
        { "avg_climb_ms", rounded(debrief.avgClimbMs, 2) }, { "circling_share", rounded(debrief.circlingShare, 3) },
        { "left_share", rounded(debrief.leftShare, 3) }, { "height_gained_m", rounded(debrief.heightGainedMetres, 0) },
        { "avg_glide_ratio", debrief.avgGlideRatio ? rounded(*debrief.avgGlideRatio, 1) : Json(nullptr) },
        { "altitude_source", debrief.altitudeSource } };
}

Json flightJson(const FlightLibrary& flights, const LibraryFlight& flight, bool everything)
{
    Json json { { "id", flight.id }, { "takeoff", isoTime(flight.takeoff) },
        { "takeoff_local", library::localIsoTime(flight.takeoff, library::igcFileTimeZoneMinutes(flights.pathOf(flight))) },
        { "landing", isoTime(flight.landing) },
        { "duration_s", flight.durationSeconds }, { "max_altitude_m", jsonNumber(flight.maxAltitude()) },
        { "altitude_source", flight.altitudeSource },
        { "track_km", rounded(flight.trackMetres / 1000, 3) }, { "instrument", flight.instrument() }, { "pilot", flight.pilot },
        { "glider", flight.glider }, { "file", flights.pathOf(flight) },
        { "score_points", flight.scorePoints ? rounded(*flight.scorePoints, 2) : Json(nullptr) },
        { "score_type", flight.scorePoints ? Json(flight.scoreType) : Json(nullptr) },
        { "score_km", flight.scoreDistanceMetres ? rounded(*flight.scoreDistanceMetres / 1000, 3) : Json(nullptr) },
        { "debrief", debriefJson(flight) } };
    // The site's name (the flight's own, else its site's) or null; the comment and the
    // removal only where there are some.
    json["site"] = flight.site.empty() ? Json(nullptr) : Json(flight.site);
    if (!flight.comment.empty())
        json["comment"] = flight.comment;
    if (flight.removed)
        json["removed"] = isoTime(*flight.removed);
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
        json["debrief_version"] = jsonNumber(flight.debriefMadeBy);
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

// "igc, kml, gpx or kmz": the formats of the export table, and the globe's file that
// needs the flight's score and debrief besides.
std::string formatChoices()
{
    const auto formats = flights::flightFileFormats();
    std::string text;
    for (const auto& format : formats)
        text += (text.empty() ? "" : ", ") + std::string(format.id);
    return text + " or kmz";
}

flights::TrackFileOptions trackOptions()
{
    flights::TrackFileOptions options;
    options.creator = "Corvex Vario " CORVEX_VERSION;
    options.writtenAt = std::chrono::system_clock::now();
    return options;
}

// The widths of the list's name columns, in characters.
constexpr std::size_t gliderColumnWidth = 24;
constexpr std::size_t pilotColumnWidth = 32;

std::string altitudeText(const std::optional<int>& value, UnitSystem units)
{
    return value ? quantityText(Quantity::Altitude, *value, units) : "-";
}

// The moment as ISO 8601: in UTC ("Z"), else at the take-off's offset (the file's
// time-zone header, else the computer's zone) with the offset written.
std::string shownTime(std::int64_t utc, const TextChoice& choice, std::optional<int> takeoffOffset)
{
    return choice.utc ? isoTime(utc) : library::localIsoTime(utc, takeoffOffset);
}

std::optional<int> takeoffOffset(FlightLibrary& flights, const LibraryFlight& flight, const TextChoice& choice)
{
    if (choice.utc)
        return std::nullopt;
    // The computer's zone on the take-off's date where the file names none.
    return localOffsetMinutes(flight.takeoff, library::igcFileTimeZoneMinutes(flights.pathOf(flight)));
}

// A flight not scored yet shows nothing, never 0 points.
std::string scoreColumn(const LibraryFlight& flight)
{
    if (!flight.scorePoints)
        return "";
    return fixed(*flight.scorePoints, 1) + " " + flights::contestTypeTitle(flight.scoreType);
}

std::string scoreLine(const LibraryFlight& flight, UnitSystem units)
{
    if (!flight.scorerVersion)
        return "not scored yet (corvex library rebuild scores it)";
    if (!flight.scorePoints)
        return "none";
    return fixed(*flight.scorePoints, 2) + " points, " + flights::contestTypeTitle(flight.scoreType) + ", "
        + fixed(convertedValue(Quantity::Distance, flight.scoreDistanceMetres.value_or(0), units), 2) + " "
        + unitLabel(Quantity::Distance, units) + " (" + library::contestRuleSetName(flight.scoreRuleSet) + ")";
}

std::string debriefLine(const LibraryFlight& flight, UnitSystem units)
{
    if (!flight.debriefMadeBy)
        return "not analysed yet (corvex library rebuild analyses it)";
    if (!flight.debrief)
        return "none";
    const library::StoredDebrief& debrief = *flight.debrief;
    std::string line = std::to_string(debrief.thermals) + (debrief.thermals == 1 ? " thermal" : " thermals");
    if (debrief.thermals > 0)
        line += " (" + quantityText(Quantity::Vario, debrief.avgClimbMs, units) + " average, "
            + quantityText(Quantity::Altitude, debrief.heightGainedMetres, units) + " gained)";
    line += ", " + std::to_string(debrief.failedAttempts) + (debrief.failedAttempts == 1 ? " failed attempt" : " failed attempts");
    line += ", circling " + fixed(debrief.circlingShare * 100, 0) + " %";
    if (debrief.circlingShare > 0)
        line += " (" + fixed(debrief.leftShare * 100, 0) + " % left)";
    if (debrief.avgGlideRatio)
        line += ", glide ratio " + fixed(*debrief.avgGlideRatio, 1);
    return line;
}

// Ctrl+C (or a TERM) while the flights are scored: their files and rows are saved
// already, so the pass stops after the flights under way and the command says what
// is left, instead of the process dying between them. The handler is there from
// before the summary is printed, so that an interrupt the summary prompts is one it
// hears; a second interrupt ends the process at once (the default action is back).
class InterruptCancels {
public:
    InterruptCancels()
    {
        s_token.store(&m_token);
        struct sigaction action {};
        action.sa_handler = &InterruptCancels::handle;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND;
        sigaction(SIGINT, &action, &m_oldInterrupt);
        sigaction(SIGTERM, &action, &m_oldTerminate);
    }
    ~InterruptCancels()
    {
        sigaction(SIGINT, &m_oldInterrupt, nullptr);
        sigaction(SIGTERM, &m_oldTerminate, nullptr);
        s_token.store(nullptr);
    }
    InterruptCancels(const InterruptCancels&) = delete;
    InterruptCancels& operator=(const InterruptCancels&) = delete;

    const CancelToken& token() const { return m_token; }

private:
    static void handle(int)
    {
        // An atomic store: safe in a signal handler.
        if (const CancelToken* token = s_token.load())
            token->cancel();
    }

    static inline std::atomic<const CancelToken*> s_token { nullptr };
    CancelToken m_token;
    struct sigaction m_oldInterrupt {};
    struct sigaction m_oldTerminate {};
};

// Scores the flights that lack one, the progress on the terminal: after a sync, an
// import or a rebuild, so that `library list` shows every score. The flights are
// saved before it begins; a failure or an interrupt here leaves them unscored for the
// next pass (any of those commands, or the library window). FileError or Interrupted
// when it printed why.
enum class ScoreSummary { Printed, Quiet };
ExitCode fillScores(CliContext& context, FlightLibrary& flights, ScoreSummary summary, const InterruptCancels* interrupt = nullptr)
{
    TerminalProgress progress(context.err);
    library::ScoreFillOptions options;
    options.ruleSets = pilotRuleSets();
    options.debrief = library::libraryDebriefMaker();
    options.progress = [&](std::size_t done, std::size_t total) {
        progress.show("scoring flight " + std::to_string(done) + " of " + std::to_string(total), done, total);
    };
    const auto filled = flights.fillScores(options, interrupt ? interrupt->token() : CancelToken());
    progress.finish();
    if (!filled) {
        printError(context.err, "the flights are saved but cannot be scored now: " + filled.error().message);
        return FileError;
    }
    const library::ScoreFillOutcome& outcome = *filled;
    if (outcome.total > 0 && summary == ScoreSummary::Printed)
        context.out << outcome.scored << (outcome.scored == 1 ? " flight scored\n" : " flights scored\n");
    if (outcome.cancelled) {
        const std::size_t left = outcome.total - outcome.scored - outcome.unreadable;
        printError(context.err, "scoring interrupted: the flights are saved; " + std::to_string(left)
                + (left == 1 ? " is" : " are") + " scored by the next sync, import or rebuild, or by the library window");
        return Interrupted;
    }
    if (outcome.unwritten > 0)
        printError(context.err, std::to_string(outcome.unwritten)
                + " scores could not be written: the index was busy (the next sync, import or rebuild scores them)");
    if (outcome.unreadable > 0)
        printError(context.err, std::to_string(outcome.unreadable) + " flights could not be read to be scored");
    return outcome.unreadable > 0 || outcome.unwritten > 0 ? FileError : Success;
}

Result<std::int64_t, ExitCode> flightId(CliContext& context)
{
    const std::string& text = context.arguments.front();
    std::int64_t id = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error != std::errc {} || end != text.data() + text.size() || id <= 0) {
        printError(context.err, "the flight is the number `corvex library list` shows, not " + text);
        return Failure { UsageError };
    }
    return id;
}

// The flight the command's argument names, or the exit code of why there is none.
Result<LibraryFlight, ExitCode> findFlight(CliContext& context, const FlightLibrary& flights)
{
    const auto id = flightId(context);
    if (!id)
        return Failure { id.error() };
    auto flight = flights.index().flight(*id);
    if (flight)
        return std::move(*flight);
    return Failure { reportFlightLookupFailure(context, *id, flight.error()) };
}

void printImportOutcome(std::ostream& out, std::ostream& err, const ImportOutcome& outcome)
{
    // The paths, the lines quoted and the reasons come from the files.
    for (const std::string& line : outcome.skippedLines)
        err << "corvex: " << visibleText(line) << " (line skipped)\n";
    const std::string source = visibleText(outcome.source);
    const std::string message = visibleText(outcome.message);
    switch (outcome.kind) {
    case ImportOutcome::Kind::Imported:
        out << source << ": imported as " << visibleText(outcome.flight->file) << (message.empty() ? "" : " (" + message + ")")
            << "\n";
        break;
    case ImportOutcome::Kind::AlreadyInLibrary:
        out << source << ": skipped, " << message << "\n";
        break;
    case ImportOutcome::Kind::Refused:
        err << "corvex: " << source << ": not imported: " << message << "\n";
        break;
    }
}

int runSync(CliContext& context)
{
    CliSession session(context.port);
    auto flights = openLibrary(context, &session.log());
    if (!flights)
        return flights.failure;
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
    const TextChoice choice = textChoice(context);
    hooks.added = [&](const ImportOutcome& added) {
        progress.finish();
        const LibraryFlight& flight = *added.flight;
        context.out << visibleText(flights->pathOf(flight)) << "  "
                    << shownTime(flight.takeoff, choice, takeoffOffset(*flights, flight, choice)) << "  "
                    << hoursMinutesText(flight.durationSeconds) << "  " << quantityText(Quantity::Distance, flight.trackMetres, choice.units)
                    << "\n";
        context.out.flush();
    };
    const library::SyncOutcome outcome = library::syncInstrument(session.device(), *flights,
        TrackLogExportOptions { &alerts, CORVEX_VERSION }, OperationContext(session.log()).withProgress(&progress), hooks);
    progress.finish();
    if (outcome.listFailure)
        return reportDeviceFailure(context.err, "the flight list could not be read", *outcome.listFailure);
    for (const auto& failed : outcome.failed)
        printError(context.err, "flight " + std::to_string(failed.flightNumber) + " was not saved: " + failed.reason);
    // Every file is whole, synced and indexed: said before the scoring, which may take
    // long and may be interrupted without losing any of them. Scripts read the summary
    // as the last line of the output; the scoring prints only on stderr.
    const InterruptCancels interrupt;
    context.out << outcome.added.size() << " new, " << outcome.alreadyInLibrary << " already in the library\n";
    context.out.flush();
    const ExitCode scored = fillScores(context, *flights, ScoreSummary::Quiet, &interrupt);
    return !outcome.failed.empty() ? InstrumentFailed : scored;
}

int runList(CliContext& context)
{
    auto flights = openExistingLibrary(context);
    if (!flights)
        return flights.failure;
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
    filter.removed = context.option("removed").has_value();
    auto listed = flights->index().flights(filter);
    if (!listed) {
        printError(context.err, "the flights cannot be listed: " + listed.error().message);
        return exitCodeFor(listed.error().kind);
    }
    auto& list = *listed;
    // Each flight carries the name it shows: its own, else its site's (the JSON has it;
    // the table and the CSV do not, and are spared the clustering).
    const auto siteFilter = context.option("site");
    if (siteFilter || context.option("json")) {
        const auto sites = library::readSiteBook(*flights);
        if (!sites) {
            printError(context.err, "the sites cannot be read: " + sites.error().message);
            return exitCodeFor(sites.error().kind);
        }
        for (LibraryFlight& flight : list)
            flight.site = sites->siteName(flight);
    }
    if (siteFilter)
        std::erase_if(list, [&](const LibraryFlight& flight) { return !library::sameSiteName(flight.site, *siteFilter); });
    std::string text;
    if (context.option("csv")) {
        const TextChoice choice = textChoice(context);
        library::CsvChoice csv { choice.units, {} };
        if (!choice.utc)
            csv.takeoffOffset = [&](const LibraryFlight& flight) { return *takeoffOffset(*flights, flight, choice); };
        text = library::libraryCsv(list, csv);
    } else if (context.option("json")) {
        Json json = Json::array();
        for (const LibraryFlight& flight : list)
            json.push_back(flightJson(*flights, flight, false));
        text = jsonText(json, JsonLayout::ObjectLines) + "\n";
    } else {
        // One flight, one line, whatever the file names: the names are cut to their
        // columns (the JSON and the CSV hold them whole).
        const TextChoice choice = textChoice(context);
        for (const LibraryFlight& flight : list) {
            std::string line = formatString("%6lld  %s  %6s  %7s  %7s %s  %-26s  ", static_cast<long long>(flight.id),
                shownTime(flight.takeoff, choice, takeoffOffset(*flights, flight, choice)).c_str(),
                hoursMinutesText(flight.durationSeconds).c_str(), altitudeText(flight.maxAltitude(), choice.units).c_str(),
                quantityNumber(Quantity::Distance, flight.trackMetres, choice.units).c_str(),
                unitLabel(Quantity::Distance, choice.units), scoreColumn(flight).c_str());
            line += library::tableCell(flight.glider, gliderColumnWidth) + "  "
                + library::tableCell(flight.pilot, pilotColumnWidth, library::CellPadding::None);
            while (!line.empty() && line.back() == ' ')
                line.pop_back();
            text += line + "\n";
        }
    }
    context.out << text;
    return Success;
}

int runShow(CliContext& context)
{
    auto flights = openExistingLibrary(context);
    if (!flights)
        return flights.failure;
    auto flight = findFlight(context, *flights);
    if (!flight)
        return flight.error();
    if (const auto sites = library::readSiteBook(*flights))
        flight->site = sites->siteName(*flight);
    if (context.option("json")) {
        context.out << jsonText(flightJson(*flights, *flight, true)) << "\n";
        return Success;
    }
    // Names, comments and paths come from files: written with their controls visible.
    const TextChoice choice = textChoice(context);
    const UnitSystem units = choice.units;
    const auto offset = takeoffOffset(*flights, *flight, choice);
    std::ostringstream out;
    out << "Flight " << flight->id << "\n"
        << "Take-off:      " << shownTime(flight->takeoff, choice, offset) << " at " << fixed(flight->takeoffLatitude, 5) << ", "
        << fixed(flight->takeoffLongitude, 5) << "\n"
        << "Landing:       " << shownTime(flight->landing, choice, offset) << " at " << fixed(flight->landingLatitude, 5) << ", "
        << fixed(flight->landingLongitude, 5) << "\n"
        << "Duration:      " << hoursMinutesText(flight->durationSeconds) << "\n"
        << "Altitude:      pressure " << altitudeText(flight->minPressureAltitude, units) << " to "
        << altitudeText(flight->maxPressureAltitude, units) << ", GPS " << altitudeText(flight->minGnssAltitude, units) << " to "
        << altitudeText(flight->maxGnssAltitude, units) << "\n"
        << "Figures from:  " << (flight->altitudeSource == "pressure" ? "pressure altitude" : "GPS altitude") << "\n"
        << "Best climb:    " << quantityText(Quantity::Vario, flight->bestClimb, units) << " (20 s)\n"
        << "Best sink:     " << quantityText(Quantity::Vario, flight->bestSink, units) << " (20 s)\n"
        << "Track:         " << quantityText(Quantity::Distance, flight->trackMetres, units) << "\n"
        << "Take-off to landing: " << quantityText(Quantity::Distance, flight->distanceMetres, units) << "\n"
        << "Score:         " << scoreLine(*flight, units) << "\n"
        << "Debrief:       " << debriefLine(*flight, units) << "\n"
        << "Pilot:         " << flight->pilot << "\n"
        << "Glider:        " << flight->glider << "\n"
        << "Instrument:    " << flight->instrument() << "\n"
        << "Fixes:         " << flight->fixes << "\n"
        << "File:          " << flights->pathOf(*flight) << "\n";
    if (!flight->site.empty())
        out << "Site:          " << flight->site << "\n";
    if (!flight->comment.empty())
        out << "Comment:       " << flight->comment << "\n";
    if (!flight->scoredTrack.empty())
        out << "Scored track:  " << (flight->scoredTrack == "whole" ? "the whole track" : "take-off to landing") << "\n";
    if (flight->removed)
        out << "Removed:       " << isoTime(*flight->removed) << " (corvex library restore " << flight->id << " brings it back)\n";
    if (const auto airspaces = flights->airspaceFileFor(*flight))
        out << "Airspaces:     " << *airspaces << " (the set the instrument held)\n";
    if (const auto recordings = flights->index().recordingsOf(flight->id))
        for (const LibraryFlight& recording : *recordings)
            out << "Also recorded by: " << recording.instrument() << " (" << flights->pathOf(recording) << ")\n";
    context.out << visibleText(out.str(), LineBreaks::Kept);
    return Success;
}

int runImport(CliContext& context)
{
    auto flights = openLibrary(context);
    if (!flights)
        return flights.failure;
    TerminalProgress progress(context.err);
    std::vector<ImportOutcome::Kind> shown;
    const auto outcomes
        = flights->importPaths(context.arguments, [&](const ImportOutcome& outcome, std::size_t done, std::size_t total) {
              progress.finish();
              printImportOutcome(context.out, context.err, outcome);
              shown.push_back(outcome.kind);
              progress.show("file " + std::to_string(done) + " of " + std::to_string(total), done, total);
          });
    progress.finish();
    // The outcomes as they came are not the last word: a commit that fails at the end
    // takes back what was imported, which is said again and counted as it is now.
    // The folders that could not be searched come first, never heard by the progress.
    library::ImportTally tally;
    const std::size_t unheard = outcomes.size() - std::min(shown.size(), outcomes.size());
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        const ImportOutcome& outcome = outcomes[i];
        tally.count(outcome);
        if (i < unheard || shown[i - unheard] != outcome.kind)
            printImportOutcome(context.out, context.err, ImportOutcome { outcome.kind, outcome.source, outcome.message, {}, {} });
    }
    // As sync: the files are saved before they are scored, and the summary says so.
    const InterruptCancels interrupt;
    context.out << tally.imported << " imported, " << tally.already << " already in the library, " << tally.refused
                << " refused\n";
    context.out.flush();
    const ExitCode scored = fillScores(context, *flights, ScoreSummary::Quiet, &interrupt);
    return tally.refused > 0 ? FileError : scored;
}

int runExport(CliContext& context)
{
    auto flights = openExistingLibrary(context);
    if (!flights)
        return flights.failure;
    const auto flight = findFlight(context, *flights);
    if (!flight)
        return flight.error();
    const std::string format = context.option("format").value_or("");
    if (format != "kmz" && !flights::findFlightFileFormat(format)) {
        printError(context.err, "--format is " + formatChoices() + ", not " + format);
        return UsageError;
    }
    const std::string out = *context.option("out");
    if (!prepareFolderOfFile(out, context.err))
        return FileError;
    if (format == "kmz") {
        // Scored under the rules the library lists, as the flight window scores it.
        const flights::ContestRuleSet* rules = flights::findContestRuleSet(flights->index().listedRuleSet());
        if (!rules)
            rules = &flights::contestRuleSets().front();
        const InterruptCancels interrupt;
        auto kmz = analysis::readKmzFlight(flights->pathOf(*flight), static_cast<std::size_t>(std::max(0, flight->part)),
            rules, flights::scoredTrackFromName(flight->scoredTrack), &interrupt.token());
        if (!kmz) {
            printError(context.err, kmz.error());
            return FileError;
        }
        if (interrupt.token().isCancelled())
            return Interrupted;
        const QByteArray legend = climbLegendPng();
        analysis::KmzOptions options;
        options.creator = trackOptions().creator;
        options.legendPng.assign(legend.constData(), static_cast<std::size_t>(legend.size()));
        const auto saved = analysis::saveKmz(std::span(&*kmz, 1), options, out);
        if (!saved) {
            printError(context.err, saved.error());
            return FileError;
        }
        context.out << visibleText(out) << "\n";
        return Success;
    }
    const auto exported = flights::exportFlight(flights->pathOf(*flight), format, out, trackOptions());
    if (!exported) {
        printError(context.err, exported.error().message);
        return FileError;
    }
    context.out << visibleText(out) << "\n";
    return Success;
}

int runRebuild(CliContext& context)
{
    auto flights = openExistingLibrary(context);
    if (!flights)
        return flights.failure;
    const auto rebuilt = flights->rebuild();
    if (!rebuilt) {
        printError(context.err, "the index cannot be made again: " + rebuilt.error().message);
        return exitCodeFor(rebuilt.error().kind);
    }
    const auto& outcome = *rebuilt;
    bool refused = false;
    for (const ImportOutcome& left : outcome.refused) {
        printImportOutcome(context.out, context.err, left);
        refused = refused || left.kind == ImportOutcome::Kind::Refused;
    }
    context.out << outcome.flights << " flights in the index of " << visibleText(flights->folder()) << "\n";
    // As import: a file refused is a failure the exit status says, the index made all the same.
    const InterruptCancels interrupt;
    const ExitCode scored = fillScores(context, *flights, ScoreSummary::Printed, &interrupt);
    return refused ? FileError : scored;
}

// "2024-07-01 11:34, 1:23, Ozone Rush": which flight a sentence is about.
std::string flightWords(const LibraryFlight& flight)
{
    std::string words = utcTimeText(flight.takeoff, "%Y-%m-%d %H:%M") + ", " + hoursMinutesText(flight.durationSeconds);
    if (!flight.glider.empty())
        words += ", " + flight.glider;
    return words;
}

// A failure of remove, restore or edit: an unknown flight exits as every command does (7).
int libraryFailureExit(CliContext& context, const library::LibraryError& error)
{
    printError(context.err, error.message);
    return exitCodeFor(error.kind);
}

int runRemove(CliContext& context)
{
    const auto id = flightId(context);
    if (!id)
        return id.error();
    auto flights = openExistingLibrary(context);
    if (!flights)
        return flights.failure;
    const auto removed = flights->remove(*id);
    if (!removed)
        return libraryFailureExit(context, removed.error());
    context.out << "Removed flight " << *id << " (" << visibleText(flightWords(*removed)) << "); restore it with: corvex library restore "
                << *id << "\n";
    return Success;
}

int runRestore(CliContext& context)
{
    const auto id = flightId(context);
    if (!id)
        return id.error();
    auto flights = openExistingLibrary(context);
    if (!flights)
        return flights.failure;
    const auto restored = flights->restore(*id);
    if (!restored)
        return libraryFailureExit(context, restored.error());
    context.out << "Restored flight " << *id << " (" << visibleText(flightWords(*restored)) << ") as "
                << visibleText(flights->pathOf(*restored)) << "\n";
    return Success;
}

constexpr const char* editUsage
    = "ID [--glider T] [--pilot T] [--site T] [--comment T] [--scored-track flight|whole|default] [--library DIR]";

int runEdit(CliContext& context)
{
    const auto usage = [] { return std::string(" (usage: corvex library edit ") + editUsage + ")"; };
    const auto id = flightId(context);
    if (!id)
        return id.error();
    library::FlightEdit edit;
    edit.glider = context.option("glider");
    edit.pilot = context.option("pilot");
    edit.site = context.option("site");
    edit.comment = context.option("comment");
    if (const auto track = context.option("scored-track")) {
        if (*track != "flight" && *track != "whole" && *track != "default") {
            printError(context.err, "--scored-track is flight, whole or default, not " + *track + usage());
            return UsageError;
        }
        edit.scoredTrack = *track == "default" ? std::string {} : *track;
    }
    if (!edit.glider && !edit.pilot && !edit.site && !edit.comment && !edit.scoredTrack) {
        printError(context.err, "say what to change: --glider, --pilot, --site, --comment or --scored-track" + usage());
        return UsageError;
    }
    auto flights = openExistingLibrary(context);
    if (!flights)
        return flights.failure;
    const auto edited = flights->edit(*id, edit);
    if (!edited)
        return libraryFailureExit(context, edited.error());
    const LibraryFlight& flight = *edited;
    const auto shown = [](const std::string& text) { return text.empty() ? std::string("-") : visibleText(text, LineBreaks::Kept); };
    context.out << "Flight " << *id << " (" << visibleText(flightWords(flight)) << "): pilot " << shown(flight.pilot)
                << ", glider " << shown(flight.glider) << ", site " << shown(flight.site) << ", comment " << shown(flight.comment)
                << ", scored track " << (flight.scoredTrack.empty() ? "default" : flight.scoredTrack) << "\n";
    if (edit.scoredTrack)
        fillScores(context, *flights, ScoreSummary::Quiet);
    return Success;
}

// The sites with the offline place list's suggestion for each unnamed one.
Result<library::SiteBook, ExitCode> readSites(CliContext& context, const FlightLibrary& flights)
{
    auto book = library::readSiteBook(flights);
    if (!book) {
        printError(context.err, "the sites cannot be read: " + book.error().message);
        return Failure { exitCodeFor(book.error().kind) };
    }
    const library::PlaceList places = library::PlaceList::read();
    for (library::Site& site : book->sites())
        if (site.name.empty())
            site.suggestion = places.suggestion(site.centre);
    return std::move(*book);
}

int runSites(CliContext& context)
{
    auto flights = openExistingLibrary(context);
    if (!flights)
        return flights.failure;
    const auto book = readSites(context, *flights);
    if (!book)
        return book.error();
    const auto date = [](std::int64_t utc) { return utcTimeText(utc, "%Y-%m-%d"); };
    if (context.option("json")) {
        Json json = Json::array();
        for (const library::Site& site : book->sites())
            json.push_back(Json { { "number", site.number }, { "name", site.name.empty() ? Json(nullptr) : Json(site.name) },
                { "suggestion", site.suggestion.empty() ? Json(nullptr) : Json(site.suggestion) },
                { "latitude", rounded(site.centre.latitude, 6) }, { "longitude", rounded(site.centre.longitude, 6) },
                { "flights", site.flights }, { "duration_s", site.seconds }, { "first_takeoff", isoTime(site.first) },
                { "last_takeoff", isoTime(site.last) } });
        context.out << jsonText(json, JsonLayout::ObjectLines) << "\n";
        return Success;
    }
    for (const library::Site& site : book->sites()) {
        // A suggestion is marked as one: it is no name until the pilot gives it.
        const std::string name = !site.name.empty() ? site.name : !site.suggestion.empty() ? "(" + site.suggestion + "?)" : "-";
        char line[160];
        std::snprintf(line, sizeof line, "%4d  %10.5f %11.5f  %5lld  %7s  %s  %s  ", site.number, site.centre.latitude,
            site.centre.longitude, static_cast<long long>(site.flights), hoursMinutesText(site.seconds).c_str(),
            date(site.first).c_str(), date(site.last).c_str());
        context.out << line << name << "\n";
    }
    return Success;
}

int runSite(CliContext& context)
{
    const std::string& text = context.arguments.front();
    int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc {} || end != text.data() + text.size() || number <= 0) {
        printError(context.err, "the site is the number `corvex library sites` shows, not " + text);
        return UsageError;
    }
    auto name = context.option("name");
    const bool suggested = context.option("suggested").has_value();
    if (name.has_value() == suggested) {
        printError(context.err, "say the site's name: --name TEXT (--name \"\" forgets it) or --suggested");
        return UsageError;
    }
    if (name) {
        // One line of text: the list prints it, scripts read it.
        for (const char c : *name)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                printError(context.err, "a site's name is one line of text without control characters");
                return UsageError;
            }
        const auto first = name->find_first_not_of(' ');
        *name = first == std::string::npos ? std::string {} : name->substr(first, name->find_last_not_of(' ') - first + 1);
    }
    auto flights = openExistingLibrary(context);
    if (!flights)
        return flights.failure;
    const auto book = readSites(context, *flights);
    if (!book)
        return book.error();
    const library::Site* site = book->site(number);
    if (!site) {
        printError(context.err, "the library has no site " + text + " (see corvex library sites)");
        return NoSuchFlight;
    }
    if (suggested) {
        if (site->suggestion.empty()) {
            printError(context.err, "site " + text + " has no suggested name (no place of the offline list is near it)");
            return FileError;
        }
        name = site->suggestion;
    }
    if (const auto named = library::nameSite(*flights, *site, *name); !named) {
        printError(context.err, named.error().message);
        return exitCodeFor(named.error().kind);
    }
    context.out << "Site " << site->number << " (" << fixed(site->centre.latitude, 5) << ", " << fixed(site->centre.longitude, 5)
                << ", " << site->flights << (site->flights == 1 ? " flight" : " flights") << "): "
                << (name->empty() ? std::string("no name") : "named " + *name) << "\n";
    return Success;
}

int runGliders(CliContext& context)
{
    auto flights = openExistingLibrary(context);
    if (!flights)
        return flights.failure;
    auto gliders = flights->index().totalsByGlider();
    if (!gliders) {
        printError(context.err, "the gliders cannot be read: " + gliders.error().message);
        return exitCodeFor(gliders.error().kind);
    }
    // The most flown first, the flights without a glider last.
    std::stable_sort(gliders->begin(), gliders->end(), [](const library::FlightTotals& a, const library::FlightTotals& b) {
        return a.key.empty() != b.key.empty() ? b.key.empty() : a.flights > b.flights;
    });
    if (context.option("json")) {
        Json json = Json::array();
        for (const library::FlightTotals& glider : *gliders)
            json.push_back(Json { { "name", glider.key.empty() ? Json(nullptr) : Json(glider.key) }, { "flights", glider.flights },
                { "duration_s", glider.seconds } });
        context.out << jsonText(json, JsonLayout::ObjectLines) << "\n";
        return Success;
    }
    for (const library::FlightTotals& glider : *gliders) {
        char line[64];
        std::snprintf(line, sizeof line, "%5lld  %7s  ", static_cast<long long>(glider.flights), hoursMinutesText(glider.seconds).c_str());
        context.out << line << (glider.key.empty() ? std::string("-") : visibleText(glider.key)) << "\n";
    }
    return Success;
}

int runGlider(CliContext& context)
{
    const std::string& from = context.arguments.front();
    auto name = context.option("name");
    if (!name) {
        printError(context.err, "say the glider's new name: --name TEXT (a name in use merges the two; --name \"\" forgets the new name)");
        return UsageError;
    }
    for (const char c : *name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            printError(context.err, "a glider's name is one line of text without control characters");
            return UsageError;
        }
    const auto first = name->find_first_not_of(' ');
    *name = first == std::string::npos ? std::string {} : name->substr(first, name->find_last_not_of(' ') - first + 1);
    auto flights = openExistingLibrary(context);
    if (!flights)
        return flights.failure;
    const auto renamed = flights->renameGlider(from, *name);
    if (!renamed) {
        printError(context.err, renamed.error().message + (renamed.error().kind == library::LibraryErrorKind::NotFound ? " (see corvex library gliders)" : ""));
        return exitCodeFor(renamed.error().kind);
    }
    context.out << "Glider " << visibleText(from) << " (" << *renamed << (*renamed == 1 ? " flight" : " flights") << "): "
                << (name->empty() ? std::string("its files' own name again") : "now " + visibleText(*name)) << "\n";
    return Success;
}

const char* findingKindName(library::CheckFinding::Kind kind)
{
    using Kind = library::CheckFinding::Kind;
    switch (kind) {
    case Kind::FileWithoutRow:
        return "file_without_row";
    case Kind::RowWithoutFile:
        return "row_without_file";
    case Kind::EditWithoutFlight:
        return "edit_without_flight";
    case Kind::FileChanged:
        return "file_changed";
    case Kind::Other:
        return "other";
    }
    return "other";
}

int runCheck(CliContext& context)
{
    // The index as it is: what differs from the folders is the report.
    auto flights = openExistingLibrary(context, nullptr, LibraryUse::Inspect);
    if (!flights)
        return flights.failure;
    const bool repair = context.option("repair").has_value();
    const auto checked = flights->check(repair);
    if (!checked) {
        printError(context.err, "the library cannot be checked: " + checked.error().message);
        return exitCodeFor(checked.error().kind);
    }
    const library::CheckReport& report = *checked;
    std::size_t left = 0;
    for (const library::CheckFinding& finding : report.findings)
        left += !finding.repaired;
    if (context.option("json")) {
        Json findings = Json::array();
        for (const library::CheckFinding& finding : report.findings) {
            Json each { { "kind", findingKindName(finding.kind) }, { "file", finding.file.empty() ? Json(nullptr) : Json(finding.file) },
                { "id", finding.id > 0 ? Json(finding.id) : Json(nullptr) }, { "message", finding.message },
                { "repaired", finding.repaired } };
            findings.push_back(std::move(each));
        }
        context.out << jsonText(Json { { "files", report.files }, { "flights", report.flights }, { "removed", report.removed },
                                    { "findings", findings } })
                    << "\n";
    } else {
        for (const library::CheckFinding& finding : report.findings)
            context.out << visibleText(finding.message) << (finding.repaired ? " (repaired)" : "") << "\n";
        context.out << report.files << " files, " << report.flights << " flights (" << report.removed << " removed) in "
                    << visibleText(flights->folder()) << ": ";
        if (report.findings.empty())
            context.out << "everything matches\n";
        else
            context.out << report.findings.size() << (report.findings.size() == 1 ? " finding, " : " findings, ")
                        << report.findings.size() - left << " repaired\n";
    }
    if (repair && report.findings.size() > left)
        fillScores(context, *flights, ScoreSummary::Quiet);
    return left == 0 ? Success : FileError;
}

const CliCommand listSubcommand {
    .name = "list",
    .usage = "[--json|--csv] [--year Y] [--glider NAME] [--search TEXT] [--site TEXT] [--removed] [--library DIR]",
    .summary = "the flights in the library, newest first",
    .options = {
        { "json", nullptr, "a JSON array of objects instead of a table" },
        { "csv", nullptr, "the table as CSV, the columns of the library window's CSV" },
        { "year", "Y", "only the flights of that year" },
        { "glider", "NAME", "only the flights with that glider, in any case" },
        { "search", "TEXT", "only the flights whose pilot, glider, instrument or file contains TEXT" },
        { "removed", nullptr, "the flights removed (restorable) instead of the others" },
        { "site", "TEXT", "only the flights from the site of that name, in any case" },
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
    .usage = "ID --format igc|kml|gpx|kmz --out FILE [--library DIR]",
    .summary = "write one flight as IGC (a copy), KML, GPX or a KMZ for a globe (3D track, score, thermals, tour)",
    .options = {
        { "format", "igc|kml|gpx|kmz", "the file format", true },
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
const CliCommand removeSubcommand {
    .name = "remove",
    .usage = "ID [--library DIR]",
    .summary = "take a flight out of the list; its file waits in the library's Removed folder",
    .options = { libraryOption },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runRemove,
};
const CliCommand restoreSubcommand {
    .name = "restore",
    .usage = "ID [--library DIR]",
    .summary = "bring a removed flight back under its id",
    .options = { libraryOption },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runRestore,
};
const CliCommand editSubcommand {
    .name = "edit",
    .usage = editUsage,
    .summary = "the pilot's glider, pilot, site and comment of a flight; an empty text clears one",
    .options = {
        { "glider", "T", "the glider, instead of the one the file names" },
        { "pilot", "T", "the pilot, instead of the one the file names" },
        { "site", "T", "the take-off site" },
        { "comment", "T", "a comment" },
        { "scored-track", "flight|whole|default", "what the contests score: take-off to landing, the whole track, or the rule set's choice" },
        libraryOption,
    },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runEdit,
};
const CliCommand sitesSubcommand {
    .name = "sites",
    .usage = "[--json] [--library DIR]",
    .summary = "the take-off sites: take-offs within 300 m of a site's centre are that site",
    .options = { { "json", nullptr, "a JSON array of objects instead of a table" }, libraryOption },
    .run = runSites,
};
const CliCommand siteSubcommand {
    .name = "site",
    .usage = "N --name TEXT|--suggested [--library DIR]",
    .summary = "name site N of `library sites`: every flight from there, now and later, carries the name",
    .options = {
        { "name", "TEXT", "the site's name; an empty text forgets it" },
        { "suggested", nullptr, "take the suggested name (near the nearest town of the offline list)" },
        libraryOption,
    },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runSite,
};
const CliCommand glidersSubcommand {
    .name = "gliders",
    .usage = "[--json] [--library DIR]",
    .summary = "the gliders as the flights show them, with their flights and hours, the most flown first",
    .options = { { "json", nullptr, "a JSON array of objects instead of a table" }, libraryOption },
    .run = runGliders,
};
const CliCommand gliderSubcommand {
    .name = "glider",
    .usage = "NAME --name NEW [--library DIR]",
    .summary = "rename a glider of `library gliders` in every flight, the files untouched; a name in use merges the two",
    .options = {
        { "name", "NEW", "the new name; an empty text gives the files' own name back" },
        libraryOption,
    },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runGlider,
};
const CliCommand checkSubcommand {
    .name = "check",
    .usage = "[--repair] [--json] [--library DIR]",
    .summary = "compare the library's folders with its index and journal; --repair fixes what it can without losing anything",
    .options = {
        { "repair", nullptr, "index files without a row, forget rows without a file, figure changed files again" },
        { "json", nullptr, "a JSON object instead of text" },
        libraryOption,
    },
    .run = runCheck,
};

} // namespace

extern const CliCommand syncCommand {
    .name = "sync",
    .usage = "[--library DIR]",
    .summary = "save every flight of the instrument that is not yet in the library",
    .options = { libraryOption },
    .run = runSync,
};

extern const CliCommand libraryLogBookSubcommand; // LibraryLogBookCommand.cpp

extern const CliCommand libraryCommand {
    .name = "library",
    .usage = "list|show ID|import PATH...|export ID --format F --out FILE|rebuild|remove ID|restore ID|edit ID ...|check|sites|site N ...|gliders|glider NAME ...|logbook --out F",
    .summary = "the flights kept on this computer: list, show, import, export, rebuild the index, remove, restore, edit, check, sites, gliders, print the log book",
    .options = {},
    .run = nullptr,
    .subcommands = { &listSubcommand, &showSubcommand, &importSubcommand, &exportSubcommand, &rebuildSubcommand,
        &removeSubcommand, &restoreSubcommand, &editSubcommand, &checkSubcommand, &sitesSubcommand, &siteSubcommand,
        &glidersSubcommand, &gliderSubcommand, &libraryLogBookSubcommand },
};

} // namespace corvex::cli
