#pragma once

#include "base/Bytes.h"
#include "device/FlightRecord.h"

#include <cstdint>
#include <optional>
#include <string_view>

// Pure decoders of the device-info, units and log-book frames. They never see the line,
// so the device, the virtual instrument's tests and the fuzzers share them.
namespace corvex {

struct DeviceInfo {
    std::uint32_t deviceId { 0 }; // "DeviceId", shown as the serial number in hexadecimal
    std::uint32_t batteryVoltage { 0 }; // "BatteryVoltage", tenths of a volt
    std::uint32_t firmwareVer { 0 }; // "FirmwareVer", thousandths (see FirmwareVersion)
};

// Good when at least 18 bytes arrived and byte 0 is 0x02.
std::optional<DeviceInfo> decodeDeviceInfo(ByteView answer);

// Good when exactly 2 bytes arrived and byte 0 is 0x0D.
std::optional<std::uint8_t> decodeUnitsBitfield(ByteView answer);

// The fields of DEV_DRV_LIST_TRACKS that frame the sequence.
struct ListTracksHeader {
    std::uint8_t messageId { 0 };
    std::uint16_t blockField { 0 }; // non-zero while further records follow
    std::uint8_t size { 0 };
};

std::optional<ListTracksHeader> decodeListTracksHeader(ByteView answer);

// Bytes 0-14: flight number, date, time and duration (the short list).
std::optional<FlightRecord> decodeShortFlightRecord(ByteView answer);

// Bytes 0-52: every field of the record, coordinates in degrees, before unit conversion.
std::optional<FlightRecord> decodeFullFlightRecord(ByteView answer);

// The units bitfield's conversions, in the instrument's order.
void applyUnitsBitfield(FlightRecord& record, std::uint8_t bitfield);

// Degrees from a coordinate pair: degrees × 100 + whole minutes, and the minute's
// fraction in ten-thousandths. No sign. Degrees and minutes are split in integers: a
// division by 100 in floating point turns 4630 into 46.29999..., a hundredth of a
// minute short once truncated for display.
double locationIntFractToDegrees(std::uint16_t degreesAndMinutes, std::uint16_t minuteFraction);

// An angle as whole degrees, whole minutes and the minute's ten-thousandths (the
// instrument's resolution), with its sign apart.
struct DegreesMinutes {
    bool negative { false };
    long long degrees { 0 };
    int minutes { 0 }; // 0..59
    int minuteTenThousandths { 0 }; // 0..9999
};

// Degrees read back at the instrument's resolution: a value the instrument sent comes
// back as its own integers, whatever floating-point error it picked up on the way.
// Values beyond what a coordinate can be saturate.
DegreesMinutes degreesMinutesOf(double degrees);

// Compares two decimal texts ("1.375", "2.401") exactly. Nothing when either is not a
// decimal number.
std::optional<int> compareDecimalTexts(std::string_view left, std::string_view right);

} // namespace corvex
