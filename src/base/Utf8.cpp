#include "base/Utf8.h"

#include <algorithm>

namespace corvex {

namespace {

// The small letter of a capital, by the simple case folding of the blocks a pilot's,
// glider's or file's name is written in; every other character is its own.
char32_t foldCodePoint(char32_t c)
{
    const auto evenUpper = [c](char32_t first, char32_t last) { return c >= first && c <= last && (c - first) % 2 == 0; };
    if ((c >= 'A' && c <= 'Z') || (c >= 0xc0 && c <= 0xde && c != 0xd7))
        return c + 0x20;
    if (c == 0xb5)
        return 0x3bc; // micro sign: Greek mu
    if (c == 0x130)
        return 'i';
    if (c == 0x178)
        return 0xff;
    if (c == 0x17f)
        return 's';
    if (c == 0x1e9e)
        return 0xdf;
    if (evenUpper(0x100, 0x12f) || evenUpper(0x132, 0x137) || evenUpper(0x139, 0x148) || evenUpper(0x14a, 0x177)
        || evenUpper(0x179, 0x17e) || evenUpper(0x1cd, 0x1dc) || evenUpper(0x1de, 0x1ef) || evenUpper(0x1f8, 0x21f)
        || evenUpper(0x222, 0x233) || evenUpper(0x460, 0x481) || evenUpper(0x48a, 0x4bf) || evenUpper(0x1e00, 0x1e95)
        || evenUpper(0x1ea0, 0x1eff))
        return c + 1;
    if (c == 0x386)
        return 0x3ac;
    if (c >= 0x388 && c <= 0x38a)
        return c + 37;
    if (c == 0x38c)
        return 0x3cc;
    if (c == 0x38e || c == 0x38f)
        return c + 63;
    if (c >= 0x391 && c <= 0x3ab && c != 0x3a2)
        return c + 0x20;
    if (c == 0x3c2)
        return 0x3c3; // final sigma
    if (c >= 0x400 && c <= 0x40f)
        return c + 0x50;
    if (c >= 0x410 && c <= 0x42f)
        return c + 0x20;
    return c;
}

void appendUtf8(std::string& text, char32_t c)
{
    if (c < 0x80) {
        text.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        text.push_back(static_cast<char>(0xc0 | (c >> 6)));
        text.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else {
        // Every small letter folded to lies below U+10000.
        text.push_back(static_cast<char>(0xe0 | (c >> 12)));
        text.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
        text.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    }
}

} // namespace

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

std::string foldCase(std::string_view text)
{
    std::string folded;
    folded.reserve(text.size());
    while (!text.empty()) {
        const std::size_t length = utf8CharacterLength(text);
        if (length == 0) {
            folded.push_back(text.front());
            text.remove_prefix(1);
            continue;
        }
        if (length == 4) {
            folded.append(text.substr(0, 4));
            text.remove_prefix(4);
            continue;
        }
        char32_t c = static_cast<unsigned char>(text[0]) & (length == 1 ? 0x7f : length == 2 ? 0x1f : 0x0f);
        for (std::size_t k = 1; k < length; ++k)
            c = (c << 6) | (static_cast<unsigned char>(text[k]) & 0x3f);
        appendUtf8(folded, foldCodePoint(c));
        text.remove_prefix(length);
    }
    return folded;
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
