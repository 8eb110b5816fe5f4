#pragma once

#include "base/Bytes.h"
#include "base/Result.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex {

class LogSink;
class WSAirspaces;

// A converted OpenAir file: the set's bytes in the instrument's format and the name to
// cache them under (already safe as a file name).
struct ConvertedAirspaces {
    std::string fileName;
    Bytes bytes;
    bool convertedLocally { false }; // by this computer rather than the vendor's service
};

// Why a conversion gave no set.
struct ConversionFailure {
    enum class Reason {
        Refused, // the service answered without a set; its log line says why
        Cancelled,
        InvalidFile, // this computer's converter found mistakes in the file
        NoSafeName, // the set has no name that is safe in the cache folder
    };
    Reason reason { Reason::Refused };
    // The mistakes found here, one per line: "line 3: AL altitude '1000 fx' is not understood".
    std::vector<std::string> problems {};
    // Refused: the reason the service gave, when it gave one.
    std::optional<std::string> serviceReason {};
};

// Converts OpenAir files with the vendor's service and, when the service is not
// configured or cannot be reached, with the program's own converter, which gives the
// same bytes and the same file name. A service that answered with a refusal is
// believed: its answer is the user's to see, and nothing is converted here.
// The airspaces window and `corvex airspaces convert` share it.
class OpenAirConverter {
public:
    using Completion = std::function<void(std::optional<ConvertedAirspaces>)>;
    using DetailedCompletion = std::function<void(Result<ConvertedAirspaces, ConversionFailure>)>;
    using Clock = std::function<std::chrono::sys_seconds()>;

    // service may be null: every conversion is then made here. The service and the log
    // must outlive the conversions started (the service abandons its request when it
    // goes first). The clock gives a local conversion's upload date.
    OpenAirConverter(WSAirspaces* service, LogSink& log, Clock clock = systemClock);

    // fileBytes is the OpenAir file as read from the disk: UTF-8, or ISO-8859-1 like
    // many older files; fileName its last path component. A local conversion completes
    // before convert() returns; one by the service on a later turn of the event loop.
    // While the service is busy with another request, the service logs so and the
    // completion is never called.
    void convert(const std::string& description, std::string_view fileBytes, const std::string& fileName, Completion completion);
    // The same, saying why there is no set.
    void convertWithReasons(
        const std::string& description, std::string_view fileBytes, const std::string& fileName, DetailedCompletion completion);

    static std::chrono::sys_seconds systemClock();

private:
    WSAirspaces* m_service;
    LogSink& m_log;
    Clock m_clock;
};

// The program's own conversion of a UTF-8 text, as the service makes it; logs why it
// failed.
Result<ConvertedAirspaces, ConversionFailure> convertOpenAirLocally(
    const std::string& description, const std::string& text, const std::string& fileName, std::chrono::sys_seconds uploadDate, LogSink& log);

} // namespace corvex
