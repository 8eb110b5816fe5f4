#include "Commands.h"
#include "TerminalProgress.h"

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

// An alert about one flight starts on a line of its own, not after the progress.
class AlertsAfterProgress final : public AlertPresenter {
public:
    AlertsAfterProgress(TerminalProgress& progress, AlertPresenter& alerts)
        : m_progress(progress)
        , m_alerts(alerts)
    {
    }
    int showAlert(const Alert& alert) override
    {
        m_progress.finish();
        return m_alerts.showAlert(alert);
    }

private:
    TerminalProgress& m_progress;
    AlertPresenter& m_alerts;
};

std::optional<std::int64_t> positiveNumber(const std::string& text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc {} || end != text.data() + text.size() || value <= 0 || value > 0xFFFF)
        return std::nullopt;
    return value;
}

std::optional<DownloadArguments> parseArguments(const CliContext& context)
{
    DownloadArguments parsed;
    const std::string format = context.option("format").value_or("");
    if (format != "igc" && format != "kml") {
        printError(context.err, "--format is igc or kml, not " + format);
        return std::nullopt;
    }
    parsed.format = format == "igc" ? TrackLogFileFormat::Igc : TrackLogFileFormat::Kml;
    parsed.folder = context.option("out").value_or(parsed.folder);
    const std::string& flight = context.arguments.front();
    if (flight != "all") {
        parsed.flightNumber = positiveNumber(flight);
        if (!parsed.flightNumber) {
            printError(context.err, "the flight is a flight number from 1 to 65535 or all, not " + flight);
            return std::nullopt;
        }
    }
    return parsed;
}

int runDownload(CliContext& context)
{
    const auto arguments = parseArguments(context);
    if (!arguments)
        return UsageError;
    if (!prepareOutputFolder(arguments->folder, context.err))
        return FileError;
    CliSession session(context.port);
    if (auto failure = session.connect())
        return *failure;
    // The firmware version decides the read path.
    if (!session.device().getDeviceInfo()) {
        printError(context.err, "the instrument at " + session.portPath() + " does not answer (no device info)");
        return InstrumentFailed;
    }
    StderrAlertPresenter alerts;
    TrackLogExport exporter(session.device(), TrackLogExportOptions { &alerts, CORVEX_VERSION }, OperationContext(session.log()));

    if (!arguments->flightNumber) {
        // "flight 3 of 6 (41%)", moving as the flight comes in.
        TerminalProgress progress(context.err, "flight");
        AlertsAfterProgress alertsAfterProgress(progress, alerts);
        TrackLogExport allFlights(session.device(), TrackLogExportOptions { &alertsAfterProgress, CORVEX_VERSION },
            OperationContext(session.log()).withProgress(&progress));
        const AllTracklogsOutcome outcome
            = allFlights.downloadAllTracklogsIntoFolder(arguments->folder, [&] { return arguments->format; });
        const std::size_t flights = outcome.writtenFiles.size() + outcome.failedFlights.size() + outcome.unwritableFiles.size();
        progress.show("flight " + std::to_string(flights) + " of " + std::to_string(flights), flights, flights);
        progress.finish();
        if (!outcome.flightListRead) {
            printError(context.err, "the instrument at " + session.portPath() + " did not send its flight list");
            return InstrumentFailed;
        }
        for (const std::string& path : outcome.writtenFiles)
            context.out << visibleText(path) << "\n";
        for (const std::string& path : outcome.unwritableFiles)
            printError(context.err, "cannot write " + path);
        for (std::size_t i = 0; i < outcome.failedFlights.size(); ++i)
            printError(context.err, "flight " + std::to_string(outcome.failedFlights[i]) + " could not be read: "
                    + deviceErrorSummary(outcome.failures[i]));
        if (!outcome.unwritableFiles.empty())
            return FileError;
        return outcome.failedFlights.empty() ? Success : InstrumentFailed;
    }

    const std::int64_t flight = *arguments->flightNumber;
    std::optional<std::string> suggested;
    const auto text = exporter.downloadTracklogIntoString(flight, arguments->format, &suggested);
    if (!text) {
        printError(context.err, "flight " + std::to_string(flight) + " could not be read: " + deviceErrorSummary(text.error()));
        return InstrumentFailed;
    }
    const std::string name = suggested.value_or(TrackLogExport::fallbackFilename(flight)) + "."
        + std::string(fileExtension(arguments->format));
    const std::string path = pathInFolder(arguments->folder, name);
    if (!writeTextFile(path, *text, FileWriteMode::Atomic)) {
        printError(context.err, "cannot write " + path);
        return FileError;
    }
    context.out << visibleText(path) << "\n";
    return Success;
}

} // namespace

extern const CliCommand downloadCommand {
    .name = "download",
    .usage = "FLIGHT|all --format igc|kml [--out DIR]",
    .summary = "save one flight or all flights as IGC or KML files",
    .options = {
        { "format", "igc|kml", "the file format", true },
        { "out", "DIR", "the folder to write into (default: the current folder)" },
    },
    .minimumArguments = 1,
    .maximumArguments = 1,
    .run = runDownload,
};

} // namespace corvex::cli
