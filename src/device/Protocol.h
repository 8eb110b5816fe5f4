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
constexpr std::size_t listTracksLongEmptyRecord = 49;

// The erase answer is read and ignored.
constexpr std::size_t eraseAnswerLength = 28;

// The instrument's USB identity.
constexpr std::int32_t usbVendorId = 0x2504;
constexpr std::int32_t usbProductId = 0x0300;

// Opening the callout device: 3 attempts, 1 s apart.
constexpr int openAttempts = 3;
constexpr int openRetryDelayMilliseconds = 1000;

} // namespace corvex::protocol
