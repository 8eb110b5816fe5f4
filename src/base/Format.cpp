#include "base/Format.h"

#include "base/Utf8.h"

#include <cstdio>
#include <ctime>

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

std::string visibleText(std::string_view text, LineBreaks breaks)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string visible;
    visible.reserve(text.size());
    const auto escape = [&](std::string_view bytes) {
        for (const char c : bytes) {
            const auto byte = static_cast<unsigned char>(c);
            visible += "\\x";
            visible += hex[byte >> 4];
            visible += hex[byte & 0x0F];
        }
    };
    while (!text.empty()) {
        const std::size_t length = utf8CharacterLength(text);
        const auto first = static_cast<unsigned char>(text.front());
        if (length == 0) {
            escape(text.substr(0, 1));
            text.remove_prefix(1);
            continue;
        }
        const std::string_view character = text.substr(0, length);
        text.remove_prefix(length);
        const bool kept = breaks == LineBreaks::Kept && (first == '\t' || first == '\n');
        const bool c0 = length == 1 && (first < 0x20 || first == 0x7F);
        const bool c1 = length == 2 && first == 0xC2 && static_cast<unsigned char>(character[1]) < 0xA0;
        if ((c0 && !kept) || c1)
            escape(character);
        else
            visible += character;
    }
    return visible;
}

std::string utcTimeText(std::int64_t utc, const char* format)
{
    const std::time_t time = static_cast<std::time_t>(utc);
    std::tm parts {};
    if (!::gmtime_r(&time, &parts))
        return {};
    char text[128];
    // The callers' formats are literals; none takes a format from outside.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const std::size_t length = std::strftime(text, sizeof text, format, &parts);
#pragma GCC diagnostic pop
    return std::string(text, length);
}

std::string hoursMinutesText(std::int64_t seconds)
{
    return formatString("%lld:%02lld", static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60));
}

} // namespace corvex
