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

std::string logExcerpt(std::string_view text, std::size_t maximumBytes)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string excerpt;
    const std::string_view kept = text.substr(0, maximumBytes);
    excerpt.reserve(kept.size());
    for (const char c : kept) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            excerpt += c;
        } else {
            excerpt += "\\x";
            excerpt += hex[byte >> 4];
            excerpt += hex[byte & 0x0F];
        }
    }
    if (kept.size() < text.size())
        excerpt += "... (" + std::to_string(text.size()) + " bytes in all)";
    return excerpt;
}

} // namespace corvex
