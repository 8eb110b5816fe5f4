#include "Commands.h"
#include "LibraryAccess.h"

#include "airspaces/OpenAirParser.h"
#include "analysis/AirspaceFileCheck.h"
#include "base/FileRead.h"
#include "base/Format.h"
#include "flights/IgcFlight.h"
#include "library/AirspaceArchive.h"
#include "platform/qt/PreferencesStore.h"
#include "terrain/TerrainTiles.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <ostream>

namespace corvex::cli {

namespace {

// Exit code when the flight entered at least one airspace, as `update check` says an
// update is there: the check worked, its answer is "yes".
constexpr int crossingsFound = 10;

bool isFlightNumber(const std::string& argument)
{
    std::error_code error;
    return !std::filesystem::exists(argument, error) && !argument.empty() && argument.size() < 19
        && argument.find_first_not_of("0123456789") == std::string::npos;
}

std::string dayText(std::int64_t utc) { return isoTime(utc).substr(0, 10); }

// The OpenAir file to check against, and whether the library keeps it once the check
// has run with it.
struct OpenAirChoice {
    std::string path;
    bool keep { false };
};

// --airspaces, else the set the flight's instrument held on its day. Prints why there is
// none and gives the exit code.
Result<OpenAirChoice, ExitCode> airspacesFor(CliContext& context)
{
    const std::string& argument = context.arguments.front();
    const std::optional<std::string> given = context.option("airspaces");
    if (given && !isFlightNumber(argument))
        return OpenAirChoice { *given };
    if (!isFlightNumber(argument)) {
        printError(context.err, "no airspaces are known for a flight given as a file: give them with --airspaces FILE, "
                                "or check the library's flight by its number");
        return Failure { FileError };
    }
    // Kept so that the flight can be checked again against the same file later.
    if (given)
        return OpenAirChoice { *given, true };
    auto flights = openExistingLibrary(context);
    if (!flights)
        return Failure { flights.failure };
    const std::int64_t id = std::stoll(argument);
    const auto flight = flights->index().flight(id);
    if (!flight)
        return Failure { reportFlightLookupFailure(context, id, flight.error()) };
    if (auto held = flights->airspaceFileFor(*flight))
        return OpenAirChoice { *held };
    if (flight->serial.empty())
        printError(context.err, "no airspaces are known for flight " + argument + " (logger " + flight->logger + ", "
                + dayText(flight->takeoff) + "): the library knows only the sets uploaded to a Corvex Vario; "
                  "give the airspaces with --airspaces FILE");
    else
        printError(context.err, "no airspaces are known for flight " + argument + " (instrument " + flight->serial + ", "
                + dayText(flight->takeoff)
                + "): the library knows the sets uploaded after a conversion by the airspaces window or "
                  "`corvex airspaces convert`; give the airspaces with --airspaces FILE");
    return Failure { FileError };
}

// Only a file the check ran with is kept: one that is no OpenAir (a flight given in its
// place) would otherwise wait in the library for ever.
void keepCheckedFile(CliContext& context, const std::string& path)
{
    auto flights = openExistingLibrary(context);
    if (!flights)
        return;
    const auto kept = flights->airspaces().keepFile(path, library::AirspaceUse::Checked, std::time(nullptr));
    if (!kept)
        context.err << "corvex: note: " << visibleText(path) << " was not kept in the library: " << visibleText(kept.error().message) << "\n";
}

Json crossingJson(const flights::IgcFlight& flight, const analysis::AirspaceCrossing& crossing)
{
    const auto& deepest = flight.fixes[crossing.deepestHorizontalIndex];
    Json deepestJson { { "fix", crossing.deepestHorizontalIndex }, { "time", isoTime(deepest.time) },
        { "latitude", rounded(deepest.latitude, 6) }, { "longitude", rounded(deepest.longitude, 6) },
        { "inside_edge_m", rounded(crossing.deepestHorizontalMetres, 0) }, { "vertical_fix", nullptr },
        { "vertical_margin_m", nullptr } };
    if (crossing.deepestVerticalIndex) {
        deepestJson["vertical_fix"] = *crossing.deepestVerticalIndex;
        deepestJson["vertical_margin_m"] = rounded(crossing.deepestVerticalMetres, 0);
    }
    return Json { { "name", crossing.name }, { "class", crossing.airspaceClass }, { "entry", isoTime(crossing.entryTime) },
        { "exit", isoTime(crossing.exitTime) }, { "entry_fix", crossing.entryIndex }, { "exit_fix", crossing.exitIndex },
        { "certain", crossing.certain }, { "reason", crossing.reason }, { "deepest", std::move(deepestJson) } };
}

// The terrain folder (--terrain, $CORVEX_TERRAIN, the preference "terrainFolder") and
// what it holds, scanned once; nothing when none is chosen. The verdict does not use
// it yet: it is reported, so that a wrong folder shows before it matters.
std::optional<terrain::TerrainSummary> terrainFor(const CliContext& context)
{
    terrain::TerrainFolderChoice choice;
    choice.commandLine = context.option("terrain");
    if (!choice.commandLine)
        choice.preference = PreferencesStore().stringValue("terrainFolder").toStdString();
    const auto folder = terrain::terrainFolder(choice);
    if (!folder)
        return std::nullopt;
    return terrain::TerrainTiles(*folder).summary();
}

Json terrainJson(const terrain::TerrainSummary& summary)
{
    Json json { { "folder", summary.folder }, { "tiles", summary.tiles }, { "covers", nullptr }, { "problem", nullptr },
        { "unreadable", Json::array() }, { "text", terrain::terrainSummaryText(summary) } };
    if (summary.covered)
        json["covers"] = Json { { "south", rounded(summary.covered->south, 4) }, { "west", rounded(summary.covered->west, 4) },
            { "north", rounded(summary.covered->north, 4) }, { "east", rounded(summary.covered->east, 4) } };
    if (summary.folderProblem)
        json["problem"] = *summary.folderProblem;
    for (const auto& file : summary.unreadable)
        json["unreadable"].push_back(Json { { "path", file.path }, { "reason", file.reason } });
    return json;
}

int runAirspaceCheck(CliContext& context)
{
    const auto path = flightFilePath(context);
    if (!path)
        return path.error();
    const auto flight = flights::readIgcFile(*path);
    if (!flight) {
        printError(context.err, flight.error());
        return FileError;
    }
    const auto airspaces = airspacesFor(context);
    if (!airspaces)
        return airspaces.error();
    const std::string openAirPath = airspaces->path;
    if (!context.option("airspaces") && !context.option("json"))
        context.out << "airspaces: " << visibleText(openAirPath) << " (the set the instrument held on the flight's day)\n";
    const auto checked = analysis::checkAgainstOpenAirFile(openAirPath, &*flight);
    if (!checked) {
        const analysis::OpenAirFileError& error = checked.error();
        switch (error.kind) {
        case analysis::OpenAirFileError::Kind::Unreadable:
            printError(context.err, "cannot read " + openAirPath + ": " + error.reason);
            break;
        case analysis::OpenAirFileError::Kind::TooLarge:
            printError(context.err, openAirPath + " is too large to be an OpenAir file (" + std::to_string(error.size / (1024 * 1024)) + " MB)");
            break;
        case analysis::OpenAirFileError::Kind::NoAirspace:
        case analysis::OpenAirFileError::Kind::NotOpenAir:
            printError(context.err, openAirPath + " holds no airspace that reads as OpenAir");
            break;
        }
        return FileError;
    }
    // The check goes on with what reads: a line of the file not understood is named,
    // since its airspace may be missing from the answer.
    for (const auto& problem : checked->parsed.errors)
        context.err << "corvex: " << visibleText(openAirPath) << ": line " << problem.line << ": " << visibleText(problem.message) << " (skipped)\n";
    for (const auto& problem : flight->problems)
        context.err << "corvex: " << visibleText(*path) << ": line " << problem.line << ": " << visibleText(problem.message) << " (skipped)\n";
    const analysis::AirspaceCheck& check = checked->check;
    if (airspaces->keep)
        keepCheckedFile(context, openAirPath);
    const auto terrainSummary = terrainFor(context);
    if (terrainSummary && !context.option("json"))
        context.err << "terrain: " << visibleText(terrain::terrainSummaryText(*terrainSummary)) << "\n";

    if (context.option("json")) {
        Json json { { "crossings", Json::array() }, { "notes", check.notes }, { "airspaces", openAirPath } };
        if (terrainSummary)
            json["terrain"] = terrainJson(*terrainSummary);
        for (const auto& crossing : check.crossings)
            json["crossings"].push_back(crossingJson(*flight, crossing));
        context.out << jsonText(json, JsonLayout::ObjectLines) << "\n";
    } else {
        for (const std::string& note : check.notes)
            context.out << "note: " << visibleText(note) << "\n";
        for (const auto& crossing : check.crossings) {
            context.out << isoTime(crossing.entryTime) << " to " << isoTime(crossing.exitTime) << "  "
                        << (crossing.certain ? "inside  " : "possibly") << "  " << visibleText(crossing.airspaceClass) << " "
                        << visibleText(crossing.name) << "  (" << fixed(crossing.deepestHorizontalMetres, 0) << " m inside the edge";
            if (crossing.deepestVerticalIndex)
                context.out << ", " << fixed(crossing.deepestVerticalMetres, 0) << " m inside the limits";
            context.out << ")\n";
            if (!crossing.reason.empty())
                context.out << "    " << visibleText(crossing.reason) << "\n";
        }
        context.out << check.crossings.size() << (check.crossings.size() == 1 ? " crossing" : " crossings") << "\n";
    }
    return check.crossings.empty() ? Success : crossingsFound;
}

} // namespace

extern const CliCommand airspaceCheckCommand {
    .name = "airspace-check",
    .usage = "FILE.igc|ID [--airspaces OPENAIR] [--terrain DIR] [--json] [--library DIR]",
    .summary = "the airspaces a flight entered (exit status 10 when there is one)",
    .options = {
        { "airspaces", "OPENAIR", "the OpenAir file to check against (kept in the library for a library flight); "
                                  "default for a library flight: the set its instrument held on the flight's day" },
        { "terrain", "DIR", "the folder of elevation tiles (SRTM .hgt, GeoTIFF; default: $CORVEX_TERRAIN, else the "
                            "preference): what it covers is reported, the verdict does not use it yet" },
        { "json", nullptr, "a JSON object instead of text" },
        libraryOption,
    },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runAirspaceCheck,
};

} // namespace corvex::cli
