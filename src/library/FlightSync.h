#pragma once

#include "device/DeviceError.h"
#include "device/FlightRecord.h"
#include "export/TrackLogExport.h"
#include "library/FlightLibrary.h"
#include "platform/OperationContext.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvex::library {

// What one sync did.
struct SyncOutcome {
    std::string serial; // the instrument's, hexadecimal
    // Set when the serial or the flight list could not be read: nothing was recorded.
    std::optional<DeviceError> listFailure;
    std::vector<ImportOutcome> added; // Imported, in the list's order
    std::size_t alreadyInLibrary { 0 };
    // Flights the instrument listed that did not come: read failures and refusals.
    struct Failed {
        std::int64_t flightNumber { 0 };
        std::string reason;
    };
    std::vector<Failed> failed;
    bool succeeded() const { return !listFailure && failed.empty(); }
};

struct SyncHooks {
    // After each flight that came in.
    std::function<void(const ImportOutcome& outcome)> added;
};

// Every flight of the instrument's log book that the library does not have yet, saved
// as IGC (the instrument's own where its firmware writes IGC, else made from its track
// log) and indexed. A flight is known by the instrument's serial and its log-book
// take-off time, so a second sync downloads nothing and a renumbered log book (after
// an erase) never brings a flight twice. The caller holds the instrument (a lease)
// for the whole of it. The context hears "Saving new flight i of n" for each flight to
// download, as part i of n, and the transfer's own progress within it; a cancel ends
// the sync after what came in so far.
SyncOutcome syncInstrument(CorvexDevice& device, FlightLibrary& library, const TrackLogExportOptions& options,
    const OperationContext& context, const SyncHooks& hooks = {});

// The instrument's serial as the program shows it ("1A2B3C").
std::string instrumentSerialText(std::uint32_t deviceId);

} // namespace corvex::library
