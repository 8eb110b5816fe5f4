#include "device/PilotData.h"

#include "base/ByteReader.h"
#include "device/Protocol.h"

#include <algorithm>
#include <optional>

namespace corvex {

PilotDataSlot pilotDataSlot(PilotDataField field)
{
    switch (field) {
    case PilotDataField::Pilot:
        return { 1, 64 };
    case PilotDataField::FlightRecorderSerial:
        return { 65, 32 };
    case PilotDataField::GliderType:
        return { 97, 32 };
    case PilotDataField::GliderId:
        return { 129, 32 };
    case PilotDataField::CompetitionClass:
        return { 161, 32 };
    case PilotDataField::CompetitionId:
        return { 193, 32 };
    case PilotDataField::Site:
        return { 225, 32 };
    case PilotDataField::PilotInfo:
        return { 257, 256 };
    }
    return { 0, 0 };
}

PilotData PilotData::fromBytes(ByteView record)
{
    PilotData data;
    std::copy_n(record.begin(), std::min(record.size(), size), data.bytes.begin());
    return data;
}

bool PilotData::isEmpty() const
{
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

ByteView PilotData::slotBytes(PilotDataField field) const
{
    const PilotDataSlot slot = pilotDataSlot(field);
    return ByteView(bytes).subspan(slot.offset, slot.size);
}

std::string PilotData::text(PilotDataField field) const
{
    std::string value = textField(slotBytes(field));
    std::replace_if(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) > 127; }, '?');
    return value;
}

void PilotData::setText(PilotDataField field, std::string_view value)
{
    if (value == text(field))
        return;
    const PilotDataSlot slot = pilotDataSlot(field);
    auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(slot.offset);
    std::fill_n(begin, slot.size, std::uint8_t { 0 });
    const std::size_t count = std::min(value.size(), slot.size);
    for (std::size_t i = 0; i < count; ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        // The slots hold 7-bit text; a NUL would end the text early in the instrument.
        *(begin + static_cast<std::ptrdiff_t>(i)) = (c > 127 || c == 0) ? '?' : c;
    }
}

Bytes encodePilotDataRequest(std::uint8_t direction, std::uint32_t offset, std::uint32_t length, std::uint16_t status)
{
    Bytes request;
    request.reserve(protocol::pilotDataRequestHeaderLength);
    request.push_back(protocol::byte(protocol::Command::PilotData));
    request.push_back(direction);
    for (int shift = 0; shift < 32; shift += 8)
        request.push_back(static_cast<std::uint8_t>(offset >> shift));
    for (int shift = 0; shift < 32; shift += 8)
        request.push_back(static_cast<std::uint8_t>(length >> shift));
    request.push_back(static_cast<std::uint8_t>(status & 0xFF));
    request.push_back(static_cast<std::uint8_t>(status >> 8));
    return request;
}

std::optional<PilotDataResponse> decodePilotDataResponse(ByteView answer)
{
    if (answer.size() != protocol::pilotDataResponseLength)
        return std::nullopt;
    ByteReader reader(answer);
    PilotDataResponse response;
    response.command = *reader.u8();
    response.offset = *reader.u32le();
    response.length = *reader.u32le();
    response.status = *reader.u16le();
    return response;
}

} // namespace corvex
