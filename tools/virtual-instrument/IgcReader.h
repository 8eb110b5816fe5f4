#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::virtualinstrument {

// The date of the flight's first fix (from the HFDTE header line).
struct CalendarDate {
    int year { 0 }; // full year, e.g. 2016
    int month { 0 };
    int day { 0 };

    CalendarDate nextDay() const;
    bool operator==(const CalendarDate&) const = default;
};

// One coordinate as the instrument stores it: degrees × 100 + whole minutes, and the
// minute's fraction in ten-thousandths, with the hemisphere apart.
struct InstrumentCoordinate {
    std::uint16_t degreesAndMinutes { 0 };
    std::uint16_t minuteFraction { 0 };
    bool negative { false }; // south or west

    double degrees() const; // signed
};

struct IgcFix {
    int hour { 0 };
    int minute { 0 };
    int second { 0 };
    int dayOffset { 0 }; // UTC days since the first fix's day (a flight over midnight)
    InstrumentCoordinate latitude;
    InstrumentCoordinate longitude;
    bool valid { true }; // 'A' (3D) or 'V'
    int pressureAltitude { 0 };
    int gnssAltitude { 0 };

    int secondOfDay() const { return hour * 3600 + minute * 60 + second; }
    // Seconds since midnight UTC of the first fix's day, continuous over midnight.
    long long elapsedSeconds() const { return dayOffset * 86400LL + secondOfDay(); }
    // The altitude the log book uses: pressure altitude, or GNSS when the recorder has
    // no pressure sensor (it writes 0 there).
    int altitude() const { return pressureAltitude != 0 ? pressureAltitude : gnssAltitude; }
};

struct IgcFile {
    std::vector<std::string> lines; // every line, without its line end
    std::string aRecord; // the A line without the leading 'A', trailing blanks removed
    std::optional<CalendarDate> date;
    std::vector<IgcFix> fixes;

    // The value of a header line "H?ccc...": the text after the first ':' or, without
    // one, after the three-letter code; blanks trimmed. Nothing when no such line.
    std::optional<std::string> headerValue(std::string_view code) const;
};

// Reads the text of an IGC file: CRLF or LF line ends, B-record extensions from the
// I record (LAD and LOD add a digit to the minute fraction), both HFDTE forms. Lines
// that do not parse are kept in `lines` but give no fix. Nothing when the text has no
// B record at all.
std::optional<IgcFile> parseIgc(std::string_view text);
std::optional<IgcFile> readIgcFile(const std::string& path);

} // namespace corvex::virtualinstrument
