#pragma once

#include "library/AirspaceArchive.h"
#include "library/AirspaceIndex.h"
#include "library/FlightIndex.h"
#include "library/FlightScores.h"
#include "library/LibraryError.h"
#include "library/LibraryJournal.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex {
class LogSink;
}

namespace corvex::flights {
struct IgcFlight;
struct FlightFigures;
}

namespace corvex::library {

// What became of one file offered to the library.
struct ImportOutcome {
    enum class Kind {
        Imported,
        AlreadyInLibrary,
        Refused,
    };
    Kind kind { Kind::Refused };
    std::string source; // the path offered, or a description of where the text came from
    // Imported: what else became of it, or nothing: a shorter copy it replaced ("replaced
    // the shorter copy ... kept as Replaced/..."), another logger's recording of the same
    // flight ("also recorded by ..."). Already: which flight it is. Refused: why.
    std::string message;
    // The new flight (the first of the file's), or the one already there.
    std::optional<LibraryFlight> flight;
    // Lines of the file that were skipped: "PATH:LINE: what is wrong".
    std::vector<std::string> skippedLines;
};

struct ImportTally {
    std::size_t imported { 0 };
    std::size_t already { 0 };
    std::size_t refused { 0 };
    void count(const ImportOutcome& outcome);
};

// The pilot's flights on this computer: a folder of IGC files, YYYY/YYYY-MM-DD_HHMM_ID.igc
// by UTC take-off time, and the index that finds them again. A file appears under its
// name only when it is whole (written beside it, synced, then linked into place), and
// the index records a flight only after that, so a process killed at any point leaves
// either nothing or a whole file that the next reconcile indexes.
class FlightLibrary {
public:
    // Opens (creating) the folder and its index. An index that is damaged is set aside
    // and made again from the files, with a log line. A library whose folder or index
    // cannot be written (a read-only mount, another user's files) is opened to be read:
    // what would change it fails with readOnlyError().
    static LibraryResult<std::unique_ptr<FlightLibrary>> open(const std::string& folder, LogSink* log = nullptr);

    bool readOnly() const { return m_readOnly; }
    // "the library at DIR is read-only: changes are not possible".
    LibraryError readOnlyError() const;
    // The folders the last reconcile could not read, with why: their flights stay
    // listed as the index knew them.
    const std::vector<std::string>& unreadableFolders() const { return m_unreadableFolders; }

    const std::string& folder() const { return m_folder; }
    FlightIndex& index() { return *m_index; }
    const FlightIndex& index() const { return *m_index; }
    std::string pathOf(const LibraryFlight& flight) const;
    std::string indexPath() const;

    // A file from any logger. Each flight of it (a landing and a relaunch make two) is a
    // row of its own. The same flight twice (the same bytes, or the same logger's
    // recording over the same time) is not added again, unless the new copy holds more
    // of it: then it takes the kept copy's place and id, and the kept copy moves to
    // Replaced/ inside the library. Another logger's recording of a flight (the same
    // pilot, the same time and track) is kept as a second recording of the better one.
    ImportOutcome importFile(const std::string& path);
    // Files, and folders searched for files named *.igc in any case, all in one
    // transaction. `progress` hears each outcome as it comes.
    std::vector<ImportOutcome> importPaths(const std::vector<std::string>& paths,
        const std::function<void(const ImportOutcome&, std::size_t done, std::size_t total)>& progress = {});

    // IGC text the instrument with this serial gave for its log-book entry of that
    // minute.
    ImportOutcome addInstrumentFlight(std::string_view igcText, const std::string& serial, std::int64_t logBookMinute,
        const std::string& source);
    // The flight of the instrument's log-book entry; NotFound when it is not here yet.
    LibraryResult<LibraryFlight> instrumentFlight(const std::string& serial, std::int64_t logBookMinute) const;

    // Indexes whole files of the year folders that the index does not know (a sync
    // killed between the file and the index; under the journal's id when it knows the
    // file) and forgets flights whose file is gone. Returns how many it added;
    // fails when the folder cannot be searched or the index not read or written. A
    // year folder that cannot be read is no empty one: its rows stay, with a log line
    // (unreadableFolders()). Writes nothing when the folders match the index, and
    // nothing at all in a read-only library.
    LibraryResult<std::size_t> reconcile();
    // Throws the index away and makes it again from every IGC file in the year folders
    // and the removed folder, each flight under the id the journal gave it, in one
    // transaction: a rebuild killed or failed leaves the index as it was. Fails, changing
    // nothing, when a year folder cannot be read.
    struct RebuildOutcome {
        std::size_t flights { 0 };
        std::vector<ImportOutcome> refused;
    };
    LibraryResult<RebuildOutcome> rebuild();

    // Scores the flights that have no score yet (after an import, a sync or a rebuild)
    // and computes again figures of an older figuresVersion, on this thread's
    // connection. A window scores through its own connection instead (fillScores over
    // FlightIndex::open(indexPath())) so that it never waits. The token's cancel stops
    // it between flights.
    LibraryResult<ScoreFillOutcome> fillScores(const ScoreFillOptions& options = {}, const CancelToken& cancel = {});

    // The OpenAir files the pilot converted, uploaded or checked flights against.
    AirspaceArchive& airspaces() { return m_airspaces; }
    const AirspaceArchive& airspaces() const { return m_airspaces; }
    // The OpenAir file whose set the flight's instrument held at its take-off (the
    // last one uploaded to it at or before then), when the library kept it. Nothing
    // for a flight of another logger or of an instrument the library saw no upload to,
    // and when the record cannot be read (logged).
    std::optional<std::string> airspaceFileFor(const LibraryFlight& flight) const;

    // The pilot's undo. Remove moves the flight's file (and its other recordings) into
    // the removed folder inside the library and lists it no more; restore brings it
    // back under the same id. Nothing is deleted. NotFound for an unknown id.
    LibraryResult<LibraryFlight> remove(std::int64_t id);
    LibraryResult<LibraryFlight> restore(std::int64_t id);
    // The pilot's words about a flight, kept in the journal beside the files so that a
    // rebuilt index keeps them; the IGC file is never changed. Returns the flight as
    // it is now.
    LibraryResult<LibraryFlight> edit(std::int64_t id, const FlightEdit& edit);
    // The pilot's name for a glider, kept in the journal, the files untouched: every
    // flight that shows `from` shows `to` from now on (a name in use already: the two
    // are one glider), also after a rebuild. The file's name is renamed where the flight
    // has no edit of its own, the edit where it says `from`. An empty `to` forgets the
    // new name of the file's name `from`. Returns how many flights it renamed.
    LibraryResult<std::int64_t> renameGlider(const std::string& from, const std::string& to);
    // The folder against the index and the journal: what is there and what does not
    // match. With `repair`, fixes what can be fixed without losing anything.
    LibraryResult<CheckReport> check(bool repair);

    // The time of "added" and of the damaged index's name; the system clock when empty.
    std::function<std::int64_t()> clock;

private:
    struct KeptCopy;
    struct ParsedFiles;
    FlightLibrary(std::string folder, std::unique_ptr<FlightIndex> index, LogSink* log);
    ImportOutcome addText(std::string_view text, const std::string& source, const std::string& serial,
        std::optional<std::int64_t> logBookMinute, std::optional<std::string> existingFile);
    // The files of the same logger's recording of this time that the library keeps.
    LibraryResult<std::vector<KeptCopy>> findKeptCopies(const flights::IgcFlight& igc, std::int64_t takeoff,
        const std::optional<std::string>& existingFile, ParsedFiles& parsed) const;
    ImportOutcome replaceCopies(std::string_view text, const std::string& sha256, const flights::IgcFlight& igc,
        const std::vector<flights::FlightFigures>& parts, const std::vector<KeptCopy>& copies, const std::string& serial,
        std::optional<std::int64_t> logBookMinute, ImportOutcome outcome, ParsedFiles& parsed);
    // Every new row of a flight is written here. With `journalNeeded` (a file this call
    // placed) a journal that cannot keep its id fails it.
    LibraryResult<std::int64_t> recordFlight(LibraryFlight& flight, bool journalNeeded);
    // Makes the flights of one file and the other loggers' recordings of them one flight
    // each, shown as the better recording; what the outcome says of the others.
    std::string linkAllRecordings(std::vector<LibraryFlight>& rows, const flights::IgcFlight& igc, ParsedFiles& parsed);
    LibraryResult<std::vector<LibraryFlight>> linkRecordings(
        LibraryFlight& flight, const flights::IgcFlight& igc, ParsedFiles& parsed);
    std::optional<std::string> placeFile(std::string_view text, const std::string& folderName,
        const std::string& baseName, std::string* error);
    // The flight's id and the pilot's words about it from the journal when it knows the
    // file and part, else a new id above every one ever given (then recorded there:
    // the failure to, when it cannot be; the flight has its id all the same).
    LibraryResult<void> assignId(LibraryFlight& flight);
    // The IGC files of the year folders and of the removed folder's year folders,
    // relative to the library, sorted; the hidden halves of interrupted writes aside.
    // A folder that cannot be listed is named in `unreadable` ("2024 (Permission
    // denied)"), its files not; only the library's own folder failing fails the scan.
    struct FolderScan {
        std::vector<std::string> files;
        std::vector<std::string> halfWritten;
        std::vector<std::string> unreadableFolders; // relative to the library
        std::vector<std::string> unreadable; // the folder and why, for the messages
        bool under(const std::string& file) const;
    };
    LibraryResult<FolderScan> scanFolders() const;
    // The journal learns the id of every row it does not know (an index older than it).
    void journalTheIndex();
    // Moves every part of a removed or restored flight's file; the new place.
    LibraryResult<std::string> moveFlightFile(const std::string& file, bool intoRemoved);
    // Moves the file of each flight that `wanted` picks (each file once) into or out of
    // the removed folder and records its new place in the index: old place to new. On a
    // failure the files moved so far are put back.
    using FileMoves = std::map<std::string, std::string>;
    LibraryResult<FileMoves> moveFlightFiles(const std::vector<LibraryFlight>& flights, bool intoRemoved,
        const std::function<LibraryResult<bool>(const LibraryFlight&)>& wanted);
    void putBack(const FileMoves& moved) const;
    std::optional<std::string> moveAside(const std::string& file, std::string* error);
    // A file an import wrote into the folder (`aside` empty), or a kept copy it moved from
    // `file` to `aside`; what takeBack undoes, last first.
    struct PlacedFile {
        std::string file;
        std::string aside;
    };
    void takeBack(const std::vector<PlacedFile>& placed) const;
    std::int64_t now() const;
    void log(const std::string& line) const;

    std::string m_folder;
    std::unique_ptr<FlightIndex> m_index;
    AirspaceIndex m_airspaceIndex;
    AirspaceArchive m_airspaces;
    LibraryJournal m_journal;
    LogSink* m_log { nullptr };
    bool m_readOnly { false };
    std::vector<std::string> m_unreadableFolders;
    // While importPaths holds its transaction open: what its imports placed.
    std::vector<PlacedFile>* m_placed { nullptr };
};

// The file name an IGC flight gets in the library, without folder and suffix:
// "2024-10-07_1134_ABC". Exposed for the tests and the rebuild.
std::string libraryBaseName(std::int64_t takeoffUtc, std::string_view id);
// Where removed flights wait, keeping their year folder: Removed/2024/NAME.igc.
inline constexpr const char* removedFolderName = "Removed";
// The characters a FAT or NTFS stick refuses in a name, or a trailing dot or space:
// what is wrong with the name, empty when nothing.
std::string nameRefusedByFat(std::string_view fileName);
// Reads a library name back: the minute (since 2000-01-01 UTC) and the id, when the
// name has that shape.
struct LibraryName {
    std::int64_t minuteSince2000 { 0 };
    std::string id;
};
std::optional<LibraryName> parseLibraryName(std::string_view fileName);

// The log book's take-off minute as UTC seconds since 1970.
std::int64_t unixTimeOfMinuteSince2000(std::int64_t minute);

} // namespace corvex::library
