#include "library/FlightLibrary.h"

#include "base/FileNames.h"
#include "base/FileRead.h"
#include "base/Format.h"
#include "base/Sha256.h"
#include "export/ExportFiles.h"
#include "flights/IgcFlight.h"
#include "library/FlightMatching.h"
#include "library/IndexDatabase.h"
#include "platform/LogSink.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace corvex::library {

namespace fs = std::filesystem;

namespace {

constexpr const char* indexFileName = "library.sqlite";
// Larger than any real IGC file (a 20-hour flight at one fix a second is 3 MB); what
// is larger is not one.
constexpr std::size_t largestIgcFile = largestFileBytes(FileKind::IgcFlight);
constexpr std::int64_t unixTimeOf2000 = 946684800;
// Left-over halves of a write older than this belong to no running program.
constexpr auto abandonedWriteAge = std::chrono::hours(1);
// Where a copy of a flight goes when a copy that holds more of it takes its place: kept,
// never deleted, and no flight of the log book (neither reconcile nor rebuild reads it).
constexpr const char* replacedFolderName = "Replaced";
// A copy of one logger's recording may hold only time on the ground before take-off
// or after landing, which the flight's take-off and landing leave out: the search for
// it reaches this far around the new file's fixes.
constexpr std::int64_t copySearchMargin = 12 * 3600;

std::string lowered(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool isIgcName(const fs::path& path)
{
    const std::string name = path.filename().string();
    return name.size() > 4 && name.front() != '.' && lowered(std::string_view(name).substr(name.size() - 4)) == ".igc";
}

std::optional<std::string> readWholeFile(const std::string& path, std::string* error)
{
    auto bytes = readFileWhole(path, FileKind::IgcFlight);
    if (!bytes) {
        *error = bytes.error().reason();
        return std::nullopt;
    }
    return std::move(*bytes);
}

void syncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::string timeText(std::int64_t utc) { return utcTimeText(utc, "%Y-%m-%d %H:%M UTC"); }

// The id part of a library name: made safe for a file name, without '_' so that the
// name reads back unambiguously, and with only what FAT and NTFS take (no `:,*?"<>|`,
// no trailing dot), so that the library copies onto any USB stick.
std::string nameId(std::string_view id)
{
    std::string safe = safeFileName(id, 40);
    for (char& c : safe)
        if (std::string_view("_ :,*?\"<>|\\/").find(c) != std::string_view::npos)
            c = '-';
    for (auto end = safe.rbegin(); end != safe.rend() && *end == '.'; ++end)
        *end = '-';
    return safe.empty() ? "unknown" : safe;
}

std::string relativeTo(const fs::path& path, const fs::path& folder)
{
    return path.lexically_relative(folder).generic_string();
}

bool isYearName(const std::string& name)
{
    return name.size() == 4 && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isRemovedFile(const std::string& file) { return file.starts_with(std::string(removedFolderName) + "/"); }

std::string digestOf(std::string_view text)
{
    Sha256 digest;
    digest.update(text);
    return digest.finishHex();
}

// Renames `from` into `folder` as STEM + SUFFIX, or STEM_2 + SUFFIX... when that is
// taken: never over a file.
std::optional<std::string> renameExclusively(
    const std::string& from, const fs::path& folder, const std::string& stem, const std::string& suffix, std::string* error)
{
    std::error_code code;
    fs::create_directories(folder, code);
    if (code) {
        *error = code.message();
        return std::nullopt;
    }
    for (int copy = 1; copy < 1000; ++copy) {
        const std::string name = stem + (copy == 1 ? std::string {} : "_" + std::to_string(copy)) + suffix;
        const std::string target = (folder / name).string();
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            syncFolder(folder.string());
            return name;
        }
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS) {
            *error = std::strerror(errno);
            return std::nullopt;
        }
        // A file system without RENAME_NOREPLACE: a hard link is just as exclusive.
        if (::link(from.c_str(), target.c_str()) == 0) {
            ::unlink(from.c_str());
            syncFolder(folder.string());
            return name;
        }
        if (errno == EEXIST)
            continue;
        *error = std::strerror(errno);
        return std::nullopt;
    }
    *error = "too many files of that name";
    return std::nullopt;
}

// The journal's names of the pilot's words, and where a flight keeps each.
struct EditField {
    const char* name;
    std::optional<std::string> FlightEdit::*edit;
};
constexpr EditField editFields[] = {
    { "glider", &FlightEdit::glider },
    { "pilot", &FlightEdit::pilot },
    { "site", &FlightEdit::site },
    { "comment", &FlightEdit::comment },
    { "scored_track", &FlightEdit::scoredTrack },
};

void applyEdit(LibraryFlight& flight, const std::string& field, const std::string& value)
{
    const auto optional = [&] { return value.empty() ? std::nullopt : std::optional(value); };
    if (field == "glider") {
        flight.gliderEdit = optional();
        if (flight.gliderEdit)
            flight.glider = value;
    } else if (field == "pilot") {
        flight.pilotEdit = optional();
        if (flight.pilotEdit)
            flight.pilot = value;
    } else if (field == "site") {
        flight.site = value;
    } else if (field == "comment") {
        flight.comment = value;
    } else if (field == "scored_track") {
        flight.scoredTrack = value;
    }
}

std::string noFlight(std::int64_t id) { return "the library has no flight " + std::to_string(id); }

// The rows of one file go in together or not at all, inside the caller's transaction
// or on their own.
class AllRowsOrNone {
public:
    explicit AllRowsOrNone(IndexDatabase& database)
        : m_database(database)
        , m_outermost(sqlite3_get_autocommit(database.get()) != 0)
        , m_open(static_cast<bool>(database.execute("SAVEPOINT one_file")))
    {
    }
    ~AllRowsOrNone() { undo(); }
    AllRowsOrNone(const AllRowsOrNone&) = delete;
    AllRowsOrNone& operator=(const AllRowsOrNone&) = delete;
    // Outside a transaction the release is the commit, which can fail (a full disk): then
    // nothing of it stays.
    LibraryResult<void> keep()
    {
        if (!m_open)
            return {};
        auto released = m_database.execute("RELEASE one_file");
        if (released)
            m_open = false;
        return released;
    }

private:
    void undo()
    {
        if (!m_open || sqlite3_get_autocommit(m_database.get()) != 0)
            return;
        if (m_outermost) {
            (void)m_database.execute("ROLLBACK");
        } else {
            (void)m_database.execute("ROLLBACK TO one_file");
            (void)m_database.execute("RELEASE one_file");
        }
    }

    IndexDatabase& m_database;
    bool m_outermost;
    bool m_open;
};

bool hasPressure(const LibraryFlight& flight) { return flight.altitudeSource == "pressure"; }

std::string loggerName(const std::string& logger) { return logger.empty() ? std::string("unnamed") : logger; }

} // namespace

// The library's files read during one import, each once.
struct FlightLibrary::ParsedFiles {
    std::map<std::string, std::optional<flights::IgcFlight>> files;
    // Nothing when the file no longer reads.
    const flights::IgcFlight* of(const std::string& folder, const std::string& file)
    {
        auto [it, fresh] = files.try_emplace(file);
        if (fresh) {
            if (auto parsed = flights::readIgcFile((fs::path(folder) / file).string()))
                it->second = std::move(*parsed);
        }
        return it->second ? &*it->second : nullptr;
    }
};

// A file of the same logger's recording that the library keeps already.
struct FlightLibrary::KeptCopy {
    std::vector<LibraryFlight> rows; // the flights of the file, in their order
    std::optional<RecordingFacts> facts; // of the whole file; nothing when it no longer reads
};

void ImportTally::count(const ImportOutcome& outcome)
{
    switch (outcome.kind) {
    case ImportOutcome::Kind::Imported:
        ++imported;
        break;
    case ImportOutcome::Kind::AlreadyInLibrary:
        ++already;
        break;
    case ImportOutcome::Kind::Refused:
        ++refused;
        break;
    }
}

std::int64_t unixTimeOfMinuteSince2000(std::int64_t minute) { return unixTimeOf2000 + minute * 60; }

std::string libraryBaseName(std::int64_t takeoffUtc, std::string_view id)
{
    return utcTimeText(takeoffUtc, "%Y-%m-%d_%H%M_") + nameId(id);
}

std::optional<LibraryName> parseLibraryName(std::string_view fileName)
{
    // YYYY-MM-DD_HHMM_ID[_N].igc
    if (fileName.size() < 21 || lowered(fileName.substr(fileName.size() - 4)) != ".igc")
        return std::nullopt;
    fileName.remove_suffix(4);
    const auto digits = [&](std::size_t at, std::size_t count) -> std::optional<int> {
        int value = 0;
        for (std::size_t i = at; i < at + count; ++i) {
            if (fileName[i] < '0' || fileName[i] > '9')
                return std::nullopt;
            value = value * 10 + (fileName[i] - '0');
        }
        return value;
    };
    const auto year = digits(0, 4), month = digits(5, 2), day = digits(8, 2), hour = digits(11, 2), minute = digits(13, 2);
    if (!year || !month || !day || !hour || !minute || fileName[4] != '-' || fileName[7] != '-' || fileName[10] != '_'
        || fileName[15] != '_' || *month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 || *minute > 59)
        return std::nullopt;
    std::string_view id = fileName.substr(16);
    if (const auto suffix = id.rfind('_'); suffix != std::string_view::npos)
        id = id.substr(0, suffix);
    if (id.empty())
        return std::nullopt;
    std::tm parts {};
    parts.tm_year = *year - 1900;
    parts.tm_mon = *month - 1;
    parts.tm_mday = *day;
    parts.tm_hour = *hour;
    parts.tm_min = *minute;
    const std::int64_t utc = ::timegm(&parts);
    return LibraryName { (utc - unixTimeOf2000) / 60, std::string(id) };
}

FlightLibrary::FlightLibrary(std::string folder, std::unique_ptr<FlightIndex> index, LogSink* log)
    : m_folder(std::move(folder))
    , m_index(std::move(index))
    , m_airspaceIndex(*m_index)
    , m_airspaces(m_folder, m_airspaceIndex, log)
    , m_journal(m_folder, log)
    , m_log(log)
{
    m_index->setGliderNames([this]() -> const FlightIndex::GliderNames& { return m_journal.gliderNames(); });
}

namespace {

// A library we may read but not change: its folder, or its index, not writable (a
// read-only mount, another user's library, a copy kept unchangeable on purpose).
bool cannotWrite(const std::string& folder, const std::string& indexPath)
{
    if (::access(folder.c_str(), W_OK) != 0)
        return true;
    struct stat status {};
    return ::lstat(indexPath.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(indexPath.c_str(), W_OK) != 0;
}

} // namespace

LibraryResult<std::unique_ptr<FlightLibrary>> FlightLibrary::open(const std::string& folder, LogSink* log)
{
    std::error_code code;
    const std::string indexPath = (fs::path(folder) / indexFileName).string();
    if (fs::is_directory(folder, code) && cannotWrite(folder, indexPath)) {
        auto opened = FlightIndex::open(indexPath, FlightIndex::Access::ReadOnly);
        if (!opened)
            return libraryFailure(opened.error().kind, "cannot open the flight index " + indexPath + " of the read-only library at "
                    + folder + ": " + opened.error().message);
        std::unique_ptr<FlightLibrary> library(new FlightLibrary(folder, std::move(*opened), log));
        library->m_readOnly = true;
        return library;
    }
    fs::create_directories(folder, code);
    if (code || !fs::is_directory(folder))
        return libraryFailure(LibraryErrorKind::Io,
            "cannot make the library folder " + folder + ": " + (code ? code.message() : "not a folder"));
    // An index deleted by hand beside a journal is made again like a damaged one: the
    // journal says the library had flights.
    const bool lost = !fs::exists(fs::symlink_status(indexPath, code)) && fs::exists(LibraryJournal(folder, nullptr).path(), code);
    auto opened = FlightIndex::open(indexPath);
    bool damaged = false;
    if (!opened && opened.error().kind == LibraryErrorKind::Damaged) {
        damaged = true;
        const std::string reason = opened.error().message;
        // Never over an index set aside before, in the same second too.
        std::string error;
        const auto aside = renameExclusively(indexPath, folder,
            std::string(indexFileName) + ".damaged-" + std::to_string(std::time(nullptr)), "", &error);
        if (!aside)
            return libraryFailure(LibraryErrorKind::Io,
                "the flight index " + indexPath + " is damaged (" + reason + ") and cannot be set aside: " + error);
        for (const char* companion : { "-wal", "-shm" })
            ::unlink((indexPath + companion).c_str());
        if (log)
            logLine(*log, "The flight index %s is damaged (%s): it was set aside as %s and is made again from the IGC files",
                indexPath.c_str(), reason.c_str(), (fs::path(folder) / *aside).c_str());
        opened = FlightIndex::open(indexPath);
    }
    if (!opened)
        return libraryFailure(opened.error().kind, "cannot open the flight index " + indexPath + ": " + opened.error().message);
    std::unique_ptr<FlightLibrary> library(new FlightLibrary(folder, std::move(*opened), log));
    if (lost)
        library->log("The flight index " + indexPath + " is missing: it is made again from the IGC files");
    if (damaged || lost) {
        if (auto rebuilt = library->rebuild(); !rebuilt)
            return libraryFailure(rebuilt.error().kind,
                "cannot make the flight index " + indexPath + " again: " + rebuilt.error().message);
        const auto uses = library->m_airspaces.restoreFromJournal();
        if (!uses)
            library->log("The uses of airspace files cannot be read back: " + uses.error().message);
        else if (*uses > 0)
            library->log("The record of " + std::to_string(*uses) + " uses of airspace files was read back from "
                + library->m_airspaces.folder());
    }
    return library;
}

LibraryError FlightLibrary::readOnlyError() const
{
    return LibraryError::of(LibraryErrorKind::Io, "the library at " + m_folder + " is read-only: changes are not possible");
}

std::string FlightLibrary::pathOf(const LibraryFlight& flight) const { return (fs::path(m_folder) / flight.file).string(); }

std::string FlightLibrary::indexPath() const { return (fs::path(m_folder) / indexFileName).string(); }

LibraryResult<ScoreFillOutcome> FlightLibrary::fillScores(const ScoreFillOptions& options, const CancelToken& cancel)
{
    // Scores are kept in the index: a library that cannot be written has none to add.
    if (m_readOnly)
        return ScoreFillOutcome {};
    DiscardingLogSink discarded;
    return library::fillScores(*m_index, m_folder, OperationContext(m_log ? *m_log : discarded).withCancel(cancel), options);
}

std::optional<std::string> FlightLibrary::airspaceFileFor(const LibraryFlight& flight) const
{
    const auto held = m_airspaces.heldBy(flight.serial, flight.takeoff);
    if (!held) {
        log("The airspaces of flight " + flight.file + " cannot be looked up: " + held.error().message);
        return std::nullopt;
    }
    if (!*held)
        return std::nullopt;
    std::string path = m_airspaces.pathOf(**held);
    std::error_code code;
    if (!fs::is_regular_file(path, code))
        return std::nullopt;
    return path;
}

std::int64_t FlightLibrary::now() const
{
    if (clock)
        return clock();
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void FlightLibrary::log(const std::string& line) const
{
    if (m_log)
        logLine(*m_log, "%s", line.c_str());
}

ImportOutcome FlightLibrary::importFile(const std::string& path)
{
    ImportOutcome outcome;
    outcome.source = path;
    std::string error;
    const auto text = readWholeFile(path, &error);
    if (!text) {
        outcome.message = "cannot read it: " + error;
        return outcome;
    }
    return addText(*text, path, {}, std::nullopt, std::nullopt);
}

std::vector<ImportOutcome> FlightLibrary::importPaths(const std::vector<std::string>& paths,
    const std::function<void(const ImportOutcome&, std::size_t, std::size_t)>& progress)
{
    std::vector<std::string> files;
    std::vector<ImportOutcome> outcomes;
    for (const std::string& path : paths) {
        std::error_code code;
        if (fs::is_directory(path, code)) {
            std::vector<std::string> found;
            for (fs::recursive_directory_iterator it(path, code), end; !code && it != end; it.increment(code)) {
                // A sub-folder we may not list is said, not skipped in silence.
                if (std::error_code kind; !it->is_symlink(kind) && it->is_directory(kind)
                    && ::access(it->path().c_str(), R_OK | X_OK) != 0) {
                    outcomes.push_back({ ImportOutcome::Kind::Refused, it->path().string(),
                        std::string("cannot search the folder: ") + std::strerror(errno), {}, {} });
                    it.disable_recursion_pending();
                } else if (it->is_regular_file(code) && isIgcName(it->path())) {
                    found.push_back(it->path().string());
                }
            }
            if (code)
                outcomes.push_back({ ImportOutcome::Kind::Refused, path, "cannot search the folder: " + code.message(), {}, {} });
            std::sort(found.begin(), found.end());
            files.insert(files.end(), found.begin(), found.end());
        } else {
            files.push_back(path);
        }
    }
    const std::size_t total = files.size();
    FlightIndex::Transaction transaction(*m_index);
    // What the imports write into the folder, for a failed commit to take back.
    std::vector<PlacedFile> placed;
    if (transaction.active())
        m_placed = &placed;
    for (std::size_t i = 0; i < files.size(); ++i) {
        outcomes.push_back(importFile(files[i]));
        if (progress)
            progress(outcomes.back(), i + 1, total);
    }
    m_placed = nullptr;
    // Each flight's outcome says what became of it; a failed commit undoes them all.
    // (A transaction that could not begin left each file to commit on its own.)
    if (auto committed = transaction.active() ? transaction.commit() : LibraryResult<void> {}; !committed) {
        // Its files go too: left, the next reconcile would index what was reported as not
        // imported, and an import again would place each a second time. Each is a copy
        // this import made; a copy it moved aside goes back.
        takeBack(placed);
        for (ImportOutcome& outcome : outcomes) {
            if (outcome.kind != ImportOutcome::Kind::Imported)
                continue;
            outcome.kind = ImportOutcome::Kind::Refused;
            outcome.message = "the index could not be saved (" + committed.error().message
                + "), so nothing of it was kept; import it again once the library's disk has room and can be written";
            outcome.flight.reset();
        }
    }
    return outcomes;
}

ImportOutcome FlightLibrary::addInstrumentFlight(
    std::string_view igcText, const std::string& serial, std::int64_t logBookMinute, const std::string& source)
{
    return addText(igcText, source, serial, logBookMinute, std::nullopt);
}

LibraryResult<LibraryFlight> FlightLibrary::instrumentFlight(const std::string& serial, std::int64_t logBookMinute) const
{
    return m_index->flightOfLogBook(serial, logBookMinute);
}

ImportOutcome FlightLibrary::addText(std::string_view text, const std::string& source, const std::string& givenSerial,
    std::optional<std::int64_t> givenMinute, std::optional<std::string> existingFile)
{
    ImportOutcome outcome;
    outcome.source = source;
    if (text.size() > largestIgcFile) {
        outcome.message = "it is too large for an IGC file";
        return outcome;
    }
    Sha256 digest;
    digest.update(text);
    const std::string sha256 = digest.finishHex();

    std::string serial = givenSerial;
    std::optional<std::int64_t> minute = givenMinute;
    const auto alreadyHere = [&](LibraryFlight flight, std::string message) {
        // A flight that came in by import or before its log-book minute was known is
        // the instrument's entry from now on, so that the next sync skips it.
        if (minute && !serial.empty() && flight.logBookMinute != minute && m_index->setLogBookMinute(flight.id, serial, *minute)) {
            flight.serial = serial;
            flight.logBookMinute = minute;
        }
        outcome.kind = ImportOutcome::Kind::AlreadyInLibrary;
        outcome.message = flight.removed ? "it is flight " + std::to_string(flight.id)
                + ", which was removed; restore it with: corvex library restore " + std::to_string(flight.id)
                                         : std::move(message);
        outcome.flight = std::move(flight);
        return outcome;
    };
    // A lookup that fails must not let a flight in twice.
    const auto lookupFailed = [&](const LibraryError& error) {
        outcome.message = "cannot look it up in the index: " + error.message;
        return outcome;
    };
    if (!existingFile) {
        if (auto same = m_index->flightWithDigest(sha256))
            return alreadyHere(*same, "the same file is already in the library as " + same->file);
        else if (same.error().kind != LibraryErrorKind::NotFound)
            return lookupFailed(same.error());
    }

    auto parsed = flights::parseIgc(text);
    if (!parsed) {
        outcome.message = parsed.error();
        return outcome;
    }
    const flights::IgcFlight& igc = *parsed;
    for (const auto& problem : igc.problems)
        outcome.skippedLines.push_back(source + ":" + std::to_string(problem.line) + ": " + problem.message);
    if (igc.fixes.empty()) {
        outcome.message = "it has no fixes";
        return outcome;
    }
    std::vector<flights::FlightFigures> parts = flights::computeFlights(igc);
    if (parts.empty())
        parts.push_back(flights::computeFigures(igc));
    ParsedFiles libraryFiles;
    const auto kept = findKeptCopies(igc, parts.front().takeoffTime, existingFile, libraryFiles);
    if (!kept)
        return lookupFailed(kept.error());
    if (!kept->empty()) {
        // Better only than every copy kept (two halves of one download, say): then it
        // takes the place of them all.
        const RecordingFacts facts = recordingFacts(igc, 0, 0, false);
        const auto atLeastAsGood = std::find_if(kept->begin(), kept->end(),
            [&](const KeptCopy& copy) { return !copy.facts || !holdsMore(facts, *copy.facts); });
        // A rebuild or reconcile moves no file: the one it met first stays the flight.
        if (existingFile || atLeastAsGood != kept->end()) {
            const LibraryFlight& same = (atLeastAsGood != kept->end() ? *atLeastAsGood : kept->front()).rows.front();
            return alreadyHere(same,
                "the same flight (logger " + loggerName(igc.loggerId) + ", take-off " + timeText(parts.front().takeoffTime)
                    + ") is already in the library as " + same.file);
        }
        return replaceCopies(text, sha256, igc, parts, *kept, serial, minute, std::move(outcome), libraryFiles);
    }

    std::string file;
    if (existingFile) {
        file = *existingFile;
        // A synced flight's name carries the instrument's serial and its log-book
        // minute; an imported flight's carries its logger, which says nothing new (in a
        // name written before ids were made FAT-safe, with its ':' and ',').
        if (serial.empty()) {
            if (const auto name = parseLibraryName(fs::path(file).filename().string()); name && nameId(name->id) != nameId(igc.loggerId)) {
                serial = name->id;
                minute = name->minuteSince2000;
            }
        }
    } else {
        const std::int64_t nameTime = minute ? unixTimeOfMinuteSince2000(*minute) : parts.front().takeoffTime;
        const std::string base = libraryBaseName(nameTime, serial.empty() ? igc.loggerId : serial);
        std::string error;
        const auto placed = placeFile(text, base.substr(0, 4), base, &error);
        if (!placed) {
            outcome.message = "cannot write it into the library: " + error;
            return outcome;
        }
        file = *placed;
    }

    // A file this call placed and could not record goes again: the next reconcile would
    // index what was reported as not imported. (A reconcile's file was there before.)
    const auto refuse = [&](const std::string& why) {
        if (!existingFile)
            takeBack({ { file, {} } });
        outcome.message = why;
        return outcome;
    };
    std::vector<LibraryFlight> rows;
    {
        AllRowsOrNone together(*m_index->database());
        for (std::size_t part = 0; part < parts.size(); ++part) {
            LibraryFlight flight;
            flight.file = file;
            flight.sha256 = sha256;
            flight.size = static_cast<std::int64_t>(text.size());
            flight.logger = igc.loggerId;
            flight.serial = serial;
            flight.logBookMinute = minute;
            flight.part = static_cast<int>(part);
            fillFigures(flight, igc, parts[part]);
            flight.added = now();
            const auto id = recordFlight(flight, !existingFile);
            if (!id)
                return refuse("cannot record it in the library: " + id.error().message);
            flight.id = *id;
            rows.push_back(std::move(flight));
        }
        if (auto released = together.keep(); !released)
            return refuse("cannot record it in the index: " + released.error().message);
    }
    if (!existingFile && m_placed)
        m_placed->push_back({ file, {} });
    outcome.kind = ImportOutcome::Kind::Imported;
    outcome.message = linkAllRecordings(rows, igc, libraryFiles);
    if (rows.size() > 1)
        outcome.message = std::to_string(rows.size()) + " flights (landed and launched again)"
            + (outcome.message.empty() ? "" : "; " + outcome.message);
    outcome.flight = std::move(rows.front());
    return outcome;
}

LibraryResult<std::int64_t> FlightLibrary::recordFlight(LibraryFlight& flight, bool journalNeeded)
{
    if (auto assigned = assignId(flight); !assigned) {
        // A new flight whose id the journal does not keep would lose its id and the
        // pilot's edits to the next rebuild; a file indexed again keeps its old one.
        if (journalNeeded)
            return Failure { assigned.error() };
        log("The id of " + flight.file + " cannot be kept in the journal: " + assigned.error().message);
    }
    return m_index->insert(flight);
}

LibraryResult<std::vector<FlightLibrary::KeptCopy>> FlightLibrary::findKeptCopies(const flights::IgcFlight& igc,
    std::int64_t takeoff, const std::optional<std::string>& existingFile, ParsedFiles& parsed) const
{
    const RecordingFacts whole = recordingFacts(igc, 0, 0, false);
    auto found = m_index->flightsOfLoggerInAir(igc.loggerId, whole.firstFix - copySearchMargin, whole.lastFix + copySearchMargin);
    if (!found)
        return Failure { found.error() };
    std::map<std::string, std::vector<LibraryFlight>> byFile;
    for (LibraryFlight& row : *found)
        if (!existingFile || row.file != *existingFile)
            byFile[row.file].push_back(std::move(row));
    std::vector<KeptCopy> copies;
    for (auto& [file, rows] : byFile) {
        std::sort(rows.begin(), rows.end(), [](const LibraryFlight& a, const LibraryFlight& b) { return a.part < b.part; });
        const bool sameTakeoff
            = std::any_of(rows.begin(), rows.end(), [&](const LibraryFlight& row) { return row.takeoff == takeoff; });
        const flights::IgcFlight* other = parsed.of(m_folder, file);
        if (!other) {
            // What no longer reads cannot be compared: the same take-off is the same
            // flight, as it always was.
            if (sameTakeoff)
                copies.push_back({ std::move(rows), std::nullopt });
            continue;
        }
        const RecordingFacts facts = recordingFacts(*other, 0, 0, false);
        const std::int64_t from = std::max(whole.firstFix, facts.firstFix), to = std::min(whole.lastFix, facts.lastFix);
        // One logger cannot record two flights at once; most of the shorter file must
        // lie in the other (an instrument may begin a relaunch's file with seconds the
        // last one ended with), and the track check keeps apart loggers that all call
        // themselves the same.
        if (!sameTakeoff
            && (from > to || !mostlyOverlapping(whole.firstFix, whole.lastFix, facts.firstFix, facts.lastFix)
                || !sameTrack(igc, *other, from, to)))
            continue;
        copies.push_back({ std::move(rows), facts });
    }
    return copies;
}

ImportOutcome FlightLibrary::replaceCopies(std::string_view text, const std::string& sha256, const flights::IgcFlight& igc,
    const std::vector<flights::FlightFigures>& parts, const std::vector<KeptCopy>& copies, const std::string& serial,
    std::optional<std::int64_t> minute, ImportOutcome outcome, ParsedFiles& parsed)
{
    const fs::path keptPath(copies.front().rows.front().file);
    std::vector<std::pair<std::string, std::string>> movedAside; // file, where it went
    const auto putBack = [&] {
        for (const auto& [file, aside] : movedAside) {
            const fs::path path(file);
            std::string ignored;
            if (!renameExclusively((fs::path(m_folder) / aside).string(), fs::path(m_folder) / path.parent_path(),
                    path.stem().string(), path.extension().string(), &ignored))
                log("The shorter copy " + file + " stays in " + aside + ": it cannot be put back (" + ignored + ")");
        }
    };
    std::string error;
    // The kept copies step aside first, so that the new one takes the first one's very
    // name.
    for (const KeptCopy& copy : copies) {
        const std::string& file = copy.rows.front().file;
        const auto aside = moveAside(file, &error);
        if (!aside) {
            putBack();
            outcome.message = "cannot move the shorter copy " + file + " aside: " + error;
            return outcome;
        }
        movedAside.emplace_back(file, *aside);
    }
    const auto placed = placeFile(text, keptPath.parent_path().generic_string(), keptPath.stem().string(), &error);
    if (!placed) {
        putBack();
        outcome.message = "cannot write it into the library: " + error;
        return outcome;
    }

    // Each flight of the new file takes the id of the kept flight nearest its time; a
    // kept flight left over (two halves become one) goes, its other recordings handed
    // to the flight that stays; a flight more (the new file splits otherwise) comes.
    std::vector<LibraryFlight> keptRows;
    for (const KeptCopy& copy : copies)
        keptRows.insert(keptRows.end(), copy.rows.begin(), copy.rows.end());
    std::vector<LibraryFlight> rows;
    std::vector<bool> taken(keptRows.size(), false);
    std::string failure;
    {
        AllRowsOrNone together(*m_index->database());
        for (std::size_t part = 0; part < parts.size() && failure.empty(); ++part) {
            std::optional<std::size_t> nearest;
            std::int64_t nearestOverlap = 0;
            for (std::size_t k = 0; k < keptRows.size(); ++k) {
                const std::int64_t overlap = std::min(keptRows[k].landing, parts[part].landingTime)
                    - std::max(keptRows[k].takeoff, parts[part].takeoffTime);
                if (!taken[k] && (!nearest || overlap > nearestOverlap)) {
                    nearest = k;
                    nearestOverlap = overlap;
                }
            }
            LibraryFlight flight;
            if (nearest) {
                taken[*nearest] = true;
                flight = keptRows[*nearest];
            } else {
                flight.logger = igc.loggerId;
                flight.serial = keptRows.front().serial;
                flight.logBookMinute = keptRows.front().logBookMinute;
                flight.added = now();
            }
            flight.file = *placed;
            flight.sha256 = sha256;
            flight.size = static_cast<std::int64_t>(text.size());
            flight.part = static_cast<int>(part);
            if (!serial.empty()) {
                flight.serial = serial;
                flight.logBookMinute = minute;
            }
            fillFigures(flight, igc, parts[part]);
            if (nearest) {
                if (auto replaced = m_index->replaceFile(flight); !replaced)
                    failure = replaced.error().message;
            } else if (auto id = recordFlight(flight, true)) {
                flight.id = *id;
            } else {
                failure = id.error().message;
            }
            // The index keeps the file's names; the pilot's own win where they are read.
            if (flight.gliderEdit)
                flight.glider = *flight.gliderEdit;
            if (flight.pilotEdit)
                flight.pilot = *flight.pilotEdit;
            rows.push_back(std::move(flight));
        }
        for (std::size_t k = 0; k < keptRows.size() && failure.empty(); ++k) {
            if (taken[k])
                continue;
            auto handed = m_index->setRecordingOf(keptRows[k].id, rows.front().id);
            if (handed)
                handed = m_index->remove(keptRows[k].id);
            if (!handed)
                failure = handed.error().message;
        }
        if (failure.empty())
            if (auto released = together.keep(); !released)
                failure = released.error().message;
    }
    if (!failure.empty()) {
        ::unlink((fs::path(m_folder) / *placed).c_str());
        putBack();
        outcome.message = "cannot record it in the index: " + failure;
        return outcome;
    }
    if (m_placed) {
        for (const auto& [file, aside] : movedAside)
            m_placed->push_back({ file, aside });
        m_placed->push_back({ *placed, {} });
    }
    outcome.kind = ImportOutcome::Kind::Imported;
    for (const auto& [file, aside] : movedAside) {
        log("Replaced the flight file " + file + " by a copy that holds more of the flight (" + outcome.source
            + "); the shorter copy is kept as " + aside);
        outcome.message += std::string(outcome.message.empty() ? "" : "; ") + "replaced the shorter copy " + file + ", kept as " + aside;
    }
    if (const std::string recordings = linkAllRecordings(rows, igc, parsed); !recordings.empty())
        outcome.message += "; " + recordings;
    outcome.flight = std::move(rows.front());
    return outcome;
}

std::string FlightLibrary::linkAllRecordings(std::vector<LibraryFlight>& rows, const flights::IgcFlight& igc, ParsedFiles& parsed)
{
    std::vector<std::string> others;
    for (LibraryFlight& row : rows) {
        const auto linked = linkRecordings(row, igc, parsed);
        if (!linked) {
            log("The other recordings of " + row.file + " cannot be looked up: " + linked.error().message);
            others.push_back("its other recordings cannot be looked up: " + linked.error().message);
            continue;
        }
        for (const LibraryFlight& other : *linked)
            others.push_back("also recorded by " + loggerName(other.logger) + " (" + other.file + ")");
    }
    std::string message;
    for (const std::string& each : others)
        message += (message.empty() ? "" : "; ") + each;
    return message;
}

LibraryResult<std::vector<LibraryFlight>> FlightLibrary::linkRecordings(
    LibraryFlight& flight, const flights::IgcFlight& igc, ParsedFiles& parsed)
{
    struct Member {
        LibraryFlight row;
        RecordingFacts facts;
    };
    std::vector<Member> members { { flight, recordingFacts(igc, flight.takeoff, flight.landing, hasPressure(flight)) } };
    const auto join = [&](const LibraryFlight& row, const flights::IgcFlight& other) {
        members.push_back({ row, recordingFacts(other, row.takeoff, row.landing, hasPressure(row)) });
    };
    auto around = m_index->flightsInAir(flight.takeoff, flight.landing);
    if (!around)
        return Failure { around.error() };
    // Compared with the flights shown only: a second recording stands for the flight it
    // belongs to (which may lie further off in time), so that a flight recorded many
    // times costs one comparison, and whichever order the files come in, the better of
    // this one and that flight's best is shown.
    std::vector<LibraryFlight> shown;
    std::set<std::int64_t> asked { flight.id };
    for (const LibraryFlight& row : *around)
        if (!row.recordingOf && asked.insert(row.id).second)
            shown.push_back(row);
    for (const LibraryFlight& row : *around) {
        if (!row.recordingOf || !asked.insert(*row.recordingOf).second)
            continue;
        auto of = m_index->flight(*row.recordingOf);
        if (!of && of.error().kind != LibraryErrorKind::NotFound)
            return Failure { of.error() };
        if (of && !of->removed)
            shown.push_back(std::move(*of));
    }
    for (const LibraryFlight& row : shown) {
        if (row.file == flight.file || row.logger == flight.logger || !samePilot(row.pilot, flight.pilot)
            || !mostlyOverlapping(row.takeoff, row.landing, flight.takeoff, flight.landing))
            continue;
        const flights::IgcFlight* other = parsed.of(m_folder, row.file);
        if (other && sameTrack(igc, *other, std::max(row.takeoff, flight.takeoff), std::min(row.landing, flight.landing)))
            join(row, *other);
    }
    if (members.size() == 1)
        return std::vector<LibraryFlight> {};
    // Pressure altitude, more fixes, a G record; then the earlier import. The file name
    // settles the rest, so that a rebuild pairs them the same way.
    const auto better = [](const Member& a, const Member& b) {
        if (const int compared = compareRecordings(a.facts, b.facts))
            return compared > 0;
        return std::tuple(a.row.added, a.row.file, a.row.part) < std::tuple(b.row.added, b.row.file, b.row.part);
    };
    const Member* best = &members.front();
    for (const Member& member : members)
        if (better(member, *best))
            best = &member;
    for (const Member& member : members)
        if (&member != best)
            if (auto set = m_index->setRecordingOf(member.row.id, best->row.id); !set)
                return Failure { set.error() };
    if (auto set = m_index->setRecordingOf(best->row.id, std::nullopt); !set)
        return Failure { set.error() };
    flight.recordingOf = best == &members.front() ? std::nullopt : std::optional(best->row.id);
    std::vector<LibraryFlight> others;
    for (std::size_t i = 1; i < members.size(); ++i)
        others.push_back(members[i].row);
    return others;
}

std::optional<std::string> FlightLibrary::moveAside(const std::string& file, std::string* error)
{
    // The name comes from the index, which anyone can edit.
    if (const std::string wrong = pathOutsideFolder(m_folder, file); !wrong.empty()) {
        *error = "the index names it " + file + ", which is refused: " + wrong;
        return std::nullopt;
    }
    const fs::path relative(file);
    const fs::path folder = fs::path(m_folder) / replacedFolderName / relative.parent_path();
    std::error_code code;
    fs::create_directories(folder, code);
    if (code) {
        *error = code.message();
        return std::nullopt;
    }
    const auto name
        = renameExclusively((fs::path(m_folder) / file).string(), folder, relative.stem().string(), relative.extension().string(), error);
    if (!name) {
        if (error->empty())
            *error = "too many copies of one name";
        return std::nullopt;
    }
    return relativeTo(folder / *name, fs::path(m_folder));
}

void FlightLibrary::takeBack(const std::vector<PlacedFile>& placed) const
{
    for (auto step = placed.rbegin(); step != placed.rend(); ++step) {
        const fs::path file(step->file);
        if (step->aside.empty()) {
            if (::unlink((fs::path(m_folder) / file).c_str()) != 0 && errno != ENOENT)
                log("The flight file " + step->file + " that was not recorded cannot be removed: " + std::strerror(errno));
            continue;
        }
        std::string error;
        const auto name = renameExclusively((fs::path(m_folder) / step->aside).string(), fs::path(m_folder) / file.parent_path(),
            file.stem().string(), file.extension().string(), &error);
        if (!name)
            log("The shorter copy " + step->file + " stays in " + step->aside + ": it cannot be put back (" + error + ")");
        else if (*name != file.filename().string())
            log("The shorter copy " + step->file + " was put back as " + *name);
    }
}

std::optional<std::string> FlightLibrary::placeFile(
    std::string_view text, const std::string& folderName, const std::string& baseName, std::string* error)
{
    const fs::path folder = fs::path(m_folder) / folderName;
    std::error_code code;
    fs::create_directories(folder, code);
    if (code) {
        *error = code.message();
        return std::nullopt;
    }
    // Hidden while it is written, so that neither a reconcile nor a user takes it for
    // a flight.
    const auto written = writeTemporaryFile((folder / ("." + baseName + ".igc.XXXXXX")).string(), text);
    if (!written) {
        *error = std::strerror(errno);
        return std::nullopt;
    }
    // Into place without ever replacing a file: two flights of one minute get _2, _3.
    if (const auto name = renameExclusively(*written, folder, baseName, ".igc", error))
        return folderName + "/" + *name;
    ::unlink(written->c_str());
    if (error->empty())
        *error = "too many flights of one minute";
    return std::nullopt;
}

std::string nameRefusedByFat(std::string_view fileName)
{
    for (const char c : fileName)
        if (std::strchr(":,*?\"<>|\\", c) != nullptr && c != '\0')
            return std::string("it holds '") + c + "'";
    if (!fileName.empty() && (fileName.back() == '.' || fileName.back() == ' '))
        return "it ends in a dot or a space";
    return {};
}

bool FlightLibrary::FolderScan::under(const std::string& file) const
{
    return std::any_of(unreadableFolders.begin(), unreadableFolders.end(),
        [&](const std::string& folder) { return file.starts_with(folder + "/"); });
}

LibraryResult<FlightLibrary::FolderScan> FlightLibrary::scanFolders() const
{
    // Only the year folders (and those of the removed folder) hold flights: an IGC file
    // kept under Airspaces/ or in any other folder of the pilot's is not one.
    const fs::path root(m_folder);
    std::vector<fs::path> yearFolders;
    FolderScan scan;
    // A folder we may not list is not an empty one: taken for one, its flights would
    // be forgotten and come back under new ids.
    const auto unreadable = [&](const fs::path& folder, const std::error_code& why) {
        scan.unreadableFolders.push_back(relativeTo(folder, root));
        scan.unreadable.push_back(relativeTo(folder, root) + " (" + why.message() + ")");
    };
    std::error_code code;
    for (fs::directory_iterator it(root, code), end; !code && it != end; it.increment(code)) {
        std::error_code entryCode;
        const std::string name = it->path().filename().string();
        if (!it->is_directory(entryCode))
            continue;
        if (isYearName(name)) {
            yearFolders.push_back(it->path());
        } else if (name == removedFolderName) {
            std::error_code removedCode;
            for (fs::directory_iterator r(it->path(), removedCode), rend; !removedCode && r != rend; r.increment(removedCode)) {
                if (r->is_directory(entryCode) && isYearName(r->path().filename().string()))
                    yearFolders.push_back(r->path());
            }
            if (removedCode)
                unreadable(it->path(), removedCode);
        }
    }
    if (code)
        return libraryFailure(LibraryErrorKind::Io, "cannot search the flight library " + m_folder + ": " + code.message());
    for (const fs::path& folder : yearFolders) {
        std::vector<std::string> files, halfWritten;
        for (fs::recursive_directory_iterator it(folder, code), end; !code && it != end; it.increment(code)) {
            std::error_code entryCode;
            if (!it->is_regular_file(entryCode))
                continue;
            const std::string name = it->path().filename().string();
            if (name.front() == '.' && name.find(".igc.") != std::string::npos)
                halfWritten.push_back(relativeTo(it->path(), root));
            else if (isIgcName(it->path()))
                files.push_back(relativeTo(it->path(), root));
        }
        if (code) {
            unreadable(folder, code);
            code.clear();
            continue;
        }
        scan.files.insert(scan.files.end(), files.begin(), files.end());
        scan.halfWritten.insert(scan.halfWritten.end(), halfWritten.begin(), halfWritten.end());
    }
    std::sort(scan.files.begin(), scan.files.end());
    return scan;
}

LibraryResult<void> FlightLibrary::assignId(LibraryFlight& flight)
{
    LibraryResult<void> journaled;
    flight.id = 0;
    if (const auto known = m_journal.idOf(flight.file, flight.part)) {
        // Unless a row holds that id already (the journal was copied from elsewhere).
        const auto holder = m_index->flight(*known);
        if (!holder && holder.error().kind == LibraryErrorKind::NotFound)
            flight.id = *known;
    }
    if (flight.id == 0) {
        const auto largest = m_index->largestId();
        flight.id = std::max(largest ? *largest : 0, m_journal.largestId()) + 1;
        journaled = m_journal.recordId(flight.id, flight.file, flight.part);
    }
    if (const JournalFlight* kept = m_journal.flight(flight.id)) {
        // The file's own glider and pilot stay in their columns; the edits beside them.
        const std::string glider = flight.glider, pilot = flight.pilot;
        for (const auto& [field, value] : kept->edits)
            applyEdit(flight, field, value);
        flight.glider = glider;
        flight.pilot = pilot;
        flight.removed = kept->removed;
    }
    // A file in the removed folder that the journal does not know was removed by someone.
    if (!flight.removed && isRemovedFile(flight.file))
        flight.removed = now();
    return journaled;
}

void FlightLibrary::journalTheIndex()
{
    const auto rows = m_index->everyFlight();
    if (!rows)
        return;
    for (const LibraryFlight& row : *rows) {
        if (m_journal.idOf(row.file, row.part) == row.id)
            continue;
        if (auto recorded = m_journal.recordId(row.id, row.file, row.part); !recorded) {
            log("The ids of the flights cannot be kept in the journal: " + recorded.error().message);
            return;
        }
    }
}

LibraryResult<std::size_t> FlightLibrary::reconcile()
{
    // Nothing of a library that cannot be written: what it lists is what it holds.
    if (m_readOnly)
        return std::size_t { 0 };
    const fs::path root(m_folder);
    // An index that cannot be read is not an empty one: every file would come in again.
    auto files = m_index->files();
    if (!files)
        return Failure { files.error() };
    std::set<std::string> indexed;
    for (std::string& file : *files)
        indexed.insert(std::move(file));
    const auto scan = scanFolders();
    if (!scan)
        return Failure { scan.error() };
    m_unreadableFolders = scan->unreadable;
    for (const std::string& folder : scan->unreadable)
        log("Cannot read the folder " + folder + " of the library: its flights stay listed as the index knew them");
    const auto abandonedBefore = fs::file_time_type::clock::now() - abandonedWriteAge;
    for (const std::string& half : scan->halfWritten) {
        std::error_code code;
        const fs::path path = root / half;
        if (fs::last_write_time(path, code) < abandonedBefore && !code) {
            fs::remove(path, code);
            log("Removed the half-written " + path.string() + " of an interrupted sync");
        }
    }
    std::vector<std::string> unindexed;
    const std::set<std::string> present(scan->files.begin(), scan->files.end());
    for (const std::string& file : scan->files)
        if (!indexed.count(file))
            unindexed.push_back(file);
    std::vector<std::string> gone;
    for (const std::string& file : indexed)
        if (!present.count(file) && !scan->under(file))
            gone.push_back(file);
    // Every command opens the library through here: when the folders hold what the
    // index lists, nothing is written and no lock is taken.
    if (unindexed.empty() && gone.empty()) {
        const auto largest = m_index->largestId();
        if (largest && *largest >= m_journal.largestId())
            return std::size_t { 0 };
    }
    std::size_t added = 0;
    FlightIndex::Transaction transaction(*m_index);
    for (const std::string& file : gone) {
        if (auto removed = m_index->removeFile(file); !removed)
            return Failure { removed.error() };
        log("The flight file " + file + " is gone from the library; it is no longer listed");
    }
    for (const std::string& file : unindexed) {
        std::string error;
        const std::string path = (root / file).string();
        const auto text = readWholeFile(path, &error);
        if (!text)
            continue;
        const ImportOutcome outcome = addText(*text, path, {}, std::nullopt, file);
        if (outcome.kind == ImportOutcome::Kind::Imported)
            ++added;
    }
    if (auto reserved = m_index->reserveIds(m_journal.largestId()); !reserved)
        return Failure { reserved.error() };
    if (auto committed = transaction.active() ? transaction.commit() : LibraryResult<void> {}; !committed)
        return Failure { committed.error() };
    if (added > 0)
        log("Indexed " + std::to_string(added) + " flight files that the index did not know");
    return added;
}

LibraryResult<FlightLibrary::RebuildOutcome> FlightLibrary::rebuild()
{
    if (m_readOnly)
        return Failure { readOnlyError() };
    RebuildOutcome outcome;
    // An index older than the journal gave ids the journal must know before they go.
    journalTheIndex();
    const auto scan = scanFolders();
    if (!scan)
        return Failure { scan.error() };
    // Made again without them, the index would lose those flights and their ids.
    if (!scan->unreadable.empty()) {
        std::string folders;
        for (const std::string& each : scan->unreadable)
            folders += (folders.empty() ? "" : ", ") + each;
        return libraryFailure(LibraryErrorKind::Io,
            "cannot read the folder " + folders + " of the library: the index was left as it was");
    }
    // One transaction from the emptying to the last row: a rebuild killed half-way
    // leaves the old index, never an empty one.
    FlightIndex::Transaction transaction(*m_index);
    if (!transaction.active())
        return libraryFailure(LibraryErrorKind::Busy, "the index is in use by another program: try again when it is done");
    if (auto emptied = m_index->removeAll(); !emptied)
        return Failure { emptied.error() };
    // Files the index does not know are exactly all of them now.
    const fs::path root(m_folder);
    const std::vector<std::string>& files = scan->files;
    for (const std::string& file : files) {
        std::string error;
        const std::string path = (root / file).string();
        const auto text = readWholeFile(path, &error);
        ImportOutcome imported;
        if (!text) {
            imported.source = path;
            imported.message = "cannot read it: " + error;
        } else {
            imported = addText(*text, path, {}, std::nullopt, file);
        }
        if (imported.kind != ImportOutcome::Kind::Imported)
            outcome.refused.push_back(std::move(imported));
    }
    if (auto reserved = m_index->reserveIds(m_journal.largestId()); !reserved)
        return Failure { reserved.error() };
    if (auto committed = transaction.commit(); !committed)
        return Failure { committed.error() };
    // Rows, not files: a file with a relaunch holds several flights.
    const auto rows = m_index->everyFlight();
    if (!rows)
        return Failure { rows.error() };
    outcome.flights = rows->size();
    log("The flight index was made again from " + std::to_string(files.size()) + " IGC files: "
        + std::to_string(outcome.flights) + " flights");
    return outcome;
}

LibraryResult<std::string> FlightLibrary::moveFlightFile(const std::string& file, bool intoRemoved)
{
    // The index is a file anyone can edit: a row never moves a file from outside.
    if (const std::string wrong = pathOutsideFolder(m_folder, file); !wrong.empty())
        return libraryFailure(LibraryErrorKind::Io, "the index names the file " + file + ", which is refused: " + wrong);
    if (!intoRemoved && !isRemovedFile(file))
        return libraryFailure(LibraryErrorKind::Io, "the file " + file + " is not in the " + removedFolderName + " folder");
    const fs::path relative(file);
    const std::string removedPrefix = std::string(removedFolderName) + "/";
    // Removed/2024/NAME.igc <-> 2024/NAME.igc
    const fs::path folder = intoRemoved ? fs::path(removedFolderName) / relative.parent_path()
                                        : fs::path(file.substr(removedPrefix.size())).parent_path();
    const std::string from = (fs::path(m_folder) / file).string();
    std::string error;
    const auto name
        = renameExclusively(from, fs::path(m_folder) / folder, relative.stem().string(), relative.extension().string(), &error);
    if (!name)
        return libraryFailure(LibraryErrorKind::Io, "cannot move " + from + ": " + error);
    return (folder / *name).generic_string();
}

LibraryResult<FlightLibrary::FileMoves> FlightLibrary::moveFlightFiles(const std::vector<LibraryFlight>& flights,
    bool intoRemoved, const std::function<LibraryResult<bool>(const LibraryFlight&)>& wanted)
{
    FileMoves moved;
    for (const LibraryFlight& each : flights) {
        if (moved.count(each.file))
            continue;
        const auto move = wanted(each);
        if (!move) {
            putBack(moved);
            return Failure { move.error() };
        }
        if (!*move)
            continue;
        const auto to = moveFlightFile(each.file, intoRemoved);
        if (!to) {
            putBack(moved);
            return Failure { to.error() };
        }
        moved[each.file] = *to;
        if (auto recorded = m_index->moveFile(each.file, *to); !recorded) {
            putBack(moved);
            return Failure { recorded.error() };
        }
    }
    return moved;
}

void FlightLibrary::putBack(const FileMoves& moved) const
{
    const auto absolute = [&](const std::string& file) { return (fs::path(m_folder) / file).string(); };
    for (const auto& [from, to] : moved)
        if (::rename(absolute(to).c_str(), absolute(from).c_str()) != 0)
            log("Cannot move " + to + " back to " + from + ": " + std::strerror(errno));
}

LibraryResult<LibraryFlight> FlightLibrary::remove(std::int64_t id)
{
    if (m_readOnly)
        return Failure { readOnlyError() };
    auto flight = m_index->flight(id);
    if (!flight)
        return libraryFailure(flight.error().kind,
            flight.error().kind == LibraryErrorKind::NotFound ? noFlight(id) : flight.error().message);
    if (flight->removed)
        return libraryFailure(LibraryErrorKind::NotFound, "flight " + std::to_string(id) + " is removed already");
    // Its other loggers' recordings go with it.
    std::vector<LibraryFlight> going { *flight };
    if (auto recordings = m_index->recordingsOf(id))
        going.insert(going.end(), recordings->begin(), recordings->end());
    else
        return Failure { recordings.error() };
    const std::int64_t time = now();
    FlightIndex::Transaction transaction(*m_index);
    for (const LibraryFlight& each : going)
        if (auto marked = m_index->setRemoved(each.id, time); !marked)
            return Failure { marked.error() };
    // A file moves once every flight it holds is removed.
    const auto movedFiles = moveFlightFiles(going, true, [&](const LibraryFlight& each) -> LibraryResult<bool> {
        if (isRemovedFile(each.file))
            return false;
        const auto parts = m_index->flightsOfFile(each.file);
        if (!parts)
            return Failure { parts.error() };
        return std::all_of(parts->begin(), parts->end(), [](const LibraryFlight& part) { return part.removed.has_value(); });
    });
    if (!movedFiles)
        return Failure { movedFiles.error() };
    const FileMoves& moved = *movedFiles;
    for (const LibraryFlight& each : going) {
        const std::string now = moved.count(each.file) ? moved.at(each.file) : each.file;
        if (auto recorded = m_journal.recordRemoval(each.id, time, now); !recorded) {
            putBack(moved);
            return Failure { recorded.error() };
        }
    }
    if (auto committed = transaction.active() ? transaction.commit() : LibraryResult<void> {}; !committed) {
        putBack(moved);
        for (const LibraryFlight& each : going)
            (void)m_journal.recordRestore(each.id, each.file);
        return Failure { committed.error() };
    }
    for (const auto& [from, to] : moved)
        log("Removed flight file " + from + " to " + to);
    return m_index->flight(id);
}

LibraryResult<LibraryFlight> FlightLibrary::restore(std::int64_t id)
{
    if (m_readOnly)
        return Failure { readOnlyError() };
    auto flight = m_index->flight(id);
    if (!flight)
        return libraryFailure(flight.error().kind,
            flight.error().kind == LibraryErrorKind::NotFound ? noFlight(id) : flight.error().message);
    if (!flight->removed)
        return libraryFailure(LibraryErrorKind::NotFound, "flight " + std::to_string(id) + " is not removed");
    std::vector<LibraryFlight> coming { *flight };
    if (auto recordings = m_index->removedRecordingsOf(id))
        coming.insert(coming.end(), recordings->begin(), recordings->end());
    else
        return Failure { recordings.error() };
    FlightIndex::Transaction transaction(*m_index);
    for (const LibraryFlight& each : coming)
        if (auto marked = m_index->setRemoved(each.id, std::nullopt); !marked)
            return Failure { marked.error() };
    // Back under its old name, or a free _N one beside it.
    const auto movedFiles
        = moveFlightFiles(coming, false, [](const LibraryFlight& each) -> LibraryResult<bool> { return isRemovedFile(each.file); });
    if (!movedFiles)
        return Failure { movedFiles.error() };
    const FileMoves& moved = *movedFiles;
    for (const LibraryFlight& each : coming) {
        const std::string now = moved.count(each.file) ? moved.at(each.file) : each.file;
        if (auto recorded = m_journal.recordRestore(each.id, now); !recorded) {
            putBack(moved);
            return Failure { recorded.error() };
        }
    }
    if (auto committed = transaction.active() ? transaction.commit() : LibraryResult<void> {}; !committed) {
        putBack(moved);
        for (const LibraryFlight& each : coming)
            (void)m_journal.recordRemoval(each.id, each.removed.value_or(0), each.file);
        return Failure { committed.error() };
    }
    return m_index->flight(id);
}

LibraryResult<LibraryFlight> FlightLibrary::edit(std::int64_t id, const FlightEdit& edit)
{
    if (m_readOnly)
        return Failure { readOnlyError() };
    if (edit.scoredTrack && *edit.scoredTrack != "" && *edit.scoredTrack != "flight" && *edit.scoredTrack != "whole")
        return libraryFailure(LibraryErrorKind::Unusable,
            "the part of the track scored is \"flight\", \"whole\" or empty for the rule set's own, not \"" + *edit.scoredTrack
                + "\"");
    auto flight = m_index->flight(id);
    if (!flight)
        return libraryFailure(flight.error().kind,
            flight.error().kind == LibraryErrorKind::NotFound ? noFlight(id) : flight.error().message);
    LibraryFlight edited = *flight;
    FlightIndex::Transaction transaction(*m_index);
    for (const EditField& field : editFields) {
        if (const auto& value = edit.*field.edit)
            applyEdit(edited, field.name, *value);
    }
    if (auto written = m_index->setEdits(edited); !written)
        return Failure { written.error() };
    // Another part of the track is another score.
    if (edited.scoredTrack != flight->scoredTrack)
        if (auto forgotten = m_index->forgetScores(id); !forgotten)
            return Failure { forgotten.error() };
    // The journal first: an edit it does not hold would be lost by the next rebuild.
    for (const EditField& field : editFields) {
        if (const auto& value = edit.*field.edit)
            if (auto recorded = m_journal.recordEdit(id, field.name, *value); !recorded)
                return Failure { recorded.error() };
    }
    if (auto committed = transaction.active() ? transaction.commit() : LibraryResult<void> {}; !committed)
        return Failure { committed.error() };
    return m_index->flight(id);
}

LibraryResult<std::int64_t> FlightLibrary::renameGlider(const std::string& from, const std::string& to)
{
    if (m_readOnly)
        return Failure { readOnlyError() };
    if (from.empty())
        return libraryFailure(LibraryErrorKind::NotFound, "say which glider to rename");
    const auto rows = m_index->everyFlight();
    if (!rows)
        return Failure { rows.error() };
    if (to.empty()) {
        const auto known = m_journal.gliderNames().count(from);
        if (!known)
            return libraryFailure(LibraryErrorKind::NotFound, "no glider of the files is renamed from \"" + from + "\"");
        if (auto recorded = m_journal.recordGliderName(from, ""); !recorded)
            return Failure { recorded.error() };
        // Read again: the flights that show their file's name once more.
        const auto now = m_index->flights();
        if (!now)
            return Failure { now.error() };
        return std::int64_t(std::count_if(now->begin(), now->end(),
            [&](const LibraryFlight& flight) { return !flight.gliderEdit && flight.glider == from; }));
    }
    std::int64_t renamed = 0;
    bool any = false;
    for (const LibraryFlight& flight : *rows) {
        any = any || flight.glider == from;
        renamed += flight.glider == from && !flight.removed && !flight.recordingOf;
    }
    if (!any)
        return libraryFailure(LibraryErrorKind::NotFound, "no flight of the library has the glider \"" + from + "\"");
    if (from == to)
        return renamed;
    // Each name the files give that shows `from` now shows `to`, and `from` itself when
    // a file gives it and it is not renamed already (then its flights show another name).
    const FlightIndex::GliderNames names = m_journal.gliderNames();
    for (const auto& [fileName, shown] : names)
        if (shown == from)
            if (auto recorded = m_journal.recordGliderName(fileName, fileName == to ? "" : to); !recorded)
                return Failure { recorded.error() };
    if (!names.count(from))
        if (auto recorded = m_journal.recordGliderName(from, to); !recorded)
            return Failure { recorded.error() };
    // The flights the pilot named `from` themselves keep their own word, now `to`.
    FlightEdit renaming;
    renaming.glider = to;
    for (const LibraryFlight& flight : *rows)
        if (flight.gliderEdit && *flight.gliderEdit == from)
            if (auto edited = edit(flight.id, renaming); !edited)
                return Failure { edited.error() };
    return renamed;
}

LibraryResult<CheckReport> FlightLibrary::check(bool repair)
{
    if (repair && m_readOnly)
        return Failure { readOnlyError() };
    CheckReport report;
    if (repair)
        journalTheIndex();
    const auto scan = scanFolders();
    if (!scan)
        return Failure { scan.error() };
    for (const std::string& folder : scan->unreadable)
        report.findings.push_back({ CheckFinding::Kind::Other, folder.substr(0, folder.find(" (")), 0,
            "cannot read the folder " + folder + "; its flights were not checked", false });
    auto rows = m_index->everyFlight();
    if (!rows)
        return Failure { rows.error() };
    const fs::path root(m_folder);
    std::map<std::string, std::vector<LibraryFlight>> rowsOfFile;
    for (const LibraryFlight& row : *rows)
        rowsOfFile[row.file].push_back(row);
    const std::set<std::string> present(scan->files.begin(), scan->files.end());

    // A check that only looks takes no write lock.
    std::optional<FlightIndex::Transaction> transaction;
    if (repair)
        transaction.emplace(*m_index);
    for (const std::string& file : scan->files) {
        const fs::path path = root / file;
        if (const std::string wrong = nameRefusedByFat(path.filename().string()); !wrong.empty())
            report.findings.push_back({ CheckFinding::Kind::Other, file, 0,
                "the name of " + file + " cannot be copied to a FAT or NTFS stick: " + wrong, false });
        const auto found = rowsOfFile.find(file);
        if (found == rowsOfFile.end()) {
            CheckFinding finding { CheckFinding::Kind::FileWithoutRow, file, 0, "the index does not list " + file, false };
            if (repair) {
                std::string error;
                const auto text = readWholeFile(path.string(), &error);
                const ImportOutcome outcome = text ? addText(*text, path.string(), {}, std::nullopt, file) : ImportOutcome {};
                finding.repaired = outcome.kind == ImportOutcome::Kind::Imported;
                if (finding.repaired)
                    finding.id = outcome.flight->id;
                else
                    finding.message += " and cannot index it: " + (text ? outcome.message : error);
            }
            report.findings.push_back(std::move(finding));
            continue;
        }
        std::string error;
        const auto text = readWholeFile(path.string(), &error);
        const std::vector<LibraryFlight>& parts = found->second;
        if (text && digestOf(*text) == parts.front().sha256)
            continue;
        CheckFinding finding { CheckFinding::Kind::FileChanged, file, parts.front().id,
            text ? file + " is not the file the index recorded (its bytes changed)" : "cannot read " + file + ": " + error, false };
        if (repair && text) {
            // Its flights are figured again under their ids, the pilot's edits kept.
            for (const LibraryFlight& part : parts)
                if (m_journal.idOf(part.file, part.part) != part.id)
                    (void)m_journal.recordId(part.id, part.file, part.part);
            if (auto forgotten = m_index->removeFile(file); !forgotten)
                return Failure { forgotten.error() };
            const ImportOutcome outcome = addText(*text, path.string(), {}, std::nullopt, file);
            finding.repaired = outcome.kind == ImportOutcome::Kind::Imported;
            if (!finding.repaired)
                finding.message += "; it no longer reads as a flight: " + outcome.message;
        }
        report.findings.push_back(std::move(finding));
    }
    for (const auto& [file, parts] : rowsOfFile) {
        if (present.count(file) || scan->under(file))
            continue;
        CheckFinding finding { CheckFinding::Kind::RowWithoutFile, file, parts.front().id,
            "flight " + std::to_string(parts.front().id) + " is listed but its file " + file + " is gone", false };
        if (repair) {
            // The journal keeps its id and edits: the file copied back gets them again.
            if (auto forgotten = m_index->removeFile(file); !forgotten)
                return Failure { forgotten.error() };
            finding.repaired = true;
        }
        report.findings.push_back(std::move(finding));
    }
    for (const auto& [id, kept] : m_journal.flights()) {
        if (kept.edits.empty() || (!kept.file.empty() && present.count(kept.file)))
            continue;
        report.findings.push_back({ CheckFinding::Kind::EditWithoutFlight, kept.file, id,
            "the journal keeps the pilot's edits of flight " + std::to_string(id)
                + (kept.file.empty() ? std::string {} : " (" + kept.file + ")") + ", which no file holds",
            false });
    }
    if (repair) {
        if (auto reserved = m_index->reserveIds(m_journal.largestId()); !reserved)
            return Failure { reserved.error() };
        if (auto committed = transaction->active() ? transaction->commit() : LibraryResult<void> {}; !committed)
            return Failure { committed.error() };
        rows = m_index->everyFlight();
        if (!rows)
            return Failure { rows.error() };
    }
    report.files = scan->files.size();
    for (const LibraryFlight& row : *rows) {
        ++report.flights;
        report.removed += row.removed.has_value();
    }
    return report;
}

} // namespace corvex::library
