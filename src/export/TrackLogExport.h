#pragma once

#include "device/CorvexDevice.h"
#include "platform/OperationContext.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The download commands without their windows: which read path a flight takes, the
// file text and its suggested name, the all-flights loop and the log-book CSV. The
// desktop program puts file panels around these and the please-wait sheet behind the
// operation context; the command line calls them directly, so both write the same files.
namespace corvex {

class AlertPresenter;

enum class TrackLogFileFormat {
    Kml,
    Igc,
};

std::string_view fileExtension(TrackLogFileFormat format); // "kml", "igc"

// What the export needs besides its operation context.
struct TrackLogExportOptions {
    AlertPresenter* alerts { nullptr };
    // What the IGC writer puts into its comment lines.
    std::string programVersion;
};

struct AllTracklogsOutcome {
    bool flightListRead { false };
    std::vector<std::string> writtenFiles; // full paths, in the list's order
    std::vector<std::int64_t> failedFlights; // gave no text
    std::vector<DeviceError> failures; // why, one for each of failedFlights
    std::vector<std::string> unwritableFiles; // text came, the write failed
};

// Every transfer runs under the export's operation context: its progress goes there,
// the clock stamps the IGC files, and a cancel ends the transfer under way.
class TrackLogExport {
public:
    TrackLogExport(CorvexDevice& device, TrackLogExportOptions options, OperationContext context);

    // The first read path: the track decoded here and written by our own writers. The
    // suggested name is set only on success, and is always fit for a file name.
    DeviceResult<std::string> downloadTracklogIntoStringForFlight(
        std::int64_t flightNumber, bool returnIgc, std::optional<std::string>* suggestedFilename);
    // The second read path: IGC text from the instrument, KML from the second track
    // format. The suggested name is the instrument's, made safe; absent when it
    // proposed none. The instrument-made IGC text, which takes long, is a step of its
    // own ("Downloading flight #3. Please wait..."), finished when it is read.
    DeviceResult<std::string> downloadTracklogIntoStringForFlightV2(
        std::int64_t flightNumber, bool returnIgc, std::optional<std::string>* suggestedFilename);
    // The path the instrument's firmware calls for.
    DeviceResult<std::string> downloadTracklogIntoString(
        std::int64_t flightNumber, TrackLogFileFormat format, std::optional<std::string>* suggestedFilename);
    bool usesSecondPath() const { return m_device.firmwareSupportsAutomaticTextIgcGeneration(); }

    // Every flight of a fresh flight list into the folder, each under its suggested name
    // plus the extension; a name this export already wrote gets a suffix instead. The
    // format is asked again for each flight. A flight that gives no text is alerted
    // and skipped. Each flight is a part of the progress and a step ("Downloading
    // flight 3 of 7. Please wait..."); the caller finishes the whole.
    AllTracklogsOutcome downloadAllTracklogsIntoFolder(
        const std::string& folder, const std::function<TrackLogFileFormat()>& wantedFormat);

    // The log book as CSV text: the header and one row per flight, each line ended by a
    // line feed. Nothing (after the alert) when the log book cannot be read.
    std::optional<std::string> downloadLogbookText();

    // The name a second-path flight is saved under in an all-flights export when the
    // instrument proposed none.
    static std::string fallbackFilename(std::int64_t flightNumber);

private:
    enum class Step { Own, ShownByCaller };
    void alert(const char* message, const char* informativeText);
    DeviceResult<std::string> firstPath(
        const OperationContext& context, std::int64_t flightNumber, bool returnIgc, std::optional<std::string>* suggestedFilename);
    DeviceResult<std::string> secondPath(const OperationContext& context, std::int64_t flightNumber, bool returnIgc,
        std::optional<std::string>* suggestedFilename, Step step);

    CorvexDevice& m_device;
    TrackLogExportOptions m_options;
    OperationContext m_context;
};

// What the please-wait sheet says from the start of an all-flights export or a backup
// until the first flight's transfer begins.
inline constexpr const char* readingFlightListText = "Reading the flight list. Please wait...";

// The log-book name of the save panel and the command line's default.
inline constexpr const char* logBookFileName = "Corvex Log Book";
inline constexpr const char* allFlightsFolderNameIgc = "CorvexVario IGC";
inline constexpr const char* allFlightsFolderNameKml = "CorvexVario KML";

} // namespace corvex
