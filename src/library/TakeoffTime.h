#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvex::library {

// The offset from UTC, in minutes, that an IGC file's time-zone header gives
// ("HFTZNTIMEZONE:2", "HFTZNTIMEZONE:-3.5", "HFTZN:+05:45"), looked for among the
// header lines before the first fix. Nothing when there is none or it does not read
// as an offset of at most 14 hours.
std::optional<int> igcTimeZoneMinutes(std::string_view igcText);

// The same from the head of the file (its first 64 KiB): nothing when it cannot be read.
std::optional<int> igcFileTimeZoneMinutes(const std::string& path);

// "2024-07-01T13:34:00+02:00": the moment as ISO 8601 with the offset given, or the
// computer's zone's offset on that date when none is given.
std::string localIsoTime(std::int64_t utc, std::optional<int> offsetMinutes);

} // namespace corvex::library
