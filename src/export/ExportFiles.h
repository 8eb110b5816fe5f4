#pragma once

#include "base/FileNames.h"

#include <cstdint>
#include <set>
#include <optional>
#include <string>
#include <string_view>

// Names and writes of the exported files: what turns a name the instrument proposes
// into a file inside the folder the user chose, and the ASCII text that goes into it.
namespace corvex {

// The names one all-flights export has written, so that a later flight never replaces
// an earlier one: flights 5 and 105 of one day share a suggested name.
class ExportNameBook {
public:
    // "base.extension" when that name is still free in this export, otherwise
    // "base-<flight number>.extension", then "base-<flight number>-2.extension" and
    // so on. The returned name is taken.
    std::string claim(std::string_view base, std::string_view extension, std::int64_t flightNumber);

private:
    std::set<std::string> m_taken;
};

// The text as ASCII, the way the files are written: a character outside 7-bit text
// becomes one '?', where a strict ASCII conversion would refuse the whole text and
// leave no file at all.
std::string asciiText(std::string_view text);

enum class FileWriteMode {
    // Into a temporary file beside the target that then replaces it: the target is
    // either the old file or the whole new one.
    Atomic,
    // Straight into the target, without following a symbolic link there.
    InPlace,
};

// The bytes as they are, whole and synced to the disk, in a new file of the user's usual
// mode next to `pathBeside` ("PATH.XXXXXX" made unique, or `pattern` in the same folder
// when given, ending in XXXXXX). Its name, or nothing (errno set) when it could not be
// written; nothing is left behind then. The caller moves it into place.
std::optional<std::string> writeTemporaryFile(const std::string& pattern, std::string_view bytes);

// Writes the text as ASCII. False when the file could not be written; the windows do
// not report that, the command line does.
bool writeTextFile(const std::string& path, std::string_view text, FileWriteMode mode);

// folder + "/" + name.
std::string pathInFolder(const std::string& folder, const std::string& name);

} // namespace corvex
