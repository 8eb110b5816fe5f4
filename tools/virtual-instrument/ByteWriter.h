#pragma once

#include "base/Bytes.h"

#include <cstdint>
#include <string_view>

namespace corvex::virtualinstrument {

// Appends the instrument's frame fields. The instrument speaks big-endian in the log-book
// and track-log frames and little-endian in the pilot-data and airspaces frames, so both
// orders are spelled out at every call.
class ByteWriter {
public:
    ByteWriter& u8(std::uint8_t value)
    {
        m_bytes.push_back(value);
        return *this;
    }
    ByteWriter& u16be(std::uint16_t value)
    {
        m_bytes.push_back(static_cast<std::uint8_t>(value >> 8));
        m_bytes.push_back(static_cast<std::uint8_t>(value & 0xff));
        return *this;
    }
    ByteWriter& i16be(std::int16_t value) { return u16be(static_cast<std::uint16_t>(value)); }
    ByteWriter& u16le(std::uint16_t value)
    {
        m_bytes.push_back(static_cast<std::uint8_t>(value & 0xff));
        m_bytes.push_back(static_cast<std::uint8_t>(value >> 8));
        return *this;
    }
    ByteWriter& u32be(std::uint32_t value)
    {
        u16be(static_cast<std::uint16_t>(value >> 16));
        return u16be(static_cast<std::uint16_t>(value & 0xffff));
    }
    ByteWriter& u32le(std::uint32_t value)
    {
        u16le(static_cast<std::uint16_t>(value & 0xffff));
        return u16le(static_cast<std::uint16_t>(value >> 16));
    }
    ByteWriter& zeros(std::size_t count)
    {
        m_bytes.insert(m_bytes.end(), count, 0);
        return *this;
    }
    ByteWriter& bytes(ByteView data)
    {
        m_bytes.insert(m_bytes.end(), data.begin(), data.end());
        return *this;
    }
    // A text slot of the instrument's records: the text cut to the slot, NUL-padded (no
    // terminator when the text fills the slot).
    ByteWriter& text(std::string_view value, std::size_t slotSize)
    {
        std::size_t used = value.size() < slotSize ? value.size() : slotSize;
        m_bytes.insert(m_bytes.end(), value.begin(), value.begin() + static_cast<std::ptrdiff_t>(used));
        return zeros(slotSize - used);
    }
    // Pads (or cuts) the frame to an exact length.
    ByteWriter& padTo(std::size_t length)
    {
        m_bytes.resize(length, 0);
        return *this;
    }

    std::size_t size() const { return m_bytes.size(); }
    Bytes take() { return std::move(m_bytes); }
    const Bytes& bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
};

} // namespace corvex::virtualinstrument
