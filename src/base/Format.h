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

// What visibleText does with tabs and line feeds: a name or a table cell is one line
// (Escaped); a message or a block of several lines keeps them (Kept).
enum class LineBreaks { Escaped, Kept };

// Text read from a file, an instrument or the network as it may be written to a
// terminal: the C0 controls, DEL, the C1 controls (U+0080 to U+009F) and the bytes that
// are not well-formed UTF-8 are written as visible \xNN (each byte of a C1 control),
// so that no escape sequence in an OpenAir name or an IGC header moves the cursor,
// recolours or retitles the terminal. Carriage returns are always escaped; tabs and
// line feeds only with LineBreaks::Escaped. Everything else, other scripts included,
// is kept as it is.
std::string visibleText(std::string_view text, LineBreaks breaks = LineBreaks::Escaped);

// A moment (UTC seconds since 1970) written with strftime's conversions on the UTC
// calendar: "%Y-%m-%d %H:%M" gives "2024-10-07 11:34".
std::string utcTimeText(std::int64_t utc, const char* format);

// A duration as hours and minutes, "1:05" for 65 minutes; the seconds are dropped.
std::string hoursMinutesText(std::int64_t seconds);

} // namespace corvex
