#include "export/TrackLogExport.h"

#include "export/ExportFiles.h"
#include "export/FlightRecordText.h"
#include "export/IgcWriter.h"
#include "export/KmlWriter.h"
#include "platform/AlertPresenter.h"
#include "platform/LogSink.h"

namespace corvex {

namespace {

// A list in a log line, the way the platform describes one: "(\n    a,\n    b\n)".
template<typename Item, typename Describe>
std::string describeList(const std::vector<Item>& items, Describe describe)
{
    if (items.empty())
        return "(\n)";
    std::string text = "(\n";
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += "    " + describe(items[i]);
        text += i + 1 < items.size() ? ",\n" : "\n";
    }
    return text + ")";
}

std::string describeTrack(const DeviceResult<std::vector<LocationSample>>& samples)
{
    if (!samples)
        return "(null)";
    return describeList(*samples, [](const LocationSample& sample) { return sample.description(); });
}

std::optional<std::string> safeName(const std::optional<std::string>& name)
{
    if (!name)
        return std::nullopt;
    std::string safe = safeFileName(*name);
    if (safe.empty())
        return std::nullopt;
    return safe;
}

} // namespace

std::string_view fileExtension(TrackLogFileFormat format)
{
    return format == TrackLogFileFormat::Kml ? "kml" : "igc";
}

TrackLogExport::TrackLogExport(CorvexDevice& device, TrackLogExportOptions options, OperationContext context)
    : m_device(device)
    , m_options(std::move(options))
    , m_context(std::move(context))
{
}

void TrackLogExport::alert(const char* message, const char* informativeText)
{
    if (m_options.alerts)
        m_options.alerts->showAlert(Alert { message, informativeText, { "Ok" } });
}

std::string TrackLogExport::fallbackFilename(std::int64_t flightNumber)
{
    return formatString("CorvexVario-flight-%lld", static_cast<long long>(flightNumber));
}

DeviceResult<std::string> TrackLogExport::downloadTracklogIntoStringForFlight(
    std::int64_t flightNumber, bool returnIgc, std::optional<std::string>* suggestedFilename)
{
    const CorvexDevice::OperationScope scope(m_device, m_context);
    return firstPath(m_context, flightNumber, returnIgc, suggestedFilename);
}

DeviceResult<std::string> TrackLogExport::firstPath(
    const OperationContext& context, std::int64_t flightNumber, bool returnIgc, std::optional<std::string>* suggestedFilename)
{
    const PilotData pilotData = m_device.downloadPilotData();
    HRecord hRecord;
    GRecord gRecord;
    const auto samples = m_device.downloadLocationSamplesForFlightNumber(flightNumber, &hRecord, &gRecord);
    logLine(context.log(), "%s", describeTrack(samples).c_str());
    if (!samples) {
        alert("Error dowloading track log", "Make sure device has the latest firmware version");
        return Failure { samples.error() };
    }

    // The first format's name carries the flight's date from the H record, read as
    // unsigned bytes.
    TimeRecordFields date;
    date.day = hRecord.bytes[18];
    date.month = hRecord.bytes[19];
    date.year = hRecord.bytes[20];
    if (suggestedFilename)
        *suggestedFilename = safeName(suggestedTrackLogFilename(&hRecord, date, flightNumber));

    if (returnIgc) {
        const WriterStamp stamp { m_options.programVersion, context.now() };
        return generateIgcFileForSamples(*samples, pilotData, hRecord, gRecord, stamp);
    }
    return generateKmlFileForSamples(*samples, pilotData, hRecord, gRecord);
}

DeviceResult<std::string> TrackLogExport::downloadTracklogIntoStringForFlightV2(
    std::int64_t flightNumber, bool returnIgc, std::optional<std::string>* suggestedFilename)
{
    const CorvexDevice::OperationScope scope(m_device, m_context);
    return secondPath(m_context, flightNumber, returnIgc, suggestedFilename, Step::Own);
}

DeviceResult<std::string> TrackLogExport::secondPath(const OperationContext& context, std::int64_t flightNumber,
    bool returnIgc, std::optional<std::string>* suggestedFilename, Step step)
{
    if (returnIgc) {
        if (step == Step::Own)
            context.beginStep(formatString("Downloading flight #%d. Please wait...", static_cast<int>(flightNumber)));
        std::optional<std::string> proposedName;
        auto igc = m_device.downloadTextIgcFromTheDevice(static_cast<std::uint16_t>(flightNumber), &proposedName);
        if (step == Step::Own)
            context.finish();
        if (!igc) {
            logLine(context.log(), "igcFileContent is nil, something went wrong");
            return Failure { igc.error() };
        }
        if (suggestedFilename)
            *suggestedFilename = safeName(proposedName);
        return igc;
    }

    const PilotData pilotData = m_device.downloadPilotData();
    HRecord hRecord;
    GRecord gRecord;
    std::string proposedName;
    const auto samples
        = m_device.downloadLocationSamplesV2ForFlightNumber(flightNumber, &hRecord, &gRecord, &proposedName);
    logLine(context.log(), "%s", describeTrack(samples).c_str());
    if (!samples) {
        alert("Error dowloading track log", "Make sure device has the latest firmware version");
        return Failure { samples.error() };
    }
    if (suggestedFilename)
        *suggestedFilename = safeName(proposedName);
    return generateKmlFileForSamples(*samples, pilotData, hRecord, gRecord);
}

DeviceResult<std::string> TrackLogExport::downloadTracklogIntoString(
    std::int64_t flightNumber, TrackLogFileFormat format, std::optional<std::string>* suggestedFilename)
{
    const bool igc = format == TrackLogFileFormat::Igc;
    if (usesSecondPath())
        return downloadTracklogIntoStringForFlightV2(flightNumber, igc, suggestedFilename);
    return downloadTracklogIntoStringForFlight(flightNumber, igc, suggestedFilename);
}

AllTracklogsOutcome TrackLogExport::downloadAllTracklogsIntoFolder(
    const std::string& folder, const std::function<TrackLogFileFormat()>& wantedFormat)
{
    AllTracklogsOutcome outcome;
    const bool secondFormat = usesSecondPath();
    const CorvexDevice::OperationScope scope(m_device, m_context);
    const auto flights = m_device.listFlightsShort();
    if (!flights) {
        if (secondFormat)
            alert("Something went wrong", "Unable to download tracklogs");
        return outcome;
    }
    outcome.flightListRead = true;

    // The user stopped the export: the flights from this one on are not asked for, and
    // count as not read.
    const auto notRead = [&](std::size_t from, const DeviceError& error) {
        for (std::size_t rest = from; rest < flights->size(); ++rest) {
            outcome.failedFlights.push_back((*flights)[rest].flightNumber);
            outcome.failures.push_back(error);
        }
    };
    ExportNameBook names;
    for (std::size_t index = 0; index < flights->size(); ++index) {
        if (m_context.isCancelled()) {
            notRead(index, DeviceError::of(DeviceErrorKind::Cancelled, "the export was cancelled"));
            break;
        }
        const FlightRecord& flight = (*flights)[index];
        logLine(m_context.log(), "Downloading record %lu out of %lu", static_cast<unsigned long>(index),
            static_cast<unsigned long>(flights->size()));
        const OperationContext part = m_context.part(index, flights->size());
        const CorvexDevice::OperationScope partScope(m_device, part);
        part.beginStep(formatString("Downloading flight %lu of %lu. Please wait...", static_cast<unsigned long>(index + 1),
            static_cast<unsigned long>(flights->size())));
        part.progress(0.0);
        const TrackLogFileFormat format = wantedFormat();
        std::optional<std::string> suggested;
        const bool igc = format == TrackLogFileFormat::Igc;
        const auto text = secondFormat ? secondPath(part, flight.flightNumber, igc, &suggested, Step::ShownByCaller)
                                       : firstPath(part, flight.flightNumber, igc, &suggested);
        if (!text && text.error().kind == DeviceErrorKind::Cancelled) {
            notRead(index, text.error());
            break;
        }
        if (!text) {
            outcome.failedFlights.push_back(flight.flightNumber);
            outcome.failures.push_back(text.error());
            alert("Something went wrong", "Unable to download tracklogs");
            continue;
        }
        const std::string base = suggested.value_or(fallbackFilename(flight.flightNumber));
        const std::string path = pathInFolder(folder, names.claim(base, fileExtension(format), flight.flightNumber));
        if (writeTextFile(path, *text, FileWriteMode::InPlace))
            outcome.writtenFiles.push_back(path);
        else
            outcome.unwritableFiles.push_back(path);
    }
    return outcome;
}

std::optional<std::string> TrackLogExport::downloadLogbookText()
{
    const auto flights = m_device.listFlightsFull();
    if (!flights) {
        alert("Error dowloading logbook", "Make sure device has the latest firmware version");
        return std::nullopt;
    }
    logLine(m_context.log(), "\n\n\n%s",
        describeList(*flights, [](const FlightRecord& record) { return description(record); }).c_str());
    std::string csv = recordCsvStringTitle() + "\n";
    for (const FlightRecord& record : *flights)
        csv += recordCsvString(record) + "\n";
    return csv;
}

} // namespace corvex
