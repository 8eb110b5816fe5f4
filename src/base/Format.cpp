#include "base/Format.h"

#include <cstdio>

namespace corvex {

std::string vformatString(const char* format, va_list arguments)
{
    va_list copy;
    va_copy(copy, arguments);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, arguments);
    return text;
}

std::string formatString(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = vformatString(format, arguments);
    va_end(arguments);
    return text;
}

} // namespace corvex
