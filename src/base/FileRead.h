#pragma once

#include "base/Result.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvex {

// What a file read whole is for; each purpose has its own largest size, so that a file
// named by mistake (a disk image, a video) is refused before it fills the memory.
enum class FileKind {
    IgcFlight,
    OpenAir,
    AirspaceSet,
    Firmware,
    Feed,
    UpdateArchive,
    InstrumentState,
};

// The largest file of a purpose, in bytes: the one table of them.
constexpr std::size_t largestFileBytes(FileKind kind)
{
    constexpr std::size_t MiB = std::size_t { 1 } << 20;
    switch (kind) {
    case FileKind::IgcFlight:
        return 64 * MiB; // a day's flight at a fix a second is a few megabytes
    case FileKind::OpenAir:
        return 64 * MiB; // the files of whole continents are a few megabytes
    case FileKind::AirspaceSet:
        return 16 * MiB; // the most the program reads back from an instrument
    case FileKind::Firmware:
        return 32 * MiB; // S-record text of a whole flash is a few megabytes
    case FileKind::Feed:
        return 4 * MiB; // a JSON or XML document: versions feed, property list
    case FileKind::UpdateArchive:
        return 256 * MiB; // a program package
    case FileKind::InstrumentState:
        return 16 * MiB; // a virtual instrument's kept memory, as large as its set
    }
    return 4 * MiB;
}

// The purpose as people name it after "too large for": "an IGC flight file".
const char* fileKindName(FileKind kind);

struct FileReadError {
    enum class Kind {
        Missing, // nothing under that name (or a link to nothing)
        NotRegularFile, // a folder, a named pipe, a device, a socket
        TooLarge, // more than the purpose's limit
        Unreadable, // no permission or an error while reading: see detail
    };
    Kind kind = Kind::Unreadable;
    std::string path;
    std::string detail; // the system's reason for Unreadable; what the file is for NotRegularFile
    std::uintmax_t size = 0; // for TooLarge: the size the file has; 0 when it grew while read
    std::size_t limit = 0;
    const char* purpose = ""; // fileKindName, or "" when a bare byte limit was given

    // Why, without the file's name: "no such file", "it is a folder, not a file",
    // "it is 200 MiB, too large for an OpenAir file (at most 64 MiB)", "Permission denied".
    std::string reason() const;
    // For people who named the file: "cannot read PATH: REASON", or "PATH is too large ..."
    std::string message() const;
};

// Reads a whole regular file, following symbolic links. Anything else (a folder, a
// FIFO, a device) is refused before a byte is read, so a named pipe never blocks the
// caller; a file that grows while it is read stops at limit + 1 bytes and is refused.
Result<std::string, FileReadError> readFileWhole(const std::string& path, FileKind purpose);
Result<std::string, FileReadError> readFileWhole(const std::string& path, std::size_t largestBytes);

} // namespace corvex
