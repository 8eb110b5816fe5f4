#pragma once

#include "Commands.h"
#include "library/FlightLibrary.h"
#include "platform/LogSink.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::cli {

// --library DIR, as every command that reads the flight library takes it.
extern const CliOption libraryOption;

// The library where --library, the preferences or the default say; prints the reason
// and gives nothing when it cannot be opened. The system log by default.
std::unique_ptr<library::FlightLibrary> openLibrary(CliContext& context, LogSink* log = nullptr);

// The contest rule sets the pilot cares about (the "contestRuleSets" preference), the
// first the one whose score the flights' lists show.
std::vector<std::string> pilotRuleSets();

// The flight a command is given: the argument itself when it is a file, else the
// library's flight with that number. Prints the reason and gives nothing otherwise.
std::optional<std::string> flightFilePath(CliContext& context);

// What the flight commands print: "2024-10-07T06:27:33Z", a number with its decimals.
std::string isoTime(std::int64_t utc);
std::string fixed(double value, int decimals);

// The commands' JSON: keys in the order they were set.
using Json = nlohmann::ordered_json;
// A measure to the decimals the text output shows; null when it is no number.
Json rounded(double value, int decimals);
// The document as the commands print it: ", " and ": " between items, on one line; with
// objectLines, an array of objects has each object on a line of its own (lists that
// people read and scripts grep). A text that is not UTF-8 has its bad bytes replaced
// instead of failing the command.
enum class JsonLayout { OneLine, ObjectLines };
std::string jsonText(const Json& value, JsonLayout layout = JsonLayout::OneLine);

} // namespace corvex::cli
