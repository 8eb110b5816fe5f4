#pragma once

#include "library/AirspaceIndex.h"
#include "library/LibraryError.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex {
class LogSink;
}

namespace corvex::library {

// Why an OpenAir file was kept.
enum class AirspaceUse {
    Converted, // made into a set for the instrument
    Checked, // a flight was checked against it
    Uploaded, // the set made from it went onto an instrument
};
const char* airspaceUseName(AirspaceUse use); // "converted", "checked", "uploaded"

// The OpenAir files the pilot converted, uploaded or checked flights against, kept in
// the library's Airspaces folder once per content (SHA-256) and recorded in its index
// with each use. It answers which set an instrument held on a flight's day, so a flight
// can be checked years later against the airspaces the pilot flew with.
class AirspaceArchive {
public:
    AirspaceArchive(std::string libraryFolder, AirspaceIndex& index, LogSink* log = nullptr);

    // Keeps the bytes (a copy only the first time) and records the use. For Converted,
    // setSha256 is the digest of the set made from it, which an upload names later.
    LibraryResult<AirspaceFileRecord> keep(std::string_view bytes, const std::string& name, AirspaceUse use,
        std::int64_t time, const std::string& setSha256 = {});
    LibraryResult<AirspaceFileRecord> keepFile(const std::string& path, AirspaceUse use, std::int64_t time,
        const std::string& setSha256 = {});

    // The set with this digest went onto the instrument: recorded against the OpenAir
    // file it was converted from. Nothing when no kept file was made into that set
    // (a set from the approved list, or converted before the library kept files).
    LibraryResult<std::optional<AirspaceFileRecord>> recordUpload(const std::string& setSha256, const std::string& serial, std::int64_t time);

    // The file whose set the instrument held at that time: the last upload to it at or
    // before then; nothing when no kept file's set was.
    LibraryResult<std::optional<AirspaceFileRecord>> heldBy(const std::string& serial, std::int64_t time) const;

    // The index is a cache of the library's files, this record included: every use is
    // also a line of Airspaces/uses.tsv, which an index made again reads back. Returns
    // how many uses came back; nothing is done when the index knows files already. A line
    // whose file is not a plain name inside the Airspaces folder is skipped with a log
    // line: the next use would write the kept copy there.
    LibraryResult<std::size_t> restoreFromJournal();

    std::string pathOf(const AirspaceFileRecord& record) const;
    std::string folder() const;
    AirspaceIndex& index() { return m_index; }
    const AirspaceIndex& index() const { return m_index; }

private:
    void appendToJournal(const AirspaceFileRecord& record, const AirspaceUseRecord& use) const;
    // What is wrong with a kept file's path relative to the library: empty when it is
    // a plain name in the Airspaces folder.
    std::string refusedPath(const std::string& file) const;
    void log(const std::string& line) const;

    std::string m_libraryFolder;
    AirspaceIndex& m_index;
    LogSink* m_log { nullptr };
};

} // namespace corvex::library
