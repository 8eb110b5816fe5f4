#include "library/LibraryJournal.h"

#include "base/FileNames.h"
#include "platform/LogSink.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvex::library {

namespace fs = std::filesystem;

namespace {

constexpr const char* journalName = "journal.tsv";

std::string escaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

std::optional<std::int64_t> number(std::string_view text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc {} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<double> degrees(std::string_view text, double limit)
{
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc {} || end != text.data() + text.size() || !std::isfinite(value)
        || std::abs(value) > limit)
        return std::nullopt;
    return value;
}

// 7 decimals: a centimetre, and the same text for a centre read back and written again.
std::string degreesText(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.7f", value);
    return text;
}

} // namespace

LibraryJournal::LibraryJournal(std::string libraryFolder, LogSink* log)
    : m_folder(std::move(libraryFolder))
    , m_log(log)
{
}

std::string LibraryJournal::path() const { return (fs::path(m_folder) / journalName).string(); }

void LibraryJournal::warn(const std::string& line) const
{
    if (m_log)
        logLine(*m_log, "%s", line.c_str());
}

LibraryResult<void> LibraryJournal::recordId(std::int64_t id, const std::string& file, int part)
{
    return append("id\t" + std::to_string(id) + "\t" + escaped(file) + "\t" + std::to_string(part));
}

LibraryResult<void> LibraryJournal::recordEdit(std::int64_t id, std::string_view field, std::string_view value)
{
    return append("edit\t" + std::to_string(id) + "\t" + escaped(field) + "\t" + escaped(value));
}

LibraryResult<void> LibraryJournal::recordRemoval(std::int64_t id, std::int64_t time, const std::string& file)
{
    return append("removed\t" + std::to_string(id) + "\t" + std::to_string(time) + "\t" + escaped(file));
}

LibraryResult<void> LibraryJournal::recordRestore(std::int64_t id, const std::string& file)
{
    return append("restored\t" + std::to_string(id) + "\t" + escaped(file));
}

LibraryResult<void> LibraryJournal::recordSiteName(GeoPoint centre, std::string_view name)
{
    return append("site\t" + degreesText(centre.latitude) + "\t" + degreesText(centre.longitude) + "\t" + escaped(name));
}

LibraryResult<void> LibraryJournal::recordGliderName(std::string_view fileName, std::string_view shownName)
{
    return append("glider\t" + escaped(fileName) + "\t" + escaped(shownName));
}

LibraryResult<void> LibraryJournal::append(const std::string& record)
{
    // What others wrote comes first, so that their records and ours fold in in order.
    catchUp();
    const std::string where = path();
    const int fd = ::open(where.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return libraryFailure(LibraryErrorKind::Io, "cannot open the journal " + where + ": " + std::strerror(errno));
    std::string line = record + "\n";
    // A line a crash cut short is ended first, so that it does not swallow this one, with
    // a field that never reads ("\?"), so that what is left of it is never taken for a
    // record.
    struct stat status {};
    char last = '\n';
    if (::fstat(fd, &status) == 0 && status.st_size > 0 && ::pread(fd, &last, 1, status.st_size - 1) == 1 && last != '\n')
        line.insert(0, "\t\\?\n");
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(fd, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            return libraryFailure(LibraryErrorKind::Io, "cannot write the journal " + where + ": " + std::strerror(error));
        }
        written += static_cast<std::size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    if (!synced)
        return libraryFailure(LibraryErrorKind::Io, "cannot write the journal " + where + ": " + std::strerror(error));
    catchUp();
    return {};
}

void LibraryJournal::catchUp()
{
    const int fd = ::open(path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
        ::close(fd);
        return;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (size < m_readBytes) {
        // Replaced by a shorter one (a backup put back): read it from the start.
        m_flights.clear();
        m_ids.clear();
        m_sites.clear();
        m_sitesNamed = 0;
        m_gliders.clear();
        m_largestId = 0;
        m_readBytes = 0;
        m_lines = 0;
    }
    if (size == m_readBytes) {
        ::close(fd);
        return;
    }
    std::string text(size - m_readBytes, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::pread(fd, text.data() + got, text.size() - got, static_cast<off_t>(m_readBytes + got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        apply(text.substr(start, end - start), ++m_lines);
    // A last line without its end is still being written, or was cut short by a crash:
    // left for the next look (the next record ends it first).
    if (start < text.size() && m_readBytes + start != m_tornWarnedAt) {
        m_tornWarnedAt = m_readBytes + start;
        warn("The library journal " + path() + " ends in a line cut short (line " + std::to_string(m_lines + 1)
            + "); it is skipped");
    }
    m_readBytes += start;
}

void LibraryJournal::moveFile(const std::string& from, const std::string& to)
{
    if (from == to)
        return;
    for (auto& [id, flight] : m_flights) {
        if (flight.file != from)
            continue;
        m_ids.erase({ from, flight.part });
        flight.file = to;
        m_ids[{ to, flight.part }] = id;
    }
}

void LibraryJournal::apply(const std::string& line, std::size_t lineNumber)
{
    if (line.empty())
        return;
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        const auto field = unescaped(std::string_view(line).substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (!field) {
            fields.clear();
            break;
        }
        fields.push_back(*field);
        if (tab == std::string::npos)
            break;
        start = tab + 1;
    }
    const auto skip = [&] {
        warn("Line " + std::to_string(lineNumber) + " of the library journal " + path() + " does not read; it is skipped");
    };
    if (fields.size() < 3)
        return skip();
    const std::string& kind = fields[0];
    if (kind == "site") {
        const auto latitude = fields.size() == 4 ? degrees(fields[1], 90) : std::nullopt;
        const auto longitude = fields.size() == 4 ? degrees(fields[2], 180) : std::nullopt;
        if (!latitude || !longitude)
            return skip();
        const std::string key = degreesText(*latitude) + "\t" + degreesText(*longitude);
        if (fields[3].empty())
            m_sites.erase(key);
        else if (const auto known = m_sites.find(key); known != m_sites.end())
            known->second.second.name = fields[3];
        else
            m_sites[key] = { m_sitesNamed++, SiteName { { *latitude, *longitude }, fields[3] } };
        return;
    }
    if (kind == "glider") {
        if (fields.size() != 3 || fields[1].empty())
            return skip();
        if (fields[2].empty() || fields[2] == fields[1])
            m_gliders.erase(fields[1]);
        else
            m_gliders[fields[1]] = fields[2];
        return;
    }
    // The library finds and moves flights by these names: one that leads out of the
    // folder is never taken.
    const std::size_t fileField = kind == "id" ? 2 : kind == "removed" ? 3 : kind == "restored" ? 2 : 0;
    if (fileField != 0 && fileField < fields.size() && !fields[fileField].empty()) {
        if (const std::string wrong = pathOutsideFolder(m_folder, fields[fileField]); !wrong.empty()) {
            warn("Line " + std::to_string(lineNumber) + " of the library journal " + path() + " names the file "
                + escaped(fields[fileField]) + ", which is refused (" + wrong + "); it is skipped");
            return;
        }
    }
    const auto id = number(fields[1]);
    if (!id || *id <= 0)
        return skip();
    if (kind == "id" && fields.size() == 4) {
        const auto part = number(fields[3]);
        if (!part || *part < 0 || fields[2].empty())
            return skip();
        const std::pair<std::string, int> key { fields[2], static_cast<int>(*part) };
        // The place now belongs to this id (a file put where a forgotten one was); the
        // other keeps its edits, held by no file.
        if (const auto held = m_ids.find(key); held != m_ids.end() && held->second != *id)
            m_flights[held->second].file.clear();
        if (const auto known = m_flights.find(*id); known != m_flights.end())
            m_ids.erase({ known->second.file, known->second.part });
        JournalFlight& flight = m_flights[*id];
        flight.file = key.first;
        flight.part = key.second;
        m_ids[key] = *id;
        m_largestId = std::max(m_largestId, *id);
        return;
    }
    m_largestId = std::max(m_largestId, *id);
    const auto known = m_flights.find(*id);
    if (kind == "edit" && fields.size() == 4) {
        // An edit of a flight whose id record was lost still counts once one appears.
        JournalFlight& flight = m_flights[*id];
        if (fields[3].empty())
            flight.edits.erase(fields[2]);
        else
            flight.edits[fields[2]] = fields[3];
        return;
    }
    if (kind == "removed" && fields.size() == 4) {
        const auto time = number(fields[2]);
        if (!time || known == m_flights.end())
            return skip();
        known->second.removed = *time;
        if (!fields[3].empty())
            moveFile(known->second.file, fields[3]);
        return;
    }
    if (kind == "restored" && fields.size() == 3) {
        if (known == m_flights.end())
            return skip();
        known->second.removed.reset();
        if (!fields[2].empty())
            moveFile(known->second.file, fields[2]);
        return;
    }
    skip();
}

const JournalFlight* LibraryJournal::flight(std::int64_t id)
{
    catchUp();
    const auto found = m_flights.find(id);
    return found == m_flights.end() || found->second.file.empty() ? nullptr : &found->second;
}

std::optional<std::int64_t> LibraryJournal::idOf(const std::string& file, int part)
{
    catchUp();
    const auto found = m_ids.find({ file, part });
    if (found == m_ids.end())
        return std::nullopt;
    return found->second;
}

std::int64_t LibraryJournal::largestId()
{
    catchUp();
    return m_largestId;
}

const std::map<std::int64_t, JournalFlight>& LibraryJournal::flights()
{
    catchUp();
    return m_flights;
}

std::vector<SiteName> LibraryJournal::siteNames()
{
    catchUp();
    std::vector<std::pair<std::size_t, SiteName>> ordered;
    for (const auto& [key, site] : m_sites)
        ordered.push_back(site);
    std::sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<SiteName> names;
    for (auto& [order, site] : ordered)
        names.push_back(std::move(site));
    return names;
}

const std::map<std::string, std::string>& LibraryJournal::gliderNames()
{
    catchUp();
    return m_gliders;
}

} // namespace corvex::library
