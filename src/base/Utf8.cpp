#include "base/Utf8.h"

#include <algorithm>

namespace corvex {

std::size_t utf8CharacterLength(std::string_view text)
{
    if (text.empty())
        return 0;
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80)
        return 1;
    std::size_t length;
    char32_t codePoint;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        codePoint = lead & 0x1f;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        codePoint = lead & 0x0f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        codePoint = lead & 0x07;
    } else {
        return 0; // a continuation byte, the overlong leads 0xc0 and 0xc1, or past U+10FFFF
    }
    if (text.size() < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto continuation = static_cast<unsigned char>(text[k]);
        if ((continuation & 0xc0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (continuation & 0x3f);
    }
    if ((length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000) || codePoint > 0x10ffff
        || (codePoint >= 0xd800 && codePoint <= 0xdfff))
        return 0;
    return length;
}

bool isValidUtf8(std::string_view text)
{
    while (!text.empty()) {
        const std::size_t length = utf8CharacterLength(text);
        if (length == 0)
            return false;
        text.remove_prefix(length);
    }
    return true;
}

std::optional<std::vector<std::string>> utf8Characters(std::string_view text)
{
    std::vector<std::string> characters;
    while (!text.empty()) {
        const std::size_t length = utf8CharacterLength(text);
        if (length == 0)
            return std::nullopt;
        characters.emplace_back(text.substr(0, length));
        text.remove_prefix(length);
    }
    return characters;
}

std::string_view utf8Prefix(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    std::size_t end = 0;
    while (end < limit) {
        const std::size_t length = std::max<std::size_t>(1, utf8CharacterLength(text.substr(end)));
        if (end + length > limit)
            break;
        end += length;
    }
    return text.substr(0, end);
}

std::string latin1ToUtf8(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            result.push_back(c);
        } else {
            result.push_back(static_cast<char>(0xc0 | (byte >> 6)));
            result.push_back(static_cast<char>(0x80 | (byte & 0x3f)));
        }
    }
    return result;
}

std::string xmlCharacters(std::string_view text)
{
    const std::string utf8 = isValidUtf8(text) ? std::string(text) : latin1ToUtf8(text);
    std::string result;
    result.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[at]);
        if (byte < 0x20) {
            if (byte == '\t' || byte == '\n' || byte == '\r')
                result.push_back(utf8[at]);
            ++at;
            continue;
        }
        // U+FFFE and U+FFFF are EF BF BE and EF BF BF.
        if (byte == 0xef && at + 2 < utf8.size() && static_cast<unsigned char>(utf8[at + 1]) == 0xbf
            && (static_cast<unsigned char>(utf8[at + 2]) & 0xfe) == 0xbe) {
            at += 3;
            continue;
        }
        result.push_back(utf8[at]);
        ++at;
    }
    return result;
}

} // namespace corvex
