#include "base/Bytes.h"

#include <algorithm>

namespace corvex {

namespace {
constexpr char lowerDigits[] = "0123456789abcdef";

int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}
} // namespace

std::string hexadecimalString(ByteView bytes)
{
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        text.push_back(lowerDigits[byte >> 4]);
        text.push_back(lowerDigits[byte & 0x0f]);
    }
    return text;
}

std::optional<Bytes> bytesFromHexadecimal(std::string_view digits)
{
    if (digits.size() % 2 != 0)
        return std::nullopt;
    Bytes bytes;
    bytes.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const int high = digitValue(digits[i]);
        const int low = digitValue(digits[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return bytes;
}

std::string describeBytes(ByteView bytes)
{
    std::string text = "<";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0 && i % 4 == 0)
            text.push_back(' ');
        text.push_back(lowerDigits[bytes[i] >> 4]);
        text.push_back(lowerDigits[bytes[i] & 0x0f]);
    }
    text.push_back('>');
    return text;
}

Bytes bytesOf(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

std::string textField(ByteView slot)
{
    auto end = std::find(slot.begin(), slot.end(), std::uint8_t { 0 });
    return std::string(slot.begin(), end);
}

} // namespace corvex
