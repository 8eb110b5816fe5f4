#include "Commands.h"
#include "LibraryAccess.h"

#include "airspaces/OpenAirParser.h"
#include "analysis/AirspaceCheck.h"
#include "flights/IgcFlight.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <ostream>

namespace corvex::cli {

namespace {

// Exit code when the flight entered at least one airspace, as `update check` says an
// update is there: the check worked, its answer is "yes".
constexpr int crossingsFound = 10;





std::string crossingJson(const flights::IgcFlight& flight, const analysis::AirspaceCrossing& crossing)
{
    const auto& deepest = flight.fixes[crossing.deepestHorizontalIndex];
    std::string json = "{\"name\": " + jsonString(crossing.name) + ", \"class\": " + jsonString(crossing.airspaceClass)
        + ", \"entry\": " + jsonString(isoTime(crossing.entryTime)) + ", \"exit\": " + jsonString(isoTime(crossing.exitTime))
        + ", \"entry_fix\": " + std::to_string(crossing.entryIndex) + ", \"exit_fix\": " + std::to_string(crossing.exitIndex)
        + ", \"certain\": " + (crossing.certain ? "true" : "false") + ", \"reason\": " + jsonString(crossing.reason)
        + ", \"deepest\": {\"fix\": " + std::to_string(crossing.deepestHorizontalIndex)
        + ", \"time\": " + jsonString(isoTime(deepest.time)) + ", \"latitude\": " + fixed(deepest.latitude, 6)
        + ", \"longitude\": " + fixed(deepest.longitude, 6)
        + ", \"inside_edge_m\": " + fixed(crossing.deepestHorizontalMetres, 0);
    if (crossing.deepestVerticalIndex)
        json += ", \"vertical_fix\": " + std::to_string(*crossing.deepestVerticalIndex)
            + ", \"vertical_margin_m\": " + fixed(crossing.deepestVerticalMetres, 0);
    else
        json += ", \"vertical_fix\": null, \"vertical_margin_m\": null";
    return json + "}}";
}

int runAirspaceCheck(CliContext& context)
{
    const auto path = flightFilePath(context);
    if (!path)
        return FileError;
    const auto flight = flights::readIgcFile(*path);
    if (!flight) {
        printError(context.err, flight.error());
        return FileError;
    }
    const std::string openAirPath = *context.option("airspaces");
    std::ifstream in(openAirPath, std::ios::binary);
    std::error_code error;
    if (!in || !std::filesystem::is_regular_file(openAirPath, error)) {
        printError(context.err, "cannot read " + openAirPath);
        return FileError;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const auto parsed = openair::parse(openair::decodeFileText(bytes));
    if (parsed.airspaces.empty()) {
        printError(context.err, openAirPath + " holds no airspace that reads as OpenAir");
        return FileError;
    }
    // The check goes on with what reads: a line of the file not understood is named,
    // since its airspace may be missing from the answer.
    for (const auto& problem : parsed.errors)
        context.err << "corvex: " << openAirPath << ": line " << problem.line << ": " << problem.message << " (skipped)\n";
    for (const auto& problem : flight->problems)
        context.err << "corvex: " << *path << ": line " << problem.line << ": " << problem.message << " (skipped)\n";
    const auto check = analysis::checkAirspaces(*flight, parsed);

    if (context.option("json")) {
        std::string text = "{\"crossings\": [";
        for (std::size_t i = 0; i < check.crossings.size(); ++i)
            text += (i ? ",\n  " : "\n  ") + crossingJson(*flight, check.crossings[i]);
        text += check.crossings.empty() ? "]" : "\n]";
        text += ", \"notes\": [";
        for (std::size_t i = 0; i < check.notes.size(); ++i)
            text += (i ? ", " : "") + jsonString(check.notes[i]);
        context.out << text << "]}\n";
    } else {
        for (const std::string& note : check.notes)
            context.out << "note: " << note << "\n";
        for (const auto& crossing : check.crossings) {
            context.out << isoTime(crossing.entryTime) << " to " << isoTime(crossing.exitTime) << "  "
                        << (crossing.certain ? "inside  " : "possibly") << "  " << crossing.airspaceClass << " "
                        << crossing.name << "  (" << fixed(crossing.deepestHorizontalMetres, 0) << " m inside the edge";
            if (crossing.deepestVerticalIndex)
                context.out << ", " << fixed(crossing.deepestVerticalMetres, 0) << " m inside the limits";
            context.out << ")\n";
            if (!crossing.reason.empty())
                context.out << "    " << crossing.reason << "\n";
        }
        context.out << check.crossings.size() << (check.crossings.size() == 1 ? " crossing" : " crossings") << "\n";
    }
    return check.crossings.empty() ? Success : crossingsFound;
}

} // namespace

extern const CliCommand airspaceCheckCommand {
    .name = "airspace-check",
    .usage = "FILE.igc|ID --airspaces OPENAIR [--json] [--library DIR]",
    .summary = "the airspaces a flight entered (exit status 10 when there is one)",
    .options = {
        { "airspaces", "OPENAIR", "the OpenAir file to check against", true },
        { "json", nullptr, "a JSON object instead of text" },
        libraryOption,
    },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runAirspaceCheck,
};

} // namespace corvex::cli
