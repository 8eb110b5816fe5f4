#include "IgcReader.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace corvex::virtualinstrument {

namespace {

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int days[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    if (month < 1 || month > 12)
        return 31;
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Digits at [position, position + count) of the line as a number; nothing when any of
// them is not a digit or the line is too short.
std::optional<int> digitsAt(std::string_view line, std::size_t position, std::size_t count)
{
    if (position + count > line.size())
        return std::nullopt;
    int value = 0;
    for (std::size_t i = position; i < position + count; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(line[i])))
            return std::nullopt;
        value = value * 10 + (line[i] - '0');
    }
    return value;
}

// A signed altitude field of five characters ("01234", "-0012").
std::optional<int> altitudeAt(std::string_view line, std::size_t position)
{
    if (position + 5 > line.size())
        return std::nullopt;
    if (line[position] == '-') {
        auto magnitude = digitsAt(line, position + 1, 4);
        if (!magnitude)
            return std::nullopt;
        return -*magnitude;
    }
    return digitsAt(line, position, 5);
}

std::string trimmed(std::string_view text)
{
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

// Where an I-record extension sits in the B record (0-based start, length).
struct Extension {
    std::size_t start { 0 };
    std::size_t length { 0 };
};

struct Extensions {
    std::optional<Extension> latitudeDigit; // LAD
    std::optional<Extension> longitudeDigit; // LOD
};

Extensions parseIRecord(std::string_view line)
{
    Extensions extensions;
    auto count = digitsAt(line, 1, 2);
    if (!count)
        return extensions;
    for (int i = 0; i < *count; ++i) {
        std::size_t at = 3 + static_cast<std::size_t>(i) * 7;
        auto first = digitsAt(line, at, 2);
        auto last = digitsAt(line, at + 2, 2);
        if (!first || !last || at + 7 > line.size() || *last < *first || *first < 1)
            break;
        std::string_view code = line.substr(at + 4, 3);
        Extension extension { static_cast<std::size_t>(*first - 1), static_cast<std::size_t>(*last - *first + 1) };
        if (code == "LAD")
            extensions.latitudeDigit = extension;
        else if (code == "LOD")
            extensions.longitudeDigit = extension;
    }
    return extensions;
}

// The first digit of an extension field (the next decimal of the minutes), or 0.
int extensionDigit(std::string_view line, const std::optional<Extension>& extension)
{
    if (!extension)
        return 0;
    return digitsAt(line, extension->start, 1).value_or(0);
}

// "B HHMMSS DDMMmmm N DDDMMmmm E V PPPPP GGGGG" at fixed columns.
std::optional<IgcFix> parseBRecord(std::string_view line, const Extensions& extensions)
{
    if (line.size() < 35)
        return std::nullopt;
    IgcFix fix;
    auto hour = digitsAt(line, 1, 2), minute = digitsAt(line, 3, 2), second = digitsAt(line, 5, 2);
    auto latDegrees = digitsAt(line, 7, 2), latMinutes = digitsAt(line, 9, 2), latThousandths = digitsAt(line, 11, 3);
    auto lonDegrees = digitsAt(line, 15, 3), lonMinutes = digitsAt(line, 18, 2), lonThousandths = digitsAt(line, 20, 3);
    auto pressure = altitudeAt(line, 25), gnss = altitudeAt(line, 30);
    if (!hour || !minute || !second || !latDegrees || !latMinutes || !latThousandths || !lonDegrees || !lonMinutes
        || !lonThousandths || !pressure || !gnss)
        return std::nullopt;
    char northSouth = line[14], eastWest = line[23], validity = line[24];
    if ((northSouth != 'N' && northSouth != 'S') || (eastWest != 'E' && eastWest != 'W'))
        return std::nullopt;
    if (*hour > 23 || *minute > 59 || *second > 59 || *latDegrees > 90 || *latMinutes > 59 || *lonDegrees > 180
        || *lonMinutes > 59)
        return std::nullopt;
    fix.hour = *hour;
    fix.minute = *minute;
    fix.second = *second;
    fix.latitude.degreesAndMinutes = static_cast<std::uint16_t>(*latDegrees * 100 + *latMinutes);
    fix.latitude.minuteFraction
        = static_cast<std::uint16_t>(*latThousandths * 10 + extensionDigit(line, extensions.latitudeDigit));
    fix.latitude.negative = northSouth == 'S';
    fix.longitude.degreesAndMinutes = static_cast<std::uint16_t>(*lonDegrees * 100 + *lonMinutes);
    fix.longitude.minuteFraction
        = static_cast<std::uint16_t>(*lonThousandths * 10 + extensionDigit(line, extensions.longitudeDigit));
    fix.longitude.negative = eastWest == 'W';
    fix.valid = validity == 'A';
    fix.pressureAltitude = *pressure;
    fix.gnssAltitude = *gnss;
    return fix;
}

// "HFDTE040516" or "HFDTEDATE:270418,01": DDMMYY.
std::optional<CalendarDate> parseDate(std::string_view line)
{
    std::string_view rest = line.substr(5);
    if (auto colon = rest.find(':'); colon != std::string_view::npos)
        rest = rest.substr(colon + 1);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    auto day = digitsAt(rest, 0, 2), month = digitsAt(rest, 2, 2), year = digitsAt(rest, 4, 2);
    if (!day || !month || !year || *month < 1 || *month > 12 || *day < 1 || *day > 31)
        return std::nullopt;
    return CalendarDate { 2000 + *year, *month, *day };
}

} // namespace

CalendarDate CalendarDate::nextDay() const
{
    CalendarDate next = *this;
    if (++next.day > daysInMonth(year, month)) {
        next.day = 1;
        if (++next.month > 12) {
            next.month = 1;
            ++next.year;
        }
    }
    return next;
}

double InstrumentCoordinate::degrees() const
{
    double value = degreesAndMinutes / 100 + ((degreesAndMinutes % 100) + minuteFraction / 10000.0) / 60.0;
    return negative ? -value : value;
}

std::optional<std::string> IgcFile::headerValue(std::string_view code) const
{
    for (const std::string& line : lines) {
        if (line.size() < 5 || line[0] != 'H' || std::string_view(line).substr(2, 3) != code)
            continue;
        std::string_view rest = std::string_view(line).substr(5);
        if (auto colon = rest.find(':'); colon != std::string_view::npos)
            rest = rest.substr(colon + 1);
        return trimmed(rest);
    }
    return std::nullopt;
}

std::optional<IgcFile> parseIgc(std::string_view text)
{
    IgcFile file;
    Extensions extensions;
    int dayOffset = 0;
    int previousSecondOfDay = -1;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        file.lines.emplace_back(line);
        if (line.empty())
            continue;
        switch (line[0]) {
        case 'A':
            if (file.aRecord.empty())
                file.aRecord = trimmed(line.substr(1));
            break;
        case 'I':
            extensions = parseIRecord(line);
            break;
        case 'H':
            if (line.size() >= 5 && line.substr(2, 3) == "DTE" && !file.date)
                file.date = parseDate(line);
            break;
        case 'B':
            if (auto fix = parseBRecord(line, extensions)) {
                // A clock that runs backwards by more than half a day has passed
                // midnight UTC; small steps back are recorder glitches, not a new day.
                if (previousSecondOfDay >= 0 && fix->secondOfDay() + 43200 < previousSecondOfDay)
                    ++dayOffset;
                fix->dayOffset = dayOffset;
                previousSecondOfDay = fix->secondOfDay();
                file.fixes.push_back(*fix);
            }
            break;
        default:
            break;
        }
    }
    if (file.fixes.empty())
        return std::nullopt;
    return file;
}

std::optional<IgcFile> readIgcFile(const std::string& path)
{
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        return std::nullopt;
    std::ostringstream contents;
    contents << stream.rdbuf();
    return parseIgc(contents.str());
}

} // namespace corvex::virtualinstrument
