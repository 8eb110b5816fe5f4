#include "device/TrackLogCodec.h"

#include "base/ByteReader.h"
#include "device/Protocol.h"
#include "platform/LogSink.h"

#include <algorithm>

namespace corvex {

using namespace protocol;

namespace {

std::string textAt(ByteView bytes, std::size_t offset, std::size_t slotSize)
{
    ByteReader reader(bytes);
    reader.seek(offset);
    return reader.text(slotSize).value_or(std::string {});
}

std::uint16_t u16beAt(ByteView bytes, std::size_t offset)
{
    ByteReader reader(bytes);
    reader.seek(offset);
    return reader.u16be().value_or(0);
}

} // namespace

std::string HRecord::aRecordText() const { return textAt(bytes, 2, 16); }
std::int8_t HRecord::day() const { return static_cast<std::int8_t>(bytes[18]); }
std::int8_t HRecord::month() const { return static_cast<std::int8_t>(bytes[19]); }
std::int8_t HRecord::year() const { return static_cast<std::int8_t>(bytes[20]); }
std::uint16_t HRecord::fixAccuracy() const
{
    ByteReader reader(bytes);
    reader.seek(22);
    return reader.u16le().value_or(0);
}
std::string HRecord::gpsDatum() const { return textAt(bytes, 24, 10); }
std::uint16_t HRecord::firmwareVersion() const { return u16beAt(bytes, 34); }
std::uint16_t HRecord::hardwareVersion() const { return u16beAt(bytes, 36); }
std::string HRecord::flightRecorderType() const { return textAt(bytes, 38, 32); }
std::string HRecord::gpsReceiver() const { return textAt(bytes, 70, 48); }
std::string HRecord::pressureAltitudeSensor() const { return textAt(bytes, 118, 48); }

std::optional<std::chrono::sys_seconds> TimeRecordFields::timeBase() const
{
    // The instrument's time base is the text "20yy-MM-dd HH:mm:ss +0000" read in that
    // fixed form, so only a real calendar date and clock time give a date; the fields
    // before the first time record (all 0) do not.
    if (year > 99 || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const std::chrono::year_month_day date { std::chrono::year(2000 + year), std::chrono::month(month),
        std::chrono::day(day) };
    if (!date.ok())
        return std::nullopt;
    return std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute)
        + std::chrono::seconds(second);
}

std::optional<TrackLogWalk> walkTrackLog(ByteView flightData, TrackLogFormat format, LogSink& log)
{
    const std::uint8_t headerType = flightData.empty() ? 0 : flightData[0];
    if (headerType != flightDataHeaderType) {
        logLine(log, "blockHeader->headerType is not 0xFE, it is %x", headerType);
        logLine(log, "(and the whole flightData is %s)", describeBytes(flightData).c_str());
        return std::nullopt;
    }

    const bool second = format == TrackLogFormat::Second;
    TrackLogWalk walk;
    std::size_t position = flightDataRecordsOffset;
    LogFlightHeader flightHeader;
    if (second) {
        if (flightData.size() < flightDataRecordsOffset + logFlightHeaderLength)
            return walk;
        flightHeader = LogFlightHeader::fromBytes(
            flightData.subspan(flightDataRecordsOffset).first<logFlightHeaderLength>());
        position = flightHeader.dataOffset();
    }
    if (position >= flightData.size())
        return walk;

    const std::size_t locationLength = second ? locationRecordV2Length : locationRecordLength;
    std::optional<std::chrono::sys_seconds> timeBase = walk.latestTime.timeBase();
    bool foundH = false;
    bool foundG = false;

    while (position < flightData.size()) {
        // The second format's records end with the H and G records; what follows them
        // is not part of the flight.
        if (second && foundH && foundG)
            break;
        const std::uint8_t type = flightData[position];
        const std::size_t remaining = flightData.size() - position;
        const ByteView rest = flightData.subspan(position);

        if (type == timeRecordType && remaining >= timeRecordLength) {
            if (second)
                logLine(log, "Found time record %s", describeBytes(rest.first(timeRecordLength)).c_str());
            ByteReader reader(rest);
            reader.skip(1);
            TimeRecordFields& time = walk.latestTime;
            time.hour = reader.u8().value_or(0);
            time.minute = reader.u8().value_or(0);
            time.second = reader.u8().value_or(0);
            time.day = reader.u8().value_or(0);
            time.month = reader.u8().value_or(0);
            time.year = reader.u8().value_or(0);
            timeBase = time.timeBase();
            position += timeRecordLength;
        } else if (type >= locationRecordTypeFirst && type <= locationRecordTypeLast && remaining >= locationLength) {
            if (second) {
                logLine(log, "Found location record %s", describeBytes(rest.first(locationRecordV2Length)).c_str());
                walk.samples.push_back(
                    LocationSample::initWithLogRecordV2(rest.first<locationRecordV2Length>(), timeBase, flightHeader));
            } else {
                walk.samples.push_back(LocationSample::initWithLogRecord(rest.first<locationRecordLength>(), timeBase));
            }
            position += locationLength;
        } else if (type == hRecordType && remaining >= hRecordLength) {
            logLine(log, "Found HRecord");
            HRecord record;
            std::copy_n(rest.begin(), hRecordLength, record.bytes.begin());
            walk.hRecord = record;
            foundH = true;
            position += hRecordLength;
        } else if (type == gRecordType && remaining >= gRecordLength) {
            logLine(log, "Found GRecord");
            GRecord record;
            std::copy_n(rest.begin(), gRecordLength, record.bytes.begin());
            walk.gRecord = record;
            foundG = true;
            position += gRecordLength;
        } else {
            // Unknown bytes, and the bytes of a record cut off by the end of the data.
            logLine(log, "skipping unrecognized byte 0x%02X", type);
            position += 1;
        }
    }
    return walk;
}

std::string suggestedTrackLogFilename(const HRecord* hRecord, const TimeRecordFields& latestTime, std::int64_t flightNumber)
{
    std::string serial = "cvx";
    if (hRecord) {
        auto characters = utf8Characters(hRecord->aRecordText());
        if (characters && characters->size() >= 5) {
            serial.clear();
            for (std::size_t i = 3; i < characters->size(); ++i)
                serial += (*characters)[i];
        }
    }
    // The name becomes a file name: a separator or a control character from the
    // instrument must not reach the file system. (Joined, not formatted: a NUL in the
    // serial must not end the name.)
    return safeFileName(formatString("20%d-%d-%d-XCV-", latestTime.year, latestTime.month, latestTime.day) + serial
        + formatString("-%02d", static_cast<int>(flightNumber % 100)));
}

} // namespace corvex
