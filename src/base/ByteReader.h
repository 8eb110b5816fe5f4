#pragma once

#include "base/Bytes.h"

#include <optional>

namespace corvex {

// Bounds-checked reads over a received frame. Every read returns nothing once the
// bytes run out, and the reader stays failed, so a decoder can read a whole record
// and check once at the end.
class ByteReader {
public:
    explicit ByteReader(ByteView bytes)
        : m_bytes(bytes)
    {
    }

    std::optional<std::uint8_t> u8()
    {
        if (!take(1))
            return std::nullopt;
        return m_bytes[m_position - 1];
    }

    std::optional<std::uint16_t> u16be()
    {
        if (!take(2))
            return std::nullopt;
        return static_cast<std::uint16_t>((at(-2) << 8) | at(-1));
    }

    std::optional<std::uint16_t> u16le()
    {
        if (!take(2))
            return std::nullopt;
        return static_cast<std::uint16_t>(at(-2) | (at(-1) << 8));
    }

    std::optional<std::int16_t> i16be()
    {
        auto value = u16be();
        if (!value)
            return std::nullopt;
        return static_cast<std::int16_t>(*value);
    }

    std::optional<std::uint32_t> u32be()
    {
        if (!take(4))
            return std::nullopt;
        return (at(-4) << 24) | (at(-3) << 16) | (at(-2) << 8) | at(-1);
    }

    std::optional<std::uint32_t> u32le()
    {
        if (!take(4))
            return std::nullopt;
        return at(-4) | (at(-3) << 8) | (at(-2) << 16) | (at(-1) << 24);
    }

    std::optional<ByteView> bytes(std::size_t count)
    {
        if (!take(count))
            return std::nullopt;
        return m_bytes.subspan(m_position - count, count);
    }

    // A fixed-size text slot, up to its first NUL.
    std::optional<std::string> text(std::size_t slotSize)
    {
        auto slot = bytes(slotSize);
        if (!slot)
            return std::nullopt;
        return textField(*slot);
    }

    bool skip(std::size_t count) { return take(count); }
    bool seek(std::size_t position)
    {
        if (m_failed || position > m_bytes.size())
            return fail();
        m_position = position;
        return true;
    }

    std::size_t position() const { return m_position; }
    std::size_t remaining() const { return m_failed ? 0 : m_bytes.size() - m_position; }
    bool failed() const { return m_failed; }

private:
    bool take(std::size_t count)
    {
        if (m_failed || count > m_bytes.size() - m_position)
            return fail();
        m_position += count;
        return true;
    }
    bool fail()
    {
        m_failed = true;
        return false;
    }
    std::uint32_t at(std::ptrdiff_t fromPosition) const
    {
        return m_bytes[static_cast<std::size_t>(static_cast<std::ptrdiff_t>(m_position) + fromPosition)];
    }

    ByteView m_bytes;
    std::size_t m_position { 0 };
    bool m_failed { false };
};

} // namespace corvex
