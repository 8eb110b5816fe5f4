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

// The id part of a library name: made safe for a file name, and without '_' so that
// the name reads back unambiguously.
std::string nameId(std::string_view id)
{
    std::string safe = safeFileName(id, 40);
    std::replace(safe.begin(), safe.end(), '_', '-');
    std::replace(safe.begin(), safe.end(), ' ', '-');
    return safe.empty() ? "unknown" : safe;
}

std::string relativeTo(const fs::path& path, const fs::path& folder)
{
    return path.lexically_relative(folder).generic_string();
}

bool isReplacedFolder(const fs::recursive_directory_iterator& it)
{
    std::error_code code;
    return it.depth() == 0 && it->path().filename() == replacedFolderName && it->is_directory(code);
}

// Moves `source` into `folder` as baseName + suffix, or _2, _3... where that is taken:
// never over a file. The name it got; nothing with the reason in `error` (empty when
// every name was taken).
std::optional<std::string> renameIntoFreeName(
    const std::string& source, const fs::path& folder, const std::string& baseName, const std::string& suffix, std::string* error)
{
    for (int copy = 1; copy < 1000; ++copy) {
        const std::string name = baseName + (copy == 1 ? std::string {} : "_" + std::to_string(copy)) + suffix;
        const std::string target = (folder / name).string();
        if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
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
        if (::link(source.c_str(), target.c_str()) == 0) {
            ::unlink(source.c_str());
            syncFolder(folder.string());
            return name;
        }
        if (errno == EEXIST)
            continue;
        *error = std::strerror(errno);
        return std::nullopt;
    }
    return std::nullopt;
}

// The rows of one file go in together or not at all, inside the caller's transaction
// or on their own.
class AllRowsOrNone {
public:
    explicit AllRowsOrNone(IndexDatabase& database)
        : m_database(database)
        , m_open(static_cast<bool>(database.execute("SAVEPOINT one_file")))
    {
    }
    ~AllRowsOrNone()
    {
        if (m_open) {
            (void)m_database.execute("ROLLBACK TO one_file");
            (void)m_database.execute("RELEASE one_file");
        }
    }
    AllRowsOrNone(const AllRowsOrNone&) = delete;
    AllRowsOrNone& operator=(const AllRowsOrNone&) = delete;
    void keep()
    {
        if (m_open)
            (void)m_database.execute("RELEASE one_file");
        m_open = false;
    }

private:
    IndexDatabase& m_database;
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
    , m_airspaces(m_folder, m_airspaceIndex)
    , m_log(log)
{
}

LibraryResult<std::unique_ptr<FlightLibrary>> FlightLibrary::open(const std::string& folder, LogSink* log)
{
    std::error_code code;
    fs::create_directories(folder, code);
    if (code || !fs::is_directory(folder))
        return libraryFailure(LibraryErrorKind::Io,
            "cannot make the library folder " + folder + ": " + (code ? code.message() : "not a folder"));
    const std::string indexPath = (fs::path(folder) / indexFileName).string();
    auto opened = FlightIndex::open(indexPath);
    bool damaged = false;
    if (!opened && opened.error().kind == LibraryErrorKind::Damaged) {
        damaged = true;
        const std::string reason = opened.error().message;
        const std::string aside = indexPath + ".damaged-" + std::to_string(std::time(nullptr));
        if (std::rename(indexPath.c_str(), aside.c_str()) != 0)
            return libraryFailure(LibraryErrorKind::Io,
                "the flight index " + indexPath + " is damaged (" + reason + ") and cannot be set aside: " + std::strerror(errno));
        for (const char* companion : { "-wal", "-shm" })
            ::unlink((indexPath + companion).c_str());
        if (log)
            logLine(*log, "The flight index %s is damaged (%s): it was set aside as %s and is made again from the IGC files",
                indexPath.c_str(), reason.c_str(), aside.c_str());
        opened = FlightIndex::open(indexPath);
    }
    if (!opened)
        return libraryFailure(opened.error().kind, "cannot open the flight index " + indexPath + ": " + opened.error().message);
    std::unique_ptr<FlightLibrary> library(new FlightLibrary(folder, std::move(*opened), log));
    if (damaged) {
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

std::string FlightLibrary::pathOf(const LibraryFlight& flight) const { return (fs::path(m_folder) / flight.file).string(); }

std::string FlightLibrary::indexPath() const { return (fs::path(m_folder) / indexFileName).string(); }

LibraryResult<ScoreFillOutcome> FlightLibrary::fillScores(const ScoreFillOptions& options, const CancelToken& cancel)
{
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
            for (fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, code), end;
                 !code && it != end; it.increment(code)) {
                if (it->is_regular_file(code) && isIgcName(it->path()))
                    found.push_back(it->path().string());
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
    for (std::size_t i = 0; i < files.size(); ++i) {
        outcomes.push_back(importFile(files[i]));
        if (progress)
            progress(outcomes.back(), i + 1, total);
    }
    // Each flight's outcome says what became of it; a failed commit undoes them all.
    // (A transaction that could not begin left each insert to commit on its own.)
    if (auto committed = transaction.active() ? transaction.commit() : LibraryResult<void> {}; !committed) {
        for (ImportOutcome& outcome : outcomes) {
            if (outcome.kind != ImportOutcome::Kind::Imported)
                continue;
            // The file is whole; the next reconcile indexes it.
            outcome.kind = ImportOutcome::Kind::Refused;
            outcome.message = "cannot record it in the index: " + committed.error().message;
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
        outcome.message = std::move(message);
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
        // minute; an imported flight's carries its logger, which says nothing new.
        if (serial.empty()) {
            if (const auto name = parseLibraryName(fs::path(file).filename().string()); name && name->id != nameId(igc.loggerId)) {
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
            const auto id = recordFlight(flight);
            if (!id) {
                // The file is whole; the next reconcile indexes it.
                outcome.message = "cannot record it in the index: " + id.error().message;
                return outcome;
            }
            flight.id = *id;
            rows.push_back(std::move(flight));
        }
        together.keep();
    }
    outcome.kind = ImportOutcome::Kind::Imported;
    outcome.message = linkAllRecordings(rows, igc, libraryFiles);
    if (rows.size() > 1)
        outcome.message = std::to_string(rows.size()) + " flights (landed and launched again)"
            + (outcome.message.empty() ? "" : "; " + outcome.message);
    outcome.flight = std::move(rows.front());
    return outcome;
}

LibraryResult<std::int64_t> FlightLibrary::recordFlight(const LibraryFlight& flight) { return m_index->insert(flight); }

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
            if (!renameIntoFreeName((fs::path(m_folder) / aside).string(), fs::path(m_folder) / path.parent_path(),
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
            } else if (auto id = recordFlight(flight)) {
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
            together.keep();
    }
    if (!failure.empty()) {
        ::unlink((fs::path(m_folder) / *placed).c_str());
        putBack();
        outcome.message = "cannot record it in the index: " + failure;
        return outcome;
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
    const fs::path relative(file);
    const fs::path folder = fs::path(m_folder) / replacedFolderName / relative.parent_path();
    std::error_code code;
    fs::create_directories(folder, code);
    if (code) {
        *error = code.message();
        return std::nullopt;
    }
    const auto name
        = renameIntoFreeName((fs::path(m_folder) / file).string(), folder, relative.stem().string(), relative.extension().string(), error);
    if (!name) {
        if (error->empty())
            *error = "too many copies of one name";
        return std::nullopt;
    }
    return relativeTo(folder / *name, fs::path(m_folder));
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
    if (const auto name = renameIntoFreeName(*written, folder, baseName, ".igc", error))
        return folderName + "/" + *name;
    ::unlink(written->c_str());
    if (error->empty())
        *error = "too many flights of one minute";
    return std::nullopt;
}

LibraryResult<std::size_t> FlightLibrary::reconcile()
{
    const fs::path root(m_folder);
    // An index that cannot be read is not an empty one: every file would come in again.
    auto files = m_index->files();
    if (!files)
        return Failure { files.error() };
    std::set<std::string> indexed;
    for (std::string& file : *files)
        indexed.insert(std::move(file));
    std::vector<std::string> unindexed;
    std::set<std::string> present;
    const auto abandonedBefore = fs::file_time_type::clock::now() - abandonedWriteAge;
    std::error_code code;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, code), end;
         !code && it != end; it.increment(code)) {
        std::error_code entryCode;
        if (isReplacedFolder(it)) {
            it.disable_recursion_pending();
            continue;
        }
        if (!it->is_regular_file(entryCode))
            continue;
        const std::string name = it->path().filename().string();
        if (name.front() == '.' && name.find(".igc.") != std::string::npos) {
            if (it->last_write_time(entryCode) < abandonedBefore && !entryCode) {
                fs::remove(it->path(), entryCode);
                log("Removed the half-written " + it->path().string() + " of an interrupted sync");
            }
            continue;
        }
        if (!isIgcName(it->path()))
            continue;
        const std::string relative = relativeTo(it->path(), root);
        present.insert(relative);
        if (!indexed.count(relative))
            unindexed.push_back(relative);
    }
    if (code)
        return libraryFailure(LibraryErrorKind::Io, "cannot search the flight library " + m_folder + ": " + code.message());
    std::sort(unindexed.begin(), unindexed.end());
    std::size_t added = 0;
    FlightIndex::Transaction transaction(*m_index);
    for (const std::string& file : indexed) {
        if (!present.count(file)) {
            if (auto removed = m_index->removeFile(file); !removed)
                return Failure { removed.error() };
            log("The flight file " + file + " is gone from the library; it is no longer listed");
        }
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
    if (auto committed = transaction.active() ? transaction.commit() : LibraryResult<void> {}; !committed)
        return Failure { committed.error() };
    if (added > 0)
        log("Indexed " + std::to_string(added) + " flight files that the index did not know");
    return added;
}

LibraryResult<FlightLibrary::RebuildOutcome> FlightLibrary::rebuild()
{
    RebuildOutcome outcome;
    {
        FlightIndex::Transaction transaction(*m_index);
        auto emptied = m_index->removeAll();
        if (emptied)
            emptied = transaction.commit();
        if (!emptied)
            return Failure { emptied.error() };
    }
    // Files the index does not know are exactly all of them now.
    const fs::path root(m_folder);
    std::vector<std::string> files;
    std::error_code code;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, code), end;
         !code && it != end; it.increment(code)) {
        std::error_code entryCode;
        if (isReplacedFolder(it))
            it.disable_recursion_pending();
        else if (it->is_regular_file(entryCode) && isIgcName(it->path()))
            files.push_back(relativeTo(it->path(), root));
    }
    std::sort(files.begin(), files.end());
    FlightIndex::Transaction transaction(*m_index);
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
        if (imported.kind == ImportOutcome::Kind::Imported)
            ++outcome.flights;
        else
            outcome.refused.push_back(std::move(imported));
    }
    if (auto committed = transaction.active() ? transaction.commit() : LibraryResult<void> {}; !committed)
        return Failure { committed.error() };
    log("The flight index was made again from " + std::to_string(files.size()) + " IGC files: "
        + std::to_string(outcome.flights) + " flights");
    return outcome;
}

LibraryResult<LibraryFlight> FlightLibrary::remove(std::int64_t)
{
    return libraryFailure(LibraryErrorKind::Unusable, "removing flights is not built yet");
}

LibraryResult<LibraryFlight> FlightLibrary::restore(std::int64_t)
{
    return libraryFailure(LibraryErrorKind::Unusable, "restoring flights is not built yet");
}

LibraryResult<LibraryFlight> FlightLibrary::edit(std::int64_t, const FlightEdit&)
{
    return libraryFailure(LibraryErrorKind::Unusable, "editing flights is not built yet");
}

LibraryResult<CheckReport> FlightLibrary::check(bool)
{
    return libraryFailure(LibraryErrorKind::Unusable, "checking the library is not built yet");
}

} // namespace corvex::library
