#pragma once

#include "base/Bytes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvex {

// Statuses of DRV_DEV_PILOTDATA_RESPONSE and of the write request.
enum class PilotDataStatus : std::uint16_t {
    PILOT_DATA_STATUS_ERROR = 0,
    PILOT_DATA_STATUS_OK = 1, // write: chunk accepted; read: last chunk
    PILOT_DATA_STATUS_MORE_DATA = 2,
    PILOT_DATA_STATUS_END_OF_DATA = 3,
    PILOT_DATA_STATUS_NO_DATA = 4,
};

enum class PilotDataField {
    Pilot,
    FlightRecorderSerial,
    GliderType,
    GliderId,
    CompetitionClass,
    CompetitionId,
    Site,
    PilotInfo,
};

struct PilotDataSlot {
    std::size_t offset;
    std::size_t size;
};

PilotDataSlot pilotDataSlot(PilotDataField field);

// The instrument's one pilot-data record, 513 bytes: a leading byte the program does
// not interpret, then NUL-padded 7-bit texts in fixed slots (no terminator when a text
// fills its slot). All zero stands for no pilot data.
//
// The bytes are kept exactly as the instrument sent them, so that a record written
// back unedited is the record read. The text accessors are for display: a byte above
// 127 (not 7-bit text) reads as '?', so nothing that is not valid text reaches a
// UTF-8 consumer. A setter given the text its field already shows leaves the slot's
// bytes alone; any other text replaces the whole slot.
struct PilotData {
    static constexpr std::size_t size = 513;
    std::array<std::uint8_t, size> bytes {};

    // Up to 513 bytes copied; the rest stay zero.
    static PilotData fromBytes(ByteView record);
    bool isEmpty() const;

    std::string text(PilotDataField field) const;
    void setText(PilotDataField field, std::string_view text);
    ByteView slotBytes(PilotDataField field) const;

    std::string pilot() const { return text(PilotDataField::Pilot); }
    std::string flightRecorderSerial() const { return text(PilotDataField::FlightRecorderSerial); }
    std::string gliderType() const { return text(PilotDataField::GliderType); }
    std::string gliderId() const { return text(PilotDataField::GliderId); }
    std::string competitionClass() const { return text(PilotDataField::CompetitionClass); }
    std::string competitionId() const { return text(PilotDataField::CompetitionId); }
    std::string site() const { return text(PilotDataField::Site); }
    std::string pilotInfo() const { return text(PilotDataField::PilotInfo); }

    void setPilot(std::string_view value) { setText(PilotDataField::Pilot, value); }
    void setFlightRecorderSerial(std::string_view value) { setText(PilotDataField::FlightRecorderSerial, value); }
    void setGliderType(std::string_view value) { setText(PilotDataField::GliderType, value); }
    void setGliderId(std::string_view value) { setText(PilotDataField::GliderId, value); }
    void setCompetitionClass(std::string_view value) { setText(PilotDataField::CompetitionClass, value); }
    void setCompetitionId(std::string_view value) { setText(PilotDataField::CompetitionId, value); }
    void setSite(std::string_view value) { setText(PilotDataField::Site, value); }
    void setPilotInfo(std::string_view value) { setText(PilotDataField::PilotInfo, value); }

    bool operator==(const PilotData&) const = default;
};

// The 12-byte request header, little-endian.
Bytes encodePilotDataRequest(std::uint8_t direction, std::uint32_t offset, std::uint32_t length, std::uint16_t status);

// DRV_DEV_PILOTDATA_RESPONSE: exactly 11 bytes.
struct PilotDataResponse {
    std::uint8_t command { 0 };
    std::uint32_t offset { 0 };
    std::uint32_t length { 0 };
    std::uint16_t status { 0 };
};

std::optional<PilotDataResponse> decodePilotDataResponse(ByteView answer);

} // namespace corvex
