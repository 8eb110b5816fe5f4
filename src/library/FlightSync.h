#pragma once

#include "device/DeviceError.h"
#include "device/FlightRecord.h"
#include "library/FlightLibrary.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvex {
class CorvexDevice;
class TrackLogExport;
}

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

struct SyncProgress {
    // Before each flight that has to be downloaded: its place among those (from 1).
    std::function<void(std::size_t flight, std::size_t flightsToDownload, const FlightRecord& record)> downloading;
    // After each flight that came in.
    std::function<void(const ImportOutcome& outcome)> added;
};

// Every flight of the instrument's log book that the library does not have yet, saved
// as IGC (the instrument's own where its firmware writes IGC, else made from its track
// log) and indexed. A flight is known by the instrument's serial and its log-book
// take-off time, so a second sync downloads nothing and a renumbered log book (after
// an erase) never brings a flight twice. The caller holds the instrument (a lease)
// for the whole of it; `exporter` reads through the same device.
SyncOutcome syncInstrument(CorvexDevice& device, TrackLogExport& exporter, FlightLibrary& library,
    const SyncProgress& progress = {});

// The instrument's serial as the program shows it ("1A2B3C").
std::string instrumentSerialText(std::uint32_t deviceId);

} // namespace corvex::library
