#pragma once

#include <cstdarg>
#include <string>

namespace corvex {

// printf-style formatting into a std::string. "%@" of the log formats is written as
// "%s" with the object's textual form (describeBytes for byte buffers).
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string vformatString(const char* format, va_list arguments) __attribute__((format(printf, 1, 0)));

} // namespace corvex
