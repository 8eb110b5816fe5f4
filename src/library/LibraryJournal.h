#pragma once

#include "geo/GeoPoint.h"
#include "library/LibraryError.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvex {
class LogSink;
}

namespace corvex::library {

// What the journal says of one flight id, all its records read in order.
struct JournalFlight {
    std::string file; // where the flight's file is now, relative to the library
    int part { 0 };
    std::optional<std::int64_t> removed; // when the pilot removed it, unless restored since
    std::map<std::string, std::string> edits; // field -> value; a cleared edit is absent
};

// The pilot's name for the take-off site whose centre is there (see Sites.h).
struct SiteName {
    GeoPoint centre;
    std::string name;
};

// The library's memory of what the index cannot make again from the IGC files: the id
// each flight was given, the pilot's edits, the removals. An append-only text file
// beside the year folders (journal.tsv), one record a line, written with O_APPEND and
// synced, so that a rebuilt or lost index gets the same ids and edits back and a copy
// of the folder carries them along.
//
//   id       ID  FILE  PART     the id given to the flight PART of FILE
//   edit     ID  FIELD VALUE    the pilot's edit (glider, pilot, site, comment,
//                               scored_track); the last wins, an empty value clears it
//   removed  ID  TIME  FILE     removed at TIME (UTC seconds); FILE is where its file is now
//   restored ID  FILE           back in the list; FILE is where its file is now
//   site     LAT LON  NAME      the pilot's name for the site centred there (degrees, to
//                               7 decimals); the last wins, an empty name forgets it
//   glider   OLD NEW            the name the glider a file calls OLD shows (a rename, or a
//                               merge into a name in use); the last wins, an empty NEW
//                               forgets it; a flight's own glider edit still wins
//
// Fields are tab separated; a backslash, tab, line feed or carriage return inside one is
// written as \\, \t, \n, \r. A line that is cut short (a crash mid-write) or that does
// not read (a hand edit) is skipped with a log line, never fatal; so is a line whose FILE
// is not a plain name inside the library (pathOutsideFolder).
class LibraryJournal {
public:
    LibraryJournal(std::string libraryFolder, LogSink* log);

    std::string path() const;

    // Each appends one record and folds it into what state() gives. Io when the line
    // cannot be written and synced.
    LibraryResult<void> recordId(std::int64_t id, const std::string& file, int part);
    LibraryResult<void> recordEdit(std::int64_t id, std::string_view field, std::string_view value);
    LibraryResult<void> recordRemoval(std::int64_t id, std::int64_t time, const std::string& file);
    LibraryResult<void> recordRestore(std::int64_t id, const std::string& file);
    LibraryResult<void> recordSiteName(GeoPoint centre, std::string_view name);
    LibraryResult<void> recordGliderName(std::string_view fileName, std::string_view shownName);

    // Every record so far, also those another program appended since the last call.
    // Nothing when the flight has no id record.
    const JournalFlight* flight(std::int64_t id);
    // The id the journal gave the flight PART of FILE.
    std::optional<std::int64_t> idOf(const std::string& file, int part);
    // The largest id ever given (0 for none).
    std::int64_t largestId();
    // Every flight the journal knows, by id.
    const std::map<std::int64_t, JournalFlight>& flights();
    // The sites the pilot named, in the order they were first named.
    std::vector<SiteName> siteNames();
    // The pilot's names for gliders: the name a file gives -> the name shown.
    const std::map<std::string, std::string>& gliderNames();

private:
    void catchUp();
    void apply(const std::string& line, std::size_t lineNumber);
    LibraryResult<void> append(const std::string& record);
    // Moves every part of `from` to `to`: a file moves as a whole.
    void moveFile(const std::string& from, const std::string& to);
    void warn(const std::string& line) const;

    std::string m_folder;
    LogSink* m_log { nullptr };
    std::map<std::int64_t, JournalFlight> m_flights;
    std::map<std::pair<std::string, int>, std::int64_t> m_ids;
    // By the centre as the record writes it, so that naming a site again replaces the
    // name; the sequence number keeps the order they were first named in.
    std::map<std::string, std::pair<std::size_t, SiteName>> m_sites;
    std::size_t m_sitesNamed { 0 };
    std::map<std::string, std::string> m_gliders;
    std::int64_t m_largestId { 0 };
    std::uint64_t m_readBytes { 0 }; // the journal's bytes folded in so far (whole lines)
    std::size_t m_lines { 0 };
    std::uint64_t m_tornWarnedAt { UINT64_MAX }; // said once per cut-short line
};

} // namespace corvex::library
