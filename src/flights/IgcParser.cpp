#include "flights/IgcFlight.h"

#include "base/FileRead.h"
#include "base/Utf8.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace corvex::flights {

namespace {

constexpr std::int64_t secondsPerDay = 86400;
// A clock that runs back by more than half a day has passed midnight UTC; smaller
// steps back are recorder glitches, not a new day.
constexpr int midnightJump = 43200;
// B HHMMSS DDMMmmmN DDDMMmmmE V PPPPP GGGGG, extensions from column 36 on.
constexpr std::size_t fixLength = 35;
constexpr std::int32_t rawPerDegree = 600000;
// A damaged file may have a bad line for every line; the list stays readable.
constexpr std::size_t problemLimit = 1000;

// The digits at p as a number; false when one of them is not a digit.
inline bool readDigits(const char* p, std::size_t count, int& value)
{
    int number = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(p[i])) - unsigned { '0' };
        if (digit > 9)
            return false;
        number = number * 10 + static_cast<int>(digit);
    }
    value = number;
    return true;
}

// A five-character altitude: "01234" or "-0012".
inline bool readAltitude(const char* p, int& value)
{
    if (p[0] == '-') {
        if (!readDigits(p + 1, 4, value))
            return false;
        value = -value;
        return true;
    }
    return readDigits(p, 5, value);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\x1a'; // DOS end-of-file marks too
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// A header's, comment's or event's text as the program shows it. Older recorders write
// ISO-8859-1; the names reach windows and databases as UTF-8. A control character
// (from a damaged file, or a CR left inside a line by mixed line ends) becomes a blank.
std::string textOf(std::string_view bytes)
{
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    std::string text = ascii || isValidUtf8(bytes) ? std::string(bytes) : latin1ToUtf8(bytes);
    std::replace_if(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }, ' ');
    return text;
}

class Parser {
public:
    explicit Parser(IgcFlight& flight)
        : m_flight(flight)
    {
    }

    void line(std::string_view text, std::size_t number)
    {
        m_number = number;
        switch (text[0]) {
        case 'B':
            fix(text);
            break;
        case 'A':
            if (m_sawA)
                problem("a second A record; only the first names the recorder");
            m_sawA = true;
            if (m_flight.loggerId.empty())
                m_flight.loggerId = textOf(trimmed(text.substr(1)));
            break;
        case 'H':
            header(text);
            break;
        case 'I':
            if (!m_flight.fixes.empty())
                problem("an I record after the first fix is ignored");
            else if (extensions(text, m_flight.fixExtensions, "I"))
                findCoordinateDigits();
            break;
        case 'J':
            extensions(text, m_flight.kExtensions, "J");
            break;
        case 'E':
            event(text);
            break;
        case 'L':
            m_flight.comments.push_back(textOf(text.substr(1)));
            break;
        case 'G':
            m_flight.securityLines.emplace_back(text.substr(1));
            break;
        case 'C':
        case 'D':
        case 'F':
        case 'K':
            m_flight.otherRecords.push_back({ number, std::string(text) });
            break;
        default:
            if (!trimmed(text).empty())
                problem("not an IGC record (it starts with neither of A to L)");
            break;
        }
    }

    bool sawA() const { return m_sawA; }
    std::size_t bRecords() const { return m_bRecords; }
    const std::optional<IgcLineProblem>& firstFixProblem() const { return m_firstFixProblem; }

    void finish()
    {
        if (m_omittedProblems > 0) {
            m_flight.problems.push_back(
                { m_firstOmitted, std::to_string(m_omittedProblems) + " more bad lines from here on, not listed" });
        }
        std::int64_t base = 0;
        if (auto date = m_flight.date())
            base = date->daysSinceEpoch() * secondsPerDay;
        for (IgcFix& fix : m_flight.fixes)
            fix.time += base;
        for (IgcEvent& event : m_flight.events)
            event.time += base;
    }

private:
    void problem(std::string message)
    {
        if (m_flight.problems.size() < problemLimit) {
            m_flight.problems.push_back({ m_number, std::move(message) });
        } else {
            if (m_omittedProblems++ == 0)
                m_firstOmitted = m_number;
        }
    }

    void fixProblem(std::string message)
    {
        if (!m_firstFixProblem)
            m_firstFixProblem = IgcLineProblem { m_number, message };
        problem(std::move(message));
    }

    // Seconds since midnight of the first fix's day, on the fixes' clock.
    std::int64_t clockTime(int secondOfDay, bool advance)
    {
        int day = m_dayOffset;
        if (m_lastSecondOfDay >= 0 && secondOfDay + midnightJump < m_lastSecondOfDay)
            ++day;
        if (advance) {
            m_dayOffset = day;
            m_lastSecondOfDay = secondOfDay;
        }
        return day * secondsPerDay + secondOfDay;
    }

    void fix(std::string_view text)
    {
        ++m_bRecords;
        if (text.size() < fixLength) {
            fixProblem("fix (B record) of " + std::to_string(text.size()) + " characters, "
                + std::to_string(fixLength) + " needed");
            return;
        }
        const char* p = text.data();
        int hour, minute, second;
        if (!readDigits(p + 1, 2, hour) || !readDigits(p + 3, 2, minute) || !readDigits(p + 5, 2, second)) {
            fixProblem("fix time is not HHMMSS");
            return;
        }
        if (hour > 23 || minute > 59 || second > 59) {
            fixProblem("fix time " + std::string(text.substr(1, 6)) + " is no time of day");
            return;
        }
        int latDegrees, latMinutes, latThousandths, lonDegrees, lonMinutes, lonThousandths;
        const char northSouth = p[14], eastWest = p[23], validity = p[24];
        if (!readDigits(p + 7, 2, latDegrees) || !readDigits(p + 9, 2, latMinutes) || !readDigits(p + 11, 3, latThousandths)
            || (northSouth != 'N' && northSouth != 'S')) {
            fixProblem("fix latitude is not DDMMmmm and N or S");
            return;
        }
        if (!readDigits(p + 15, 3, lonDegrees) || !readDigits(p + 18, 2, lonMinutes) || !readDigits(p + 20, 3, lonThousandths)
            || (eastWest != 'E' && eastWest != 'W')) {
            fixProblem("fix longitude is not DDDMMmmm and E or W");
            return;
        }
        if (validity != 'A' && validity != 'V') {
            fixProblem("fix validity is neither A nor V");
            return;
        }
        int pressure, gnss;
        if (!readAltitude(p + 25, pressure) || !readAltitude(p + 30, gnss)) {
            fixProblem("fix altitudes are not five-digit numbers");
            return;
        }
        const std::int32_t latitude = ((latDegrees * 60 + latMinutes) * 1000 + latThousandths) * 10 + digitAt(text, m_latitudeDigit);
        const std::int32_t longitude = ((lonDegrees * 60 + lonMinutes) * 1000 + lonThousandths) * 10 + digitAt(text, m_longitudeDigit);
        if (latMinutes > 59 || lonMinutes > 59 || latitude > 90 * rawPerDegree || longitude > 180 * rawPerDegree) {
            fixProblem("fix position is off the globe");
            return;
        }
        IgcFix& fix = m_flight.fixes.emplace_back();
        fix.time = clockTime(hour * 3600 + minute * 60 + second, true);
        fix.rawLatitude = northSouth == 'S' ? -latitude : latitude;
        fix.rawLongitude = eastWest == 'W' ? -longitude : longitude;
        fix.latitude = fix.rawLatitude / double { rawPerDegree };
        fix.longitude = fix.rawLongitude / double { rawPerDegree };
        fix.valid = validity == 'A';
        fix.pressureAltitude = pressure;
        fix.gnssAltitude = gnss;
        for (const IgcExtension& extension : m_flight.fixExtensions)
            m_flight.fixExtensionValues.push_back(extensionValue(text, extension));
    }

    static int digitAt(std::string_view text, std::size_t column)
    {
        if (column >= text.size())
            return 0;
        const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(text[column])) - unsigned { '0' };
        return digit <= 9 ? static_cast<int>(digit) : 0;
    }

    static std::int32_t extensionValue(std::string_view text, const IgcExtension& extension)
    {
        if (extension.start + extension.length > text.size())
            return IgcFlight::noExtensionValue;
        std::string_view field = text.substr(extension.start, extension.length);
        bool negative = false;
        if (!field.empty() && (field[0] == '-' || field[0] == '+')) {
            negative = field[0] == '-';
            field.remove_prefix(1);
        }
        int value;
        if (field.empty() || field.size() > 9 || !readDigits(field.data(), field.size(), value))
            return IgcFlight::noExtensionValue;
        return negative ? -value : value;
    }

    // "I NN SSFFCCC SSFFCCC ...": how many, then each field's first and last column
    // (from 1) and code.
    bool extensions(std::string_view text, std::vector<IgcExtension>& into, const char* record)
    {
        int count;
        if (text.size() < 3 || !readDigits(text.data() + 1, 2, count)) {
            problem(std::string(record) + " record does not start with the number of fields");
            return false;
        }
        into.clear();
        for (int i = 0; i < count; ++i) {
            const std::size_t at = 3 + static_cast<std::size_t>(i) * 7;
            int first, last;
            if (at + 7 > text.size() || !readDigits(text.data() + at, 2, first) || !readDigits(text.data() + at + 2, 2, last)
                || first < 1 || last < first) {
                problem(std::string(record) + " record field " + std::to_string(i + 1) + " is not SSFFCCC");
                return !into.empty();
            }
            // A field over the fixed part of a B record would be read in two ways.
            if (record[0] == 'I' && static_cast<std::size_t>(first) <= fixLength) {
                problem("I record field " + std::string(text.substr(at + 4, 3)) + " lies within the fix's fixed columns");
                continue;
            }
            into.push_back({ textOf(text.substr(at + 4, 3)), static_cast<std::size_t>(first - 1),
                static_cast<std::size_t>(last - first + 1) });
        }
        return true;
    }

    void findCoordinateDigits()
    {
        m_latitudeDigit = m_longitudeDigit = std::string_view::npos;
        for (const IgcExtension& extension : m_flight.fixExtensions) {
            if (extension.code == "LAD")
                m_latitudeDigit = extension.start;
            else if (extension.code == "LOD")
                m_longitudeDigit = extension.start;
        }
    }

    void header(std::string_view text)
    {
        if (text.size() < 5) {
            problem("header (H record) without its source and three-letter code");
            return;
        }
        std::string_view value = text.substr(5);
        if (auto colon = value.find(':'); colon != std::string_view::npos)
            value = value.substr(colon + 1);
        value = trimmed(value);
        IgcHeader& header = m_flight.headers.emplace_back();
        header.source = text[1];
        header.code = textOf(text.substr(2, 3));
        header.value = textOf(value);
        if (header.code == "DTE" && !m_flight.year)
            date(value);
    }

    // "040516" or, after the label, "270418,01": DDMMYY and perhaps the flight of the day.
    void date(std::string_view value)
    {
        while (!value.empty() && (value.front() < '0' || value.front() > '9'))
            value.remove_prefix(1); // "DATE" without its colon
        int day, month, year;
        if (value.size() < 6 || !readDigits(value.data(), 2, day) || !readDigits(value.data() + 2, 2, month)
            || !readDigits(value.data() + 4, 2, year)) {
            problem("date (HFDTE) is not DDMMYY");
            return;
        }
        // The format dates from the 1990s: two-digit years from 80 on are of that century.
        year += year >= 80 ? 1900 : 2000;
        const std::chrono::year_month_day calendar { std::chrono::year { year }, std::chrono::month { static_cast<unsigned>(month) },
            std::chrono::day { static_cast<unsigned>(day) } };
        if (!calendar.ok()) {
            problem("date (HFDTE) " + std::string(value.substr(0, 6)) + " is no day of the calendar");
            return;
        }
        m_flight.year = year;
        m_flight.month = month;
        m_flight.day = day;
    }

    // "E HHMMSS CCC text".
    void event(std::string_view text)
    {
        int hour, minute, second;
        if (text.size() < 10 || !readDigits(text.data() + 1, 2, hour) || !readDigits(text.data() + 3, 2, minute)
            || !readDigits(text.data() + 5, 2, second) || hour > 23 || minute > 59 || second > 59) {
            problem("event (E record) does not start with HHMMSS and a three-letter code");
            return;
        }
        m_flight.events.push_back({ clockTime(hour * 3600 + minute * 60 + second, false), textOf(text.substr(7, 3)),
            textOf(trimmed(text.substr(10))) });
    }

    IgcFlight& m_flight;
    std::size_t m_number { 0 };
    bool m_sawA { false };
    std::size_t m_bRecords { 0 };
    std::optional<IgcLineProblem> m_firstFixProblem;
    std::size_t m_omittedProblems { 0 };
    std::size_t m_firstOmitted { 0 };
    int m_dayOffset { 0 };
    int m_lastSecondOfDay { -1 };
    std::size_t m_latitudeDigit { std::string_view::npos };
    std::size_t m_longitudeDigit { std::string_view::npos };
};

} // namespace

std::int64_t IgcDate::daysSinceEpoch() const
{
    const std::chrono::sys_days days { std::chrono::year { year } / std::chrono::month { static_cast<unsigned>(month) }
        / std::chrono::day { static_cast<unsigned>(day) } };
    return days.time_since_epoch().count();
}

IgcDate IgcDate::fromDaysSinceEpoch(std::int64_t days)
{
    const std::chrono::year_month_day calendar { std::chrono::sys_days { std::chrono::days { days } } };
    return { static_cast<int>(calendar.year()), static_cast<int>(static_cast<unsigned>(calendar.month())),
        static_cast<int>(static_cast<unsigned>(calendar.day())) };
}

IgcDate IgcDate::ofTime(std::int64_t secondsSinceEpoch)
{
    std::int64_t days = secondsSinceEpoch / secondsPerDay;
    if (secondsSinceEpoch % secondsPerDay < 0)
        --days;
    return fromDaysSinceEpoch(days);
}

int IgcFix::secondOfDay() const
{
    const std::int64_t second = time % secondsPerDay;
    return static_cast<int>(second < 0 ? second + secondsPerDay : second);
}

std::optional<std::string> IgcFlight::headerValue(std::string_view threeLetterCode) const
{
    const IgcHeader* found = nullptr;
    for (const IgcHeader& header : headers) {
        if (header.code != threeLetterCode)
            continue;
        if (header.source == 'F')
            return header.value;
        if (!found)
            found = &header;
    }
    if (!found)
        return std::nullopt;
    return found->value;
}

std::string IgcFlight::pilot() const
{
    return headerValue("PLT").value_or(std::string());
}

std::string IgcFlight::glider() const
{
    return headerValue("GTY").value_or(std::string());
}

std::optional<IgcDate> IgcFlight::date() const
{
    if (!year || !month || !day)
        return std::nullopt;
    return IgcDate { *year, *month, *day };
}

std::optional<std::int32_t> IgcFlight::fixExtensionValue(std::size_t fixIndex, std::string_view code) const
{
    for (std::size_t column = 0; column < fixExtensions.size(); ++column) {
        if (fixExtensions[column].code != code)
            continue;
        const std::size_t at = fixIndex * fixExtensions.size() + column;
        if (at >= fixExtensionValues.size() || fixExtensionValues[at] == noExtensionValue)
            return std::nullopt;
        return fixExtensionValues[at];
    }
    return std::nullopt;
}

Result<IgcFlight, std::string> parseIgc(std::string_view text)
{
    if (const void* nul = std::memchr(text.data(), '\0', text.size()))
        return Failure { "binary data (a NUL byte at offset " + std::to_string(static_cast<const char*>(nul) - text.data())
            + "), not an IGC text" };
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    if (text.find_first_not_of(" \t\r\n\x1a") == std::string_view::npos)
        return Failure { std::string("an empty text, not an IGC file") };

    IgcFlight flight;
    // B records take 36 bytes and more with their line end.
    flight.fixes.reserve(text.size() / 40);
    Parser parser(flight);
    // LF or CR LF; a text without any LF ends its lines with CR alone.
    const char separator = text.find('\n') == std::string_view::npos ? '\r' : '\n';
    std::size_t number = 0;
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    while (at < end) {
        const char* lineEnd = static_cast<const char*>(std::memchr(at, separator, static_cast<std::size_t>(end - at)));
        if (!lineEnd)
            lineEnd = end;
        std::string_view line(at, static_cast<std::size_t>(lineEnd - at));
        at = lineEnd + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!line.empty())
            parser.line(line, number);
    }
    parser.finish();

    if (!parser.sawA())
        return Failure { std::string("no A record: an IGC file starts with the recorder's A line") };
    if (parser.bRecords() == 0)
        return Failure { std::string("no fix: the text has no B record") };
    if (flight.fixes.empty()) {
        const IgcLineProblem& first = *parser.firstFixProblem();
        return Failure { "no readable fix: every B record is damaged (line " + std::to_string(first.line) + ": " + first.message
            + ")" };
    }
    return flight;
}

Result<std::string, std::string> readIgcText(const std::string& path)
{
    auto text = readFileWhole(path, FileKind::IgcFlight);
    if (!text)
        return Failure { path + ": " + text.error().reason() };
    return std::move(*text);
}

Result<IgcFlight, std::string> readIgcFile(const std::string& path)
{
    auto text = readIgcText(path);
    if (!text)
        return Failure { text.error() };
    auto flight = parseIgc(*text);
    if (!flight)
        return Failure { path + ": " + flight.error() };
    return flight;
}

} // namespace corvex::flights
