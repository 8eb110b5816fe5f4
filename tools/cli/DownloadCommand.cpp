#include "Commands.h"

#include "export/ExportFiles.h"
#include "export/TrackLogExport.h"

#include <charconv>
#include <ostream>

namespace corvex::cli {

namespace {

struct DownloadArguments {
    std::optional<std::int64_t> flightNumber; // nothing: all flights
    TrackLogFileFormat format { TrackLogFileFormat::Igc };
    std::string folder { "." };
};

std::optional<std::int64_t> positiveNumber(const std::string& text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc {} || end != text.data() + text.size() || value <= 0 || value > 0xFFFF)
        return std::nullopt;
    return value;
}

std::optional<DownloadArguments> parseArguments(const std::vector<std::string>& arguments, std::ostream& err)
{
    DownloadArguments parsed;
    bool haveFlight = false;
    bool haveFormat = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        std::optional<std::string> value;
        if (const auto equals = argument.find('='); argument.starts_with("--") && equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument.resize(equals);
        }
        if (argument == "--format" || argument == "--out") {
            if (!value) {
                if (i + 1 >= arguments.size()) {
                    printError(err, argument + " needs a value");
                    return std::nullopt;
                }
                value = arguments[++i];
            }
            if (argument == "--out") {
                parsed.folder = *value;
                continue;
            }
            if (*value != "igc" && *value != "kml") {
                printError(err, "--format is igc or kml, not " + *value);
                return std::nullopt;
            }
            parsed.format = *value == "igc" ? TrackLogFileFormat::Igc : TrackLogFileFormat::Kml;
            haveFormat = true;
            continue;
        }
        if (argument.starts_with("-") || haveFlight) {
            printError(err, "unexpected argument " + arguments[i] + " (usage: corvex download FLIGHT|all --format igc|kml [--out DIR])");
            return std::nullopt;
        }
        haveFlight = true;
        if (argument == "all")
            continue;
        parsed.flightNumber = positiveNumber(argument);
        if (!parsed.flightNumber) {
            printError(err, "the flight is a flight number from 1 to 65535 or all, not " + argument);
            return std::nullopt;
        }
    }
    if (!haveFlight || !haveFormat) {
        printError(err, "usage: corvex download FLIGHT|all --format igc|kml [--out DIR]");
        return std::nullopt;
    }
    return parsed;
}

int runDownload(CliContext& context)
{
    const auto arguments = parseArguments(context.arguments, context.err);
    if (!arguments)
        return UsageError;
    CliSession session(context.port);
    if (auto failure = session.connect())
        return *failure;
    // The firmware version decides the read path.
    if (!session.device().getDeviceInfo()) {
        printError(context.err, "the instrument at " + session.portPath() + " does not answer (no device info)");
        return InstrumentFailed;
    }
    StderrAlertPresenter alerts;
    TrackLogExportEnvironment environment;
    environment.log = &session.device().log();
    environment.alerts = &alerts;
    environment.programVersion = CORVEX_VERSION;
    TrackLogExport exporter(session.device(), environment);

    if (!arguments->flightNumber) {
        const AllTracklogsOutcome outcome
            = exporter.downloadAllTracklogsIntoFolder(arguments->folder, [&] { return arguments->format; });
        if (!outcome.flightListRead) {
            printError(context.err, "the instrument at " + session.portPath() + " did not send its flight list");
            return InstrumentFailed;
        }
        for (const std::string& path : outcome.writtenFiles)
            context.out << path << "\n";
        for (const std::string& path : outcome.unwritableFiles)
            printError(context.err, "cannot write " + path);
        for (const std::int64_t flight : outcome.failedFlights)
            printError(context.err, "flight " + std::to_string(flight) + " could not be read");
        if (!outcome.unwritableFiles.empty())
            return FileError;
        return outcome.failedFlights.empty() ? Success : InstrumentFailed;
    }

    const std::int64_t flight = *arguments->flightNumber;
    std::optional<std::string> suggested;
    const auto text = exporter.downloadTracklogIntoString(flight, arguments->format, &suggested);
    if (!text) {
        printError(context.err, "flight " + std::to_string(flight) + " could not be read");
        return InstrumentFailed;
    }
    const std::string name = suggested.value_or(TrackLogExport::fallbackFilename(flight)) + "."
        + std::string(fileExtension(arguments->format));
    const std::string path = pathInFolder(arguments->folder, name);
    if (!writeTextFile(path, *text, FileWriteMode::Atomic)) {
        printError(context.err, "cannot write " + path);
        return FileError;
    }
    context.out << path << "\n";
    return Success;
}

} // namespace

extern const CliCommand downloadCommand { "download", "FLIGHT|all --format igc|kml [--out DIR]",
    "save one flight or all flights as IGC or KML files", runDownload };

} // namespace corvex::cli
