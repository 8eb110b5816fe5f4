#pragma once

#include <cstddef>
#include <cstdint>

// The instrument's command bytes and frame sizes. Every exchange is one request frame,
// then reads that ask for the largest acceptable answer; answers are recognised by
// their length and first byte.
namespace corvex::protocol {

enum class Command : std::uint8_t {
    DeviceInfo = 0x01,
    DeviceInfoResponse = 0x02,
    LogBook = 0x03, // followed by a LogBookOperation byte
    UploadSector = 0x04, // DEV_DRV_UPLOAD_SECTOR, the answer to a track-log sector request
    ListTracksRecord = 0x05, // DEV_DRV_LIST_TRACKS message id
    FirmwareLine = 0x0B,
    UnitsBitfield = 0x0D,
    PilotData = 0x0E,
    Airspaces = 0x0F,
    FirmwareLineV2 = 0x11,
};

enum class LogBookOperation : std::uint8_t {
    EraseAll = 0x02,
    TrackLogSector = 0x03,
    NextRecordShort = 0x05,
    NextRecordFull = 0x06,
    TrackLogSectorV2 = 0x07,
    IgcTextBlock = 0x08,
};

constexpr std::uint8_t byte(Command command) { return static_cast<std::uint8_t>(command); }
constexpr std::uint8_t byte(LogBookOperation operation) { return static_cast<std::uint8_t>(operation); }

// Device info: 28 bytes asked for, 18 needed.
constexpr std::size_t deviceInfoRequestLength = 28;
constexpr std::size_t deviceInfoMinimumLength = 18;
constexpr int deviceInfoAttempts = 2;

// Units bitfield: exactly 2 bytes, 0x0D and the bits.
constexpr std::size_t unitsBitfieldLength = 2;
constexpr int unitsBitfieldAttempts = 2;

// DEV_DRV_LIST_TRACKS: 89 bytes. The full list accepts 53 bytes or more (the record
// without its last 36 bytes); 8 and 49 bytes are the instrument's empty records.
constexpr std::size_t listTracksRecordSize = 89;
constexpr std::size_t listTracksUnusedTail = 36;
constexpr std::size_t listTracksFullMinimum = listTracksRecordSize - listTracksUnusedTail; // 53
constexpr std::size_t listTracksShortEmptyRecord = 8;
// The block field is 16 bits wide: no log book holds more records than it can count.
// Past that many answers the instrument is not going to send its last record.
constexpr std::size_t listTracksAnswerLimit = 65536;
constexpr std::size_t listTracksLongEmptyRecord = 49;

// The erase answer is read and ignored.
constexpr std::size_t eraseAnswerLength = 28;

// Opening the callout device: 3 attempts, 1 s apart.
constexpr int openAttempts = 3;
constexpr int openRetryDelayMilliseconds = 1000;

// --- Track logs ---

// DEV_DRV_UPLOAD_SECTOR: a 4-byte header (0x04, block field u16be, valid length), then
// the payload as a separate read of up to 255 bytes.
constexpr std::size_t uploadSectorHeaderLength = 4;
constexpr std::size_t uploadSectorPayloadLength = 255;
// 16 MB of flight data, far beyond any flight: past it the instrument is not going to
// send its last sector.
constexpr std::size_t uploadSectorLimit = 65536;

// The joined flight data and its records.
constexpr std::uint8_t flightDataHeaderType = 0xFE;
constexpr std::size_t flightDataRecordsOffset = 9; // first format; the second's LogFlightHeader
constexpr std::size_t logFlightHeaderLength = 20;
constexpr std::uint8_t timeRecordType = 0xFE;
constexpr std::size_t timeRecordLength = 7;
constexpr std::uint8_t locationRecordTypeFirst = 0xF8; // + 1 south, + 2 east
constexpr std::uint8_t locationRecordTypeLast = 0xFB;
constexpr std::size_t locationRecordLength = 15;
constexpr std::size_t locationRecordV2Length = 16;
constexpr std::uint8_t hRecordType = 0xF5;
constexpr std::size_t hRecordLength = 166;
constexpr std::uint8_t gRecordType = 0xF6;
constexpr std::size_t gRecordLength = 35;

// --- Instrument-made IGC text ---

// Request 0x03 0x08 n n s; answer 0x03, state, length, text, padded by some
// instruments to 300 bytes.
constexpr std::size_t igcTextRequestLength = 5;
constexpr std::size_t igcTextAnswerLength = 300;
constexpr std::size_t igcTextHeaderLength = 3;
// Padding, where an instrument pads its answers, follows the text at once; this long
// without a byte ends it (and, for the file name, a name without its NUL).
constexpr int igcTextPaddingSilenceMilliseconds = 20;
// NULs skipped before an answer's first byte; past this many the line is not padding.
constexpr std::size_t igcTextPaddingLimit = 4096;
constexpr std::uint8_t igcReadStateFilename = 1;
constexpr std::uint8_t igcReadStateComment = 4; // the part at which our comment lines go
constexpr std::uint8_t igcReadStateEnd = 5; // 5 to 254 end the file
constexpr std::uint8_t IGC_READ_STATE_ERROR = 0xFF;
// Up to 16 MB of text: some thirty times the longest flight file seen, and the mark of
// an instrument that never reaches its end state.
constexpr std::size_t igcTextBlockLimit = 65536;

// A track-log or IGC text transfer whose answer broke off or never came is asked for
// again this many times before it fails.
constexpr int transferRetries = 3;
// Before it is asked again, the line must have been quiet this long: what is left of
// the broken answer comes after a stall of the sender, often longer than the 0.1 s that
// ended the read, and would otherwise be taken for the start of the next answer.
constexpr int transferRetryQuietMilliseconds = 300;

// --- Pilot data ---

// Request header: 0x0E, direction, offset u32le, length u32le, status u16le; a write
// carries its chunk in the same frame. DRV_DEV_PILOTDATA_RESPONSE is 11 bytes.
// The record size is also the most a read may announce, answer by answer and in total.
constexpr std::size_t pilotDataRecordSize = 513;
constexpr std::size_t pilotDataRequestHeaderLength = 12;
constexpr std::size_t pilotDataResponseLength = 11;
constexpr std::uint8_t pilotDataDirectionRead = 0x00;
constexpr std::uint8_t pilotDataDirectionWrite = 0x01;
constexpr std::size_t pilotDataUploadChunkLength = 278; // so the record goes out as 278 + 235

// --- Airspaces transfer ---

// Request 0x0F, operation, scope (read: 1 whole / 0 metadata; write and conclude: 1;
// erase: 0), chunk length u32le. A write sends its padded payload as a second write.
// The answer is 6 bytes: not interpreted, status, payload length u32le (reads).
enum class AirspacesOperation : std::uint8_t {
    ReadFromBeginning = 0,
    ReadNext = 1,
    WriteFirst = 2,
    WriteNext = 3,
    ConcludeWrite = 4,
    Erase = 5,
};
constexpr std::uint8_t byte(AirspacesOperation operation) { return static_cast<std::uint8_t>(operation); }

constexpr std::size_t airspacesRequestLength = 7;
constexpr std::size_t airspacesAnswerLength = 6;
constexpr std::size_t airspacesChunkPayloadLength = 121;
// The most payload one read answer may announce. Instruments hand their set out in
// chunks of a few hundred bytes, a metadata read at most the 2300-byte header in one;
// a length beyond this is a damaged answer, not data, and is refused before any of it
// is read.
constexpr std::size_t airspacesReadPayloadLimit = 65536;
constexpr std::uint8_t AIRSPACES_STATUS_ERROR = 0;
constexpr std::uint8_t airspacesStatusLastData = 1;
constexpr std::uint8_t airspacesStatusMoreData = 2;
// The instrument answers an erase only when it is done; the program waits this long.
constexpr int airspacesEraseWaitSteps = 210;
constexpr double airspacesEraseWaitStepSeconds = 0.1;

// --- Firmware lines ---

// Request: command, line number u16be, the S-record's characters, NUL. The answer is 4
// bytes of which only the last, the verdict (0 accepted), is read.
constexpr std::size_t firmwareLineFrameOverhead = 4;
constexpr std::size_t firmwareLineAnswerLength = 4;
constexpr std::size_t firmwareLineVerdictOffset = 3;

} // namespace corvex::protocol
