#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvex {

// printf-style formatting into a std::string. "%@" of the log formats is written as
// "%s" with the object's textual form (describeBytes for byte buffers).
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string vformatString(const char* format, va_list arguments) __attribute__((format(printf, 1, 0)));

// A body or text from the network as it may go into a log line: at most
// `maximumBytes` of it, every byte that is not printable ASCII written as \xNN (so no
// control character, line break or terminal escape reaches the log), and
// "... (N bytes in all)" after a text cut short.
std::string logExcerpt(std::string_view text, std::size_t maximumBytes = 512);

// A moment (UTC seconds since 1970) written with strftime's conversions on the UTC
// calendar: "%Y-%m-%d %H:%M" gives "2024-10-07 11:34".
std::string utcTimeText(std::int64_t utc, const char* format);

// A duration as hours and minutes, "1:05" for 65 minutes; the seconds are dropped.
std::string hoursMinutesText(std::int64_t seconds);

} // namespace corvex
