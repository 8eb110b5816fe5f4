#include "library/FlightLibrary.h"

#include "base/FileNames.h"
#include "base/FileRead.h"
#include "base/Format.h"
#include "base/Sha256.h"
#include "export/ExportFiles.h"
#include "flights/IgcFlight.h"
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

} // namespace

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
    const flights::FlightFigures figures = flights::computeFigures(igc);
    if (auto same = m_index->flightOfLogger(igc.loggerId, figures.takeoffTime)) {
        if (!existingFile || same->file != *existingFile)
            return alreadyHere(*same,
                "the same flight (logger " + (igc.loggerId.empty() ? std::string("unnamed") : igc.loggerId) + ", take-off "
                    + timeText(figures.takeoffTime) + ") is already in the library as " + same->file);
    } else if (same.error().kind != LibraryErrorKind::NotFound) {
        return lookupFailed(same.error());
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
        const std::int64_t nameTime = minute ? unixTimeOfMinuteSince2000(*minute) : figures.takeoffTime;
        const std::string base = libraryBaseName(nameTime, serial.empty() ? igc.loggerId : serial);
        std::string error;
        const auto placed = placeFile(text, base.substr(0, 4), base, &error);
        if (!placed) {
            outcome.message = "cannot write it into the library: " + error;
            return outcome;
        }
        file = *placed;
    }

    LibraryFlight flight;
    flight.file = file;
    flight.sha256 = sha256;
    flight.size = static_cast<std::int64_t>(text.size());
    flight.logger = igc.loggerId;
    flight.serial = serial;
    flight.logBookMinute = minute;
    fillFigures(flight, igc, figures);
    flight.added = now();
    const auto id = m_index->insert(flight);
    if (!id) {
        // The file is whole; the next reconcile indexes it.
        outcome.message = "cannot record it in the index: " + id.error().message;
        return outcome;
    }
    flight.id = *id;
    outcome.kind = ImportOutcome::Kind::Imported;
    outcome.flight = std::move(flight);
    return outcome;
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
    const std::string& temporary = *written;
    // Into place without ever replacing a file: two flights of one minute get _2, _3.
    for (int copy = 1; copy < 1000; ++copy) {
        const std::string name = baseName + (copy == 1 ? std::string {} : "_" + std::to_string(copy)) + ".igc";
        const std::string target = (folder / name).string();
        if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            syncFolder(folder.string());
            return folderName + "/" + name;
        }
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL && errno != ENOSYS) {
            *error = std::strerror(errno);
            break;
        }
        // A file system without RENAME_NOREPLACE: a hard link is just as exclusive.
        if (::link(temporary.c_str(), target.c_str()) == 0) {
            ::unlink(temporary.c_str());
            syncFolder(folder.string());
            return folderName + "/" + name;
        }
        if (errno == EEXIST)
            continue;
        *error = std::strerror(errno);
        break;
    }
    ::unlink(temporary.c_str());
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
        if (it->is_regular_file(entryCode) && isIgcName(it->path()))
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
