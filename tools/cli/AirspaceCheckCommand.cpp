#include "Commands.h"
#include "LibraryAccess.h"

#include "airspaces/OpenAirParser.h"
#include "analysis/AirspaceFileCheck.h"
#include "base/FileRead.h"
#include "base/Format.h"
#include "base/Units.h"
#include "flights/IgcFlight.h"
#include "library/AirspaceArchive.h"
#include "platform/qt/PreferencesStore.h"
#include "terrain/Geoid.h"
#include "terrain/TerrainTiles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
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

// Whole metres, or null where there is no height to compare.
Json metres(const std::optional<double>& value) { return value ? Json(rounded(*value, 0)) : Json(nullptr); }

Json sensorJson(const flights::IgcFlight& flight, const analysis::SensorStay& stay)
{
    if (!stay.inside)
        return nullptr;
    Json json { { "entry", isoTime(stay.entryTime) }, { "exit", isoTime(stay.exitTime) }, { "deepest", nullptr } };
    if (stay.deepestIndex)
        json["deepest"] = Json { { "fix", *stay.deepestIndex }, { "time", isoTime(flight.fixes[*stay.deepestIndex].time) },
            { "above_floor_m", metres(stay.aboveFloorMetres) }, { "below_ceiling_m", metres(stay.belowCeilingMetres) } };
    return json;
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
    return Json { { "name", crossing.name }, { "class", crossing.airspaceClass }, { "flight", crossing.flight + 1 },
        { "entry", isoTime(crossing.entryTime) }, { "exit", isoTime(crossing.exitTime) }, { "entry_fix", crossing.entryIndex },
        { "exit_fix", crossing.exitIndex }, { "certain", crossing.certain }, { "reason", crossing.reason },
        { "altitude_source", crossing.altitudeSource == analysis::AltitudeSource::Pressure ? "pressure" : "gnss" },
        { "pressure", sensorJson(flight, crossing.pressure) }, { "gnss", sensorJson(flight, crossing.gnss) },
        { "inside_m", rounded(crossing.deepestHorizontalMetres, 0) }, { "above_floor_m", metres(crossing.aboveFloorMetres) },
        { "below_ceiling_m", metres(crossing.belowCeilingMetres) },
        { "pressure_minus_gnss_m", metres(crossing.sensorDifferenceMetres) }, { "deepest", std::move(deepestJson) } };
}

// "2 airspaces entered (3 times)": airspaces, not crossings, are what a pilot counts.
std::string enteredText(const analysis::AirspaceCheck& check)
{
    const std::size_t airspaces = check.airspacesEntered(), times = check.crossings.size();
    if (airspaces == 0)
        return "no airspace entered";
    std::string text = std::to_string(airspaces) + (airspaces == 1 ? " airspace entered (" : " airspaces entered (")
        + std::to_string(times) + (times == 1 ? " time)" : " times)");
    const auto possible = static_cast<std::size_t>(std::count_if(
        check.crossings.begin(), check.crossings.end(), [](const auto& crossing) { return !crossing.certain; }));
    if (possible > 0)
        text += ", " + std::to_string(possible) + " of the times only possibly";
    return text;
}

// "H,V" in metres, neither negative; nothing for a text that is not such a pair.
std::optional<analysis::AirspaceTolerance> parseTolerance(const std::string& text)
{
    const auto comma = text.find(',');
    if (comma == std::string::npos)
        return std::nullopt;
    const auto number = [](const std::string& part) -> std::optional<double> {
        try {
            std::size_t used = 0;
            const double value = std::stod(part, &used);
            if (used != part.size() || !std::isfinite(value) || value < 0 || value > 1e6)
                return std::nullopt;
            return value;
        } catch (...) {
            return std::nullopt;
        }
    };
    const auto horizontal = number(text.substr(0, comma)), vertical = number(text.substr(comma + 1));
    if (!horizontal || !vertical)
        return std::nullopt;
    return analysis::AirspaceTolerance { *horizontal, *vertical };
}

// The terrain folder (--terrain, $CORVEX_TERRAIN, the preference "terrainFolder"),
// scanned once; nothing when none is chosen.
std::unique_ptr<terrain::TerrainTiles> terrainFor(const CliContext& context)
{
    terrain::TerrainFolderChoice choice;
    choice.commandLine = context.option("terrain");
    if (!choice.commandLine)
        choice.preference = PreferencesStore().stringValue("terrainFolder").toStdString();
    const auto folder = terrain::terrainFolder(choice);
    if (!folder)
        return nullptr;
    return std::make_unique<terrain::TerrainTiles>(*folder);
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
    analysis::AirspaceCheckOptions options;
    if (const auto given = context.option("tolerance-m")) {
        const auto tolerance = parseTolerance(*given);
        if (!tolerance) {
            printError(context.err, "--tolerance-m takes two distances in metres, across the edge and across a limit: 200,50");
            return UsageError;
        }
        options.tolerance = *tolerance;
    } else {
        const PreferencesStore preferences;
        options.tolerance.horizontalMetres = std::max(0.0, preferences.value("airspaceToleranceHorizontal").toDouble());
        options.tolerance.verticalMetres = std::max(0.0, preferences.value("airspaceToleranceVertical").toDouble());
    }
    const auto tiles = terrainFor(context);
    options.terrain = tiles.get();
    // The geoid only for a recorder that writes its GNSS altitude above the ellipsoid.
    std::optional<terrain::Geoid> geoid;
    std::string geoidProblem;
    if (const auto datum = flight->headerValue("ALG"); datum && (datum->find("ELL") != std::string::npos)) {
        auto loaded = terrain::Geoid::load();
        if (loaded)
            geoid.emplace(std::move(*loaded));
        else
            geoidProblem = loaded.error();
    }
    options.geoid = geoid ? &*geoid : nullptr;
    const auto checked = analysis::checkAgainstOpenAirFile(openAirPath, &*flight, std::nullopt, options);
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
    const std::optional<terrain::TerrainSummary> terrainSummary = tiles ? std::optional(tiles->summary()) : std::nullopt;
    if (terrainSummary && !context.option("json"))
        context.err << "terrain: " << visibleText(terrain::terrainSummaryText(*terrainSummary)) << "\n";
    if (!geoidProblem.empty())
        context.err << "corvex: note: " << visibleText(geoidProblem) << "\n";

    if (context.option("json")) {
        Json json { { "airspaces_entered", check.airspacesEntered() }, { "crossings", Json::array() },
            { "notes", check.notes }, { "airspaces", openAirPath }, { "flights", check.flights },
            { "gnss_altitude", Json { { "datum", check.gnssDatum }, { "assumed", check.gnssDatumAssumed } } },
            { "tolerance_m",
                Json { { "horizontal", options.tolerance.horizontalMetres }, { "vertical", options.tolerance.verticalMetres } } } };
        if (terrainSummary)
            json["terrain"] = terrainJson(*terrainSummary);
        for (const auto& crossing : check.crossings)
            json["crossings"].push_back(crossingJson(*flight, crossing));
        context.out << jsonText(json, JsonLayout::ObjectLines) << "\n";
    } else {
        const UnitSystem units = textChoice(context).units;
        const auto height = [units](double metres) { return quantityText(Quantity::Altitude, metres, units); };
        for (const std::string& note : check.notes)
            context.out << "note: " << visibleText(note) << "\n";
        if (options.tolerance.horizontalMetres > 0 || options.tolerance.verticalMetres > 0)
            context.out << "tolerance: " << height(options.tolerance.horizontalMetres) << " across the edge, "
                        << height(options.tolerance.verticalMetres) << " across a limit\n";
        const auto sensorText = [&](const analysis::SensorStay& stay) {
            if (!stay.inside)
                return std::string("outside");
            std::string text = isoTime(stay.entryTime).substr(11, 8) + " to " + isoTime(stay.exitTime).substr(11, 8);
            if (stay.aboveFloorMetres)
                text += ", " + height(*stay.aboveFloorMetres) + " above the floor";
            if (stay.belowCeilingMetres)
                text += ", " + height(*stay.belowCeilingMetres) + " below the ceiling";
            return text;
        };
        for (const auto& crossing : check.crossings) {
            context.out << isoTime(crossing.entryTime) << " to " << isoTime(crossing.exitTime) << "  "
                        << (crossing.certain ? "inside  " : "possibly") << "  " << visibleText(crossing.airspaceClass) << " "
                        << visibleText(crossing.name) << "  (" << height(crossing.deepestHorizontalMetres) << " inside the edge";
            if (crossing.aboveFloorMetres)
                context.out << ", " << height(*crossing.aboveFloorMetres) << " above the floor";
            if (crossing.belowCeilingMetres)
                context.out << ", " << height(*crossing.belowCeilingMetres) << " below the ceiling";
            context.out << "; by " << (crossing.altitudeSource == analysis::AltitudeSource::Pressure ? "pressure" : "GNSS")
                        << " altitude)\n";
            context.out << "    pressure: " << sensorText(crossing.pressure) << "; GNSS: " << sensorText(crossing.gnss) << "\n";
            if (!crossing.reason.empty())
                context.out << "    " << visibleText(crossing.reason) << "\n";
        }
        context.out << enteredText(check) << "\n";
    }
    return check.crossings.empty() ? Success : crossingsFound;
}

} // namespace

extern const CliCommand airspaceCheckCommand {
    .name = "airspace-check",
    .usage = "FILE.igc|ID [--airspaces OPENAIR] [--terrain DIR] [--tolerance-m H,V] [--json] [--library DIR]",
    .summary = "the airspaces a flight entered (exit status 10 when there is one)",
    .options = {
        { "airspaces", "OPENAIR", "the OpenAir file to check against (kept in the library for a library flight); "
                                  "default for a library flight: the set its instrument held on the flight's day" },
        { "terrain", "DIR", "the folder of elevation tiles (SRTM .hgt, GeoTIFF; default: $CORVEX_TERRAIN, else the "
                            "preference): limits above ground are judged where a tile covers the fix" },
        { "tolerance-m", "H,V", "a fix counts inside only when more than H metres inside the outline and more than V "
                                "metres beyond a limit (default: the preferences, else 0,0)" },
        { "json", nullptr, "a JSON object instead of text" },
        libraryOption,
    },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runAirspaceCheck,
};

} // namespace corvex::cli
