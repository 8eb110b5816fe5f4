#pragma once

#include "FlightLibrary.h"
#include "base/Bytes.h"

#include <cstdint>

// The instrument's side of the device-info, units and log-book frames.
namespace corvex::virtualinstrument {

struct Identity {
    std::uint32_t deviceId { 0 };
    std::uint16_t firmwareVersion { 0 }; // thousandths
    std::uint8_t batteryTenthsOfVolt { 0 };
    std::uint8_t unitsBitfield { 0 };
};

// 28 bytes: 0x02, device id (u32be), two spare bytes, firmware (u16be), battery, padding.
Bytes encodeDeviceInfo(const Identity& identity);

// 0x0D and the bits.
Bytes encodeUnitsBitfield(std::uint8_t bits);

// The full 89-byte DEV_DRV_LIST_TRACKS record of one entry. Temperatures are stored in
// Fahrenheit unless units bit 0 is set, chosen so that the program's truncating
// conversion gives back the Celsius value exactly.
Bytes encodeListTracksRecord(const LogBookEntry& entry, std::uint16_t blockField, std::uint8_t unitsBitfield);

// The instrument's empty records: 8 or 49 bytes, message id 5, the block field, the size.
Bytes encodeEmptyListTracksRecord(std::size_t length, std::uint16_t blockField);

// An 89-byte record of an erased entry: flight number 0, everything else 0.
Bytes encodeErasedListTracksRecord(std::uint16_t blockField);

// The 28-byte acknowledgement of the erase command (the program does not read it).
Bytes encodeEraseAcknowledgement();

// The temperature byte for a Celsius value under the units bitfield.
std::uint8_t encodeTemperature(int celsius, std::uint8_t unitsBitfield);

} // namespace corvex::virtualinstrument
