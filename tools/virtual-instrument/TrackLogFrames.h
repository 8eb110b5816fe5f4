#pragma once

#include "FlightLibrary.h"
#include "base/Bytes.h"

#include <cstdint>
#include <string>
#include <vector>

// The instrument's side of the track-log sectors and the instrument-made IGC text.
namespace corvex::virtualinstrument {

enum class TrackLogFormat { First, Second };

// What the instrument knows about itself that goes into a flight's records.
struct RecorderInfo {
    std::uint32_t deviceId { 0 };
    std::uint16_t firmwareVersion { 0 };
    std::uint16_t hardwareVersion { 0 };
    std::string frType; // used when the IGC file names none
};

constexpr std::size_t sectorPayloadSize = 255;
constexpr std::size_t locationRecordSize = 15;
constexpr std::size_t locationRecordV2Size = 16;
constexpr std::size_t hRecordSize = 166;
constexpr std::size_t gRecordSize = 35;
constexpr std::size_t logFlightHeaderSize = 20;
// The second format's records start a little after the flight header, so a reader that
// ignores dataOffset and starts right after the header goes wrong.
constexpr std::uint16_t secondFormatDataOffset = 9 + logFlightHeaderSize + 3;

// The A-record text of the H record: manufacturer code and serial from the IGC file's
// A line (at most 15 characters), or "XCV" and the device id when the line has too
// little to go on.
std::string aRecordText(const flights::IgcFlight& igc, std::uint32_t deviceId);

// The 166-byte H record of a flight.
Bytes encodeHRecord(const Flight& flight, const RecorderInfo& recorder);

// The 35-byte G record: 0xF6 and a 34-byte digest of the flight's fixes.
Bytes encodeGRecord(const Flight& flight);

// The second format's GPS elevation extension is exercised on even flight numbers:
// the elevation is split into the record's field and an extension byte.
bool usesElevationExtension(const Flight& flight);

// The flight data as the instrument stores it: the 9-byte block header, in the second
// format the LogFlightHeader, then time, location, H and G records. A time record
// starts the data and comes again whenever the UTC date changes or the seconds since
// the time base would no longer fit 16 bits.
Bytes encodeFlightData(const Flight& flight, TrackLogFormat format, const RecorderInfo& recorder);

// The two writes of sector `index` of the flight data: the 4-byte DEV_DRV_UPLOAD_SECTOR
// header (0x04, the number of sectors still to follow, the valid length) and a full
// 255-byte payload, the last one padded with 0xFF past its valid bytes.
std::size_t sectorCount(std::size_t flightDataSize);
std::vector<Bytes> encodeSector(ByteView flightData, std::size_t index);

// One block of the instrument-made IGC text.
struct IgcTextBlock {
    std::uint8_t state { 0 };
    std::string text;
};

// The answer may be 300 bytes, but its length field is one byte: 255 text bytes at most.
constexpr std::size_t igcTextBlockMaximum = 255;
constexpr std::uint8_t igcTextEndState = 5;

// Whether the firmware's end block is dropped by the program; the program's own rule.
bool isRecentIgcFirmware(std::uint16_t firmwareVersion);

// The name the instrument proposes: "2014-7-5-XCV-12345-23.IGC" style.
std::string igcFileName(const Flight& flight, std::uint32_t deviceId);

// The blocks of one transfer: the file-name block (state 1), the file's lines in data
// blocks (state 2 for the header, 4 for the block that starts the B records, 3 after
// it), then the end block (state 5) with the security (G) lines. Blocks hold several
// LF-ended lines or, every fourth block, a single line without LF. Recent firmware
// sends the G lines among the data and repeats them in the end block, which the
// program drops; older firmware sends them in the end block only, which the program
// keeps. Either way the program ends up with the whole file.
std::vector<IgcTextBlock> igcTextBlocks(const Flight& flight, std::uint16_t firmwareVersion, std::uint32_t deviceId);

// 0x03, state, length, text, NUL-padded to the full 300 bytes the program asks for:
// the text ends at its length (the file name at its first NUL), and a full answer
// ends the program's read at once instead of after 0.1 s of silence per block.
constexpr std::size_t igcTextAnswerSize = 300;
Bytes encodeIgcTextBlock(const IgcTextBlock& block);

} // namespace corvex::virtualinstrument
