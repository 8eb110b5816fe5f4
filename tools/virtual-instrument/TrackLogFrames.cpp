#include "TrackLogFrames.h"

#include "ByteWriter.h"
#include "device/FirmwareVersion.h"
#include "device/Protocol.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace corvex::virtualinstrument {

using namespace corvex::protocol;

namespace {

constexpr std::uint8_t timeRecordType = 0xFE;
constexpr std::uint8_t locationRecordType = 0xF8;
constexpr std::uint8_t hRecordType = 0xF5;
constexpr std::uint8_t gRecordType = 0xF6;

using flights::IgcFix;

// The date of the flight's first fix.
CalendarDate firstDate(const Flight& flight)
{
    return flight.igc.fixes.empty() ? fixDate(flight.igc, IgcFix {}) : fixDate(flight.igc, flight.igc.fixes.front());
}

void timeRecord(ByteWriter& writer, const Flight& flight, const IgcFix& fix)
{
    CalendarDate date = fixDate(flight.igc, fix);
    const int second = fix.secondOfDay();
    writer.u8(timeRecordType)
        .u8(static_cast<std::uint8_t>(second / 3600))
        .u8(static_cast<std::uint8_t>(second / 60 % 60))
        .u8(static_cast<std::uint8_t>(second % 60))
        .u8(static_cast<std::uint8_t>(date.day))
        .u8(static_cast<std::uint8_t>(date.month))
        .u8(static_cast<std::uint8_t>(date.year % 100));
}

std::int16_t elevation(int metres)
{
    return static_cast<std::int16_t>(std::clamp(metres, -32768, 32767));
}

// A 64-bit FNV-1a over the fixes, stretched into as many bytes as asked for.
Bytes digest(const Flight& flight, std::size_t length)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    auto mix = [&hash](long long value) {
        for (int i = 0; i < 8; ++i) {
            hash ^= static_cast<std::uint8_t>(value >> (8 * i));
            hash *= 0x100000001b3ull;
        }
    };
    for (const IgcFix& fix : flight.igc.fixes) {
        const InstrumentCoordinate latitude = instrumentCoordinate(fix.rawLatitude);
        const InstrumentCoordinate longitude = instrumentCoordinate(fix.rawLongitude);
        mix(elapsedSeconds(flight.igc, fix));
        mix(latitude.degreesAndMinutes * 10000LL + latitude.minuteFraction);
        mix(longitude.degreesAndMinutes * 10000LL + longitude.minuteFraction);
        mix(fix.pressureAltitude * 100000LL + fix.gnssAltitude);
    }
    Bytes bytes;
    for (std::size_t i = 0; i < length; ++i) {
        hash = hash * 6364136223846793005ull + 1442695040888963407ull;
        bytes.push_back(static_cast<std::uint8_t>(hash >> 56));
    }
    return bytes;
}

std::string upperHex(ByteView bytes)
{
    std::string text;
    char digits[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
    }
    return text;
}

bool isSecurityLine(const std::string& line)
{
    return !line.empty() && line[0] == 'G';
}

} // namespace

std::string aRecordText(const flights::IgcFlight& igc, std::uint32_t deviceId)
{
    std::string text;
    for (char c : igc.loggerId) {
        if (!std::isalnum(static_cast<unsigned char>(c)) || text.size() == 15)
            break;
        text.push_back(c);
    }
    if (text.size() < 5) {
        char fallback[16];
        std::snprintf(fallback, sizeof fallback, "XCV%X", deviceId);
        text = fallback;
    }
    return text;
}

Bytes encodeHRecord(const Flight& flight, const RecorderInfo& recorder)
{
    const flights::IgcFlight& igc = flight.igc;
    CalendarDate date = firstDate(flight);
    int accuracy = 50;
    if (auto value = igc.headerValue("FXA"); value && !value->empty() && std::isdigit(static_cast<unsigned char>((*value)[0])))
        accuracy = std::stoi(*value);
    ByteWriter writer;
    writer.u8(hRecordType)
        .zeros(1)
        .text(aRecordText(igc, recorder.deviceId), 15)
        .zeros(1) // the A-record text is NUL-terminated within its 16 bytes
        .u8(static_cast<std::uint8_t>(date.day))
        .u8(static_cast<std::uint8_t>(date.month))
        .u8(static_cast<std::uint8_t>(date.year % 100))
        .zeros(1)
        .u16le(static_cast<std::uint16_t>(std::clamp(accuracy, 0, 65535)))
        .text("WGS-1984", 10)
        .u16be(recorder.firmwareVersion)
        .u16be(recorder.hardwareVersion)
        .text(igc.headerValue("FTY").value_or(recorder.frType), 32)
        .text(igc.headerValue("GPS").value_or("GENERIC"), 48)
        .text(igc.headerValue("PRS").value_or("GENERIC"), 48);
    return writer.take();
}

Bytes encodeGRecord(const Flight& flight)
{
    Bytes record { gRecordType };
    Bytes security = digest(flight, gRecordSize - 1);
    record.insert(record.end(), security.begin(), security.end());
    return record;
}

bool usesElevationExtension(const Flight& flight)
{
    return flight.flightNumber % 2 == 0;
}

Bytes encodeFlightData(const Flight& flight, TrackLogFormat format, const RecorderInfo& recorder)
{
    bool second = format == TrackLogFormat::Second;
    bool extension = second && usesElevationExtension(flight);
    ByteWriter writer;
    // The block header: type 0xFE, then the flight number and fix count (not read by
    // the program).
    writer.u8(0xFE).u16be(flight.flightNumber).u32be(static_cast<std::uint32_t>(flight.igc.fixes.size())).zeros(2);
    if (second) {
        // LogFlightHeader: a version byte, the extension flag, dataOffset (little-endian).
        writer.u8(2).u8(extension ? 1 : 0).u16le(secondFormatDataOffset).zeros(logFlightHeaderSize - 4);
        writer.padTo(secondFormatDataOffset);
    }
    const auto& fixes = flight.igc.fixes;
    if (fixes.empty()) {
        if (!second) {
            writer.bytes(encodeHRecord(flight, recorder));
            writer.bytes(encodeGRecord(flight));
        }
        return writer.take();
    }
    const IgcFix* base = &fixes.front();
    timeRecord(writer, flight, *base);
    if (!second)
        writer.bytes(encodeHRecord(flight, recorder));
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        const IgcFix& fix = fixes[i];
        long long seconds = fix.time - base->time;
        if (fixDate(flight.igc, fix) != fixDate(flight.igc, *base) || seconds < 0 || seconds > 0xFFFF) {
            base = &fix;
            timeRecord(writer, flight, fix);
            seconds = 0;
        }
        const InstrumentCoordinate latitude = instrumentCoordinate(fix.rawLatitude);
        const InstrumentCoordinate longitude = instrumentCoordinate(fix.rawLongitude);
        auto type = static_cast<std::uint8_t>(locationRecordType + (latitude.negative ? 1 : 0) + (longitude.negative ? 0 : 2));
        writer.u8(type)
            .u16be(static_cast<std::uint16_t>(seconds))
            .u16be(latitude.degreesAndMinutes)
            .u16be(latitude.minuteFraction)
            .u16be(longitude.degreesAndMinutes)
            .u16be(longitude.minuteFraction)
            .i16be(elevation(fix.pressureAltitude));
        std::int16_t gps = elevation(fix.gnssAltitude);
        if (extension) {
            // The program adds the byte to the field as unsigned 16-bit numbers.
            auto part = static_cast<std::uint8_t>(i % 7);
            writer.u16be(static_cast<std::uint16_t>(static_cast<std::uint16_t>(gps) - part)).u8(part);
        } else {
            writer.i16be(gps);
            if (second)
                writer.u8(0);
        }
    }
    // The second format's walk stops once it has seen both records: they come last.
    if (second)
        writer.bytes(encodeHRecord(flight, recorder));
    writer.bytes(encodeGRecord(flight));
    return writer.take();
}

std::size_t sectorCount(std::size_t flightDataSize)
{
    return std::max<std::size_t>(1, (flightDataSize + sectorPayloadSize - 1) / sectorPayloadSize);
}

std::vector<Bytes> encodeSector(ByteView flightData, std::size_t index)
{
    std::size_t count = sectorCount(flightData.size());
    std::size_t start = std::min(index * sectorPayloadSize, flightData.size());
    std::size_t valid = std::min(sectorPayloadSize, flightData.size() - start);
    std::size_t following = index + 1 < count ? count - index - 1 : 0;
    ByteWriter header;
    header.u8(byte(Command::UploadSector))
        .u16be(static_cast<std::uint16_t>(std::min<std::size_t>(following, 0xFFFF)))
        .u8(static_cast<std::uint8_t>(valid));
    Bytes payload(flightData.begin() + static_cast<std::ptrdiff_t>(start),
        flightData.begin() + static_cast<std::ptrdiff_t>(start + valid));
    payload.resize(sectorPayloadSize, 0xFF); // erased flash past the end of the data
    return { header.take(), payload };
}

bool isRecentIgcFirmware(std::uint16_t firmwareVersion)
{
    return FirmwareVersion(firmwareVersion).isRecentIgcFirmware();
}

std::string igcFileName(const Flight& flight, std::uint32_t deviceId)
{
    std::string aText = aRecordText(flight.igc, deviceId);
    std::string serial = aText.size() >= 5 ? aText.substr(3) : "cvx";
    CalendarDate date = firstDate(flight);
    char name[96];
    std::snprintf(name, sizeof name, "%d-%d-%d-XCV-%s-%02d.IGC", date.year, date.month, date.day, serial.c_str(),
        flight.flightNumber % 100);
    return name;
}

std::vector<IgcTextBlock> igcTextBlocks(const Flight& flight, std::uint16_t firmwareVersion, std::uint32_t deviceId)
{
    bool recent = isRecentIgcFirmware(firmwareVersion);
    std::vector<std::string> data;
    std::vector<std::string> security;
    for (const std::string& line : flight.lines) {
        if (line.empty())
            continue;
        std::string kept = line.substr(0, igcTextBlockMaximum);
        if (isSecurityLine(kept))
            security.push_back(kept);
        if (!isSecurityLine(kept) || recent)
            data.push_back(kept);
    }
    if (security.empty()) {
        // A file without a security record gets the instrument's own.
        security.push_back("G" + upperHex(encodeGRecord(flight)).substr(2));
        if (recent)
            data.push_back(security.back());
    }
    // The end block holds the last G lines, as many as fit; older firmware sends the
    // ones before them as data, so the file keeps its order.
    std::size_t firstInEnd = security.size();
    std::size_t endSize = 0;
    while (firstInEnd > 0 && endSize + security[firstInEnd - 1].size() + 1 <= igcTextBlockMaximum)
        endSize += security[--firstInEnd].size() + 1;
    std::string endText;
    for (std::size_t i = firstInEnd; i < security.size(); ++i)
        endText += security[i] + "\n";
    if (security.size() - firstInEnd == 1)
        endText.pop_back(); // a single line goes without LF
    if (!recent)
        data.insert(data.end(), security.begin(), security.begin() + static_cast<std::ptrdiff_t>(firstInEnd));

    std::vector<IgcTextBlock> blocks;
    blocks.push_back({ 1, igcFileName(flight, deviceId) });
    bool inFixes = false;
    std::size_t i = 0;
    while (i < data.size()) {
        bool startsFixes = !inFixes && data[i][0] == 'B';
        std::uint8_t state = inFixes ? 3 : (startsFixes ? 4 : 2);
        if (startsFixes)
            inFixes = true;
        IgcTextBlock block { state, {} };
        if (blocks.size() % 4 == 3) {
            block.text = data[i++];
        } else {
            // Several LF-ended lines, up to the block's size and never across the start
            // of the B records (that block has a state of its own).
            while (i < data.size() && block.text.size() + data[i].size() + 1 <= igcTextBlockMaximum) {
                if (!inFixes && data[i][0] == 'B')
                    break;
                block.text += data[i++] + "\n";
            }
            if (block.text.empty())
                block.text = data[i++];
        }
        blocks.push_back(std::move(block));
    }
    blocks.push_back({ igcTextEndState, endText });
    return blocks;
}

Bytes encodeIgcTextBlock(const IgcTextBlock& block)
{
    ByteWriter writer;
    std::size_t length = std::min(block.text.size(), igcTextBlockMaximum);
    writer.u8(byte(Command::LogBook)).u8(block.state).u8(static_cast<std::uint8_t>(length));
    writer.text(block.text, length).padTo(igcTextAnswerSize);
    return writer.take();
}

} // namespace corvex::virtualinstrument
