#pragma once

#include "base/Bytes.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace corvex {

// The second track-log format's flight header, 20 bytes at offset 9 of the flight
// data. Only two of its fields mean anything to the program.
struct LogFlightHeader {
    std::array<std::uint8_t, 20> bytes {};

    static LogFlightHeader fromBytes(std::span<const std::uint8_t, 20> header);

    // When 1, byte 15 of every location record is added to its GPS elevation.
    std::uint8_t gpsElevationExtensionFlag() const { return bytes[1]; }
    // Offset of the first record from the start of the flight data. Little-endian,
    // unlike the records.
    std::uint16_t dataOffset() const;
};

// One decoded track point.
struct LocationSample {
    // Time base + the record's seconds. A record that comes before the first time
    // record has no valid time base and so no date.
    std::optional<std::chrono::sys_seconds> sampleDate;
    double latitude { 0 }; // degrees, negative south
    double longitude { 0 }; // degrees, negative west
    std::int16_t barometerElevation { 0 };
    std::int16_t gpsElevation { 0 };
    // The record's coordinate fields as sent; the IGC writer prints them directly.
    std::int32_t deviceLatitudeInt { 0 };
    std::int32_t deviceLatitudeFract { 0 };
    std::int32_t deviceLongitudeInt { 0 };
    std::int32_t deviceLongitudeFract { 0 };

    // From a 15-byte LocationLogRecord.
    static LocationSample initWithLogRecord(
        std::span<const std::uint8_t, 15> record, std::optional<std::chrono::sys_seconds> referenceTimeBase);
    // From a 16-byte LocationLogRecordV2 and its flight's header.
    static LocationSample initWithLogRecordV2(std::span<const std::uint8_t, 16> record,
        std::optional<std::chrono::sys_seconds> referenceTimeBase, const LogFlightHeader& flightHeader);

    // "time: %@, lat: %0.5f, lon: %0.5f, barometerElevation: %d, gpsElevation: %d"
    std::string description() const;

    bool operator==(const LocationSample&) const = default;
};

// The text form of a sample date in log lines and descriptions: "2014-07-05 10:11:12 +0000",
// or "(null)" for a sample without a date.
std::string dateDescription(const std::optional<std::chrono::sys_seconds>& date);

} // namespace corvex
