#pragma once

#include "base/Bytes.h"
#include "base/FileNames.h"
#include "base/Utf8.h"
#include "device/LocationSample.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The pure side of the track-log download: the walk over the joined flight data, the
// H and G records it copies out, and the suggested file name.
namespace corvex {

class LogSink;

enum class TrackLogFormat {
    First, // 0x03 0x03: records from offset 9, 15-byte location records
    Second, // 0x03 0x07: LogFlightHeader at 9, records from its dataOffset, 16-byte location records
};

// The flight-recorder header as the instrument stores it (166 bytes, packed). The
// bytes are kept as they came; the accessors read the fields for the IGC header.
struct HRecord {
    std::array<std::uint8_t, 166> bytes {};

    std::string aRecordText() const; // manufacturer code and serial, up to its NUL
    std::int8_t day() const;
    std::int8_t month() const;
    std::int8_t year() const; // two digits
    std::uint16_t fixAccuracy() const; // little-endian, unlike the rest of the track log
    std::string gpsDatum() const;
    std::uint16_t firmwareVersion() const;
    std::uint16_t hardwareVersion() const;
    std::string flightRecorderType() const;
    std::string gpsReceiver() const;
    std::string pressureAltitudeSensor() const;

    bool operator==(const HRecord&) const = default;
};

// The security record: type 0xF6 and 34 bytes of signature.
struct GRecord {
    std::array<std::uint8_t, 35> bytes {};

    ByteView securityData() const { return ByteView(bytes).subspan(1); }

    bool operator==(const GRecord&) const = default;
};

// The six fields of a time record; all 0 until the first one.
struct TimeRecordFields {
    std::uint8_t hour { 0 };
    std::uint8_t minute { 0 };
    std::uint8_t second { 0 };
    std::uint8_t day { 0 };
    std::uint8_t month { 0 };
    std::uint8_t year { 0 }; // two digits

    // The UTC moment of the fields, nothing when they do not make a valid date and
    // time (as before the first time record).
    std::optional<std::chrono::sys_seconds> timeBase() const;
};

struct TrackLogWalk {
    std::vector<LocationSample> samples;
    std::optional<HRecord> hRecord; // the last one found
    std::optional<GRecord> gRecord;
    TimeRecordFields latestTime;
};

// Walks the joined flight data. Nothing when the data does not start with the header
// type 0xFE (an empty flight data counts as a header type of 0); both cases write
// "blockHeader->headerType is not 0xFE, it is %x" and the whole data to the log. A
// second-format flight data too short for its LogFlightHeader, or whose dataOffset
// lies beyond the data, holds no records: an empty walk.
std::optional<TrackLogWalk> walkTrackLog(ByteView flightData, TrackLogFormat format, LogSink& log);

// "20%d-%d-%d-XCV-%@-%02d": the date of the latest time record, the recorder's serial
// (the A-record text from its fourth character when it has at least five, else "cvx")
// and the flight number modulo 100.
std::string suggestedTrackLogFilename(const HRecord* hRecord, const TimeRecordFields& latestTime, std::int64_t flightNumber);

} // namespace corvex
