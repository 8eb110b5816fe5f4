#include "library/FlightSync.h"

#include "base/Format.h"
#include "device/CorvexDevice.h"

namespace corvex::library {

std::string instrumentSerialText(std::uint32_t deviceId) { return formatString("%X", deviceId); }

SyncOutcome syncInstrument(CorvexDevice& device, FlightLibrary& library, const TrackLogExportOptions& options,
    const OperationContext& context, const SyncHooks& hooks)
{
    SyncOutcome outcome;
    const CorvexDevice::OperationScope scope(device, context);
    context.beginStep("Reading the flight list. Please wait...");
    const auto info = device.getDeviceInfo();
    if (!info) {
        outcome.listFailure = info.error();
        context.finish();
        return outcome;
    }
    outcome.serial = instrumentSerialText(info->deviceId);
    auto list = device.listFlightsShort();
    if (!list) {
        outcome.listFailure = list.error();
        context.finish();
        return outcome;
    }
    // A sync killed after a file was whole but before its index row: record it first,
    // so that it is not downloaded again. An index that fails here fails each flight's
    // recording below too, which the outcome reports flight by flight.
    (void)library.reconcile();

    std::vector<FlightRecord> wanted;
    for (const FlightRecord& record : *list) {
        if (library.instrumentFlight(outcome.serial, record.launchMinutesSince2000()))
            ++outcome.alreadyInLibrary;
        else
            wanted.push_back(record);
    }
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        const FlightRecord& record = wanted[i];
        if (context.isCancelled()) {
            outcome.failed.push_back({ record.flightNumber, "the sync was cancelled" });
            continue;
        }
        const OperationContext part = context.part(i, wanted.size());
        part.beginStep(formatString("Saving new flight %zu of %zu into the library. Please wait...", i + 1, wanted.size()));
        TrackLogExport exporter(device, options, part);
        std::optional<std::string> suggestedName;
        const auto text = exporter.downloadTracklogIntoString(record.flightNumber, TrackLogFileFormat::Igc, &suggestedName);
        if (!text) {
            outcome.failed.push_back({ record.flightNumber, deviceErrorSummary(text.error()) });
            if (text.error().kind == DeviceErrorKind::Unplugged || text.error().kind == DeviceErrorKind::Cancelled)
                break;
            continue;
        }
        ImportOutcome added = library.addInstrumentFlight(
            *text, outcome.serial, record.launchMinutesSince2000(), "flight " + std::to_string(record.flightNumber));
        switch (added.kind) {
        case ImportOutcome::Kind::Imported:
            if (hooks.added)
                hooks.added(added);
            outcome.added.push_back(std::move(added));
            break;
        case ImportOutcome::Kind::AlreadyInLibrary:
            // Came in before by import or under another log-book time; now matched.
            ++outcome.alreadyInLibrary;
            break;
        case ImportOutcome::Kind::Refused:
            outcome.failed.push_back({ record.flightNumber, added.message });
            break;
        }
    }
    context.finish();
    return outcome;
}

} // namespace corvex::library
