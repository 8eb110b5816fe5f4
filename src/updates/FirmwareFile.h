#pragma once

#include "base/Bytes.h"
#include "base/FileRead.h"
#include "base/Result.h"
#include "device/VarioModel.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex {

// The largest firmware file read or fetched: S-record text of the instrument's whole
// flash is a few megabytes; this leaves room for any model to come, yet a device that
// never ends (/dev/zero) or a file of gigabytes is refused instead of filling memory.
inline constexpr std::size_t largestFirmwareFileBytes = largestFileBytes(FileKind::Firmware);

// Reads a firmware file the user chose, never more than largestFirmwareFileBytes + 1
// bytes; anything but a regular file (a folder, a FIFO, /dev/zero) is refused unread.
Result<Bytes, FileReadError> readFirmwareFileAt(const std::string& path);

// The firmware lines of a text: split at every newline character (so CR LF leaves
// empty pieces between lines), keep the pieces that start with an upper-case "S", trim
// white space from both ends. In file order, numbered from 0.
std::vector<std::string> selectFirmwareLines(std::string_view text);

// One Motorola S-record: "S", a record type (0-3, 5-9), hex digit pairs of which the
// first is the byte count of those that follow, and a last byte that makes the ones'
// complement checksum of count, address and data come out right.
bool isWellFormedSRecord(std::string_view line);
// S7, S8 or S9: the record that ends an image.
bool isTerminationRecord(std::string_view line);

// Why a firmware file cannot be installed.
enum class FirmwareFileProblem {
    NotAscii, // a byte above 0x7F
    NoFirmwareLines, // nothing starts with "S" (an empty file, an HTML page)
    DamagedLine, // a selected line is not a sound S-record
    NoTermination, // the last line is no S7/S8/S9: the file was cut short
};

struct FirmwareFile {
    std::vector<std::string> lines;
    std::optional<FirmwareFileProblem> problem;
    std::size_t damagedLine { 0 }; // the first damaged line's number, for DamagedLine
};

// Checks a whole file before any line goes to the instrument: a download cut short or
// an error page must never half-flash it.
FirmwareFile readFirmwareFile(ByteView data);

// The version the file's S0 header text names ("WREN 2.406": "2.406"), which the
// instrument reports once it runs that firmware; nothing when the header names none.
std::optional<std::string> firmwareVersionNamedIn(const FirmwareFile& file);

// The models the S0 header text names by a row's name, as a word of its own in any
// case ("WREN 2.406": the Wren), in the table's order; empty when it names none
// ("Corvex firmware 2.410").
std::vector<const VarioModel*> firmwareModelsNamedIn(const FirmwareFile& file);

} // namespace corvex
