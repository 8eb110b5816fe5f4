#pragma once

#include <cstdarg>
#include <cstddef>
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

} // namespace corvex
