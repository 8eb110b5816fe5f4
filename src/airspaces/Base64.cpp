#include "airspaces/Base64.h"

#include <array>

namespace corvex {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> decodingTable()
{
    std::array<std::int8_t, 256> table {};
    for (auto& value : table)
        value = -1;
    for (int i = 0; i < 64; ++i)
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}

constexpr auto decoding = decodingTable();

} // namespace

std::string encodeBase64(ByteView bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = (std::uint32_t { bytes[i] } << 16) | (std::uint32_t { bytes[i + 1] } << 8) | bytes[i + 2];
        text.push_back(alphabet[(group >> 18) & 63]);
        text.push_back(alphabet[(group >> 12) & 63]);
        text.push_back(alphabet[(group >> 6) & 63]);
        text.push_back(alphabet[group & 63]);
    }
    const std::size_t left = bytes.size() - i;
    if (left > 0) {
        std::uint32_t group = std::uint32_t { bytes[i] } << 16;
        if (left == 2)
            group |= std::uint32_t { bytes[i + 1] } << 8;
        text.push_back(alphabet[(group >> 18) & 63]);
        text.push_back(alphabet[(group >> 12) & 63]);
        text.push_back(left == 2 ? alphabet[(group >> 6) & 63] : '=');
        text.push_back('=');
    }
    return text;
}

std::optional<Bytes> decodeBase64Strict(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=')
        padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
    Bytes bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool lastGroup = i + 4 == text.size();
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            int value;
            if (lastGroup && k >= 4 - padding) {
                value = 0; // a padding position
            } else {
                value = decoding[static_cast<unsigned char>(c)];
                if (value < 0)
                    return std::nullopt; // '=' in the middle lands here too
            }
            group = (group << 6) | static_cast<std::uint32_t>(value);
        }
        bytes.push_back(static_cast<std::uint8_t>(group >> 16));
        if (!lastGroup || padding < 2)
            bytes.push_back(static_cast<std::uint8_t>(group >> 8));
        if (!lastGroup || padding < 1)
            bytes.push_back(static_cast<std::uint8_t>(group));
    }
    return bytes;
}

} // namespace corvex
