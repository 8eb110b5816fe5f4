#include "library/AirspaceArchive.h"

#include "base/FileNames.h"
#include "base/FileRead.h"
#include "base/Sha256.h"
#include "export/ExportFiles.h"
#include "platform/LogSink.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>
#include <unistd.h>

namespace corvex::library {

namespace fs = std::filesystem;

namespace {

constexpr const char* archiveFolderName = "Airspaces";
constexpr const char* journalName = "uses.tsv";

// A field of the journal: no tab or line end inside it.
std::string journalField(std::string text)
{
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return text;
}

std::vector<std::string> splitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

} // namespace

const char* airspaceUseName(AirspaceUse use)
{
    switch (use) {
    case AirspaceUse::Converted:
        return "converted";
    case AirspaceUse::Checked:
        return "checked";
    case AirspaceUse::Uploaded:
        return "uploaded";
    }
    return "";
}

AirspaceArchive::AirspaceArchive(std::string libraryFolder, AirspaceIndex& index, LogSink* log)
    : m_libraryFolder(std::move(libraryFolder))
    , m_index(index)
    , m_log(log)
{
}

void AirspaceArchive::log(const std::string& line) const
{
    if (m_log)
        logLine(*m_log, "%s", line.c_str());
}

std::string AirspaceArchive::refusedPath(const std::string& file) const
{
    // Only ever ARCHIVE/NAME, as keep makes it.
    const fs::path path(file);
    if (path.parent_path() != archiveFolderName)
        return "it is not a file of the " + std::string(archiveFolderName) + " folder";
    return pathOutsideFolder(m_libraryFolder, file);
}

std::string AirspaceArchive::folder() const { return (fs::path(m_libraryFolder) / archiveFolderName).string(); }

std::string AirspaceArchive::pathOf(const AirspaceFileRecord& record) const
{
    return (fs::path(m_libraryFolder) / record.file).string();
}

LibraryResult<AirspaceFileRecord> AirspaceArchive::keep(
    std::string_view bytes, const std::string& name, AirspaceUse use, std::int64_t time, const std::string& setSha256)
{
    Sha256 digest;
    digest.update(bytes);
    const std::string sha256 = digest.finishHex();
    std::optional<AirspaceFileRecord> record;
    if (auto known = m_index.fileWithDigest(sha256))
        record = std::move(*known);
    else if (known.error().kind != LibraryErrorKind::NotFound)
        return Failure { known.error() };
    // A copy deleted by hand is written again under its recorded name.
    if (!record || !fs::is_regular_file(pathOf(*record))) {
        std::error_code code;
        fs::create_directories(folder(), code);
        if (code)
            return libraryFailure(LibraryErrorKind::Io, "cannot make " + folder() + ": " + code.message());
        std::string relative;
        if (record) {
            relative = record->file;
        } else {
            // The digest first, so that two files of one name never meet, and the name
            // the user knows after it.
            std::string safe = safeFileName(fs::path(name).filename().string(), 80);
            if (safe.empty())
                safe = "airspaces.txt";
            // The library's flights are its *.igc files: a kept copy never passes for one.
            if (safe.size() >= 4 && std::equal(safe.end() - 4, safe.end(), ".igc", [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; }))
                safe += ".txt";
            relative = std::string(archiveFolderName) + "/" + sha256.substr(0, 16) + "_" + safe;
        }
        // A name from the index, or an Airspaces folder that is a link out of the library:
        // the copy is never written outside it.
        if (const std::string wrong = refusedPath(relative); !wrong.empty())
            return libraryFailure(LibraryErrorKind::Io, "cannot keep " + name + " as " + relative + ": " + wrong);
        const std::string target = (fs::path(m_libraryFolder) / relative).string();
        const auto written = writeTemporaryFile((fs::path(folder()) / ".keep.XXXXXX").string(), bytes);
        if (!written)
            return libraryFailure(LibraryErrorKind::Io, "cannot write into " + folder() + ": " + std::strerror(errno));
        if (std::rename(written->c_str(), target.c_str()) != 0) {
            const int error = errno;
            ::unlink(written->c_str());
            return libraryFailure(LibraryErrorKind::Io, "cannot write " + target + ": " + std::strerror(error));
        }
        if (!record) {
            AirspaceFileRecord fresh { 0, fs::path(name).filename().string(), sha256, relative, time };
            const auto id = m_index.insertFile(fresh);
            if (!id)
                return libraryFailure(id.error().kind, "cannot record " + name + " in the index: " + id.error().message);
            fresh.id = *id;
            record = std::move(fresh);
        }
    }
    const AirspaceUseRecord used { record->id, airspaceUseName(use), time, {}, setSha256 };
    if (auto inserted = m_index.insertUse(used); !inserted)
        return libraryFailure(
            inserted.error().kind, "cannot record the use of " + name + " in the index: " + inserted.error().message);
    appendToJournal(*record, used);
    return *record;
}

LibraryResult<AirspaceFileRecord> AirspaceArchive::keepFile(
    const std::string& path, AirspaceUse use, std::int64_t time, const std::string& setSha256)
{
    const auto bytes = readFileWhole(path, FileKind::OpenAir);
    if (!bytes)
        return libraryFailure(LibraryErrorKind::Io, bytes.error().message());
    return keep(*bytes, path, use, time, setSha256);
}

LibraryResult<std::optional<AirspaceFileRecord>> AirspaceArchive::recordUpload(
    const std::string& setSha256, const std::string& serial, std::int64_t time)
{
    std::optional<AirspaceFileRecord> source;
    if (auto converted = m_index.fileConvertedInto(setSha256))
        source = std::move(*converted);
    else if (converted.error().kind != LibraryErrorKind::NotFound)
        return Failure { converted.error() };
    // An upload of a set from elsewhere is recorded too: from then on the instrument
    // holds none of the kept files, and a flight after it must not be checked against one.
    const AirspaceUseRecord used { source ? source->id : 0, airspaceUseName(AirspaceUse::Uploaded), time, serial, setSha256 };
    if (auto inserted = m_index.insertUse(used); !inserted)
        return Failure { inserted.error() };
    appendToJournal(source.value_or(AirspaceFileRecord {}), used);
    return source;
}

void AirspaceArchive::appendToJournal(const AirspaceFileRecord& record, const AirspaceUseRecord& use) const
{
    // time, reason, serial, set digest, file digest, file, name
    const std::string path = (fs::path(folder()) / journalName).string();
    std::ofstream journal(path, std::ios::app | std::ios::binary);
    journal << use.time << '\t' << use.reason << '\t' << journalField(use.serial) << '\t' << journalField(use.setSha256) << '\t'
            << record.sha256 << '\t' << journalField(record.file) << '\t' << journalField(record.name) << '\n';
    journal.flush();
    // The index holds the use; only an index made again would miss it.
    if (!journal)
        log("The use of " + (record.name.empty() ? use.setSha256 : record.name) + " cannot be kept in " + path
            + ": an index made again will not know it");
}

LibraryResult<std::size_t> AirspaceArchive::restoreFromJournal()
{
    const auto known = m_index.files();
    if (!known)
        return Failure { known.error() };
    if (!known->empty())
        return std::size_t { 0 };
    std::ifstream journal((fs::path(folder()) / journalName).string(), std::ios::binary);
    std::size_t restored = 0;
    std::string line;
    std::size_t lineNumber = 0;
    while (std::getline(journal, line)) {
        ++lineNumber;
        const auto fields = splitTabs(line);
        // A line cut short by a killed process is skipped, and so is a time that does
        // not fit (from_chars, unlike stoll, does not throw on one).
        std::int64_t time = 0;
        if (fields.size() != 7 || fields[0].empty() || fields[0].find_first_not_of("0123456789") != std::string::npos
            || std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), time).ec != std::errc {})
            continue;
        if (fields[4].empty() && fields[1] == airspaceUseName(AirspaceUse::Uploaded)) {
            // An upload of a set no kept file was made into.
            if (m_index.insertUse({ 0, fields[1], time, fields[2], fields[3] }))
                ++restored;
            continue;
        }
        if (fields[4].size() != 64)
            continue;
        if (const std::string wrong = refusedPath(fields[5]); !wrong.empty()) {
            log("Line " + std::to_string(lineNumber) + " of " + (fs::path(folder()) / journalName).string()
                + " is skipped: its file " + fields[5] + " is refused (" + wrong + ")");
            continue;
        }
        auto record = m_index.fileWithDigest(fields[4]);
        if (!record) {
            AirspaceFileRecord fresh { 0, fields[6], fields[4], fields[5], time };
            const auto id = m_index.insertFile(fresh);
            if (!id)
                continue;
            fresh.id = *id;
            record = std::move(fresh);
        }
        if (m_index.insertUse({ record->id, fields[1], time, fields[2], fields[3] }))
            ++restored;
    }
    return restored;
}

LibraryResult<std::optional<AirspaceFileRecord>> AirspaceArchive::heldBy(const std::string& serial, std::int64_t time) const
{
    if (serial.empty())
        return std::optional<AirspaceFileRecord> {};
    return m_index.fileUploadedBy(serial, time);
}

} // namespace corvex::library
