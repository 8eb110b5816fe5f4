#pragma once

#include "base/Result.h"
#include "flights/IgcFlight.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::virtualinstrument {

using CalendarDate = flights::IgcDate;

// One coordinate as the instrument stores it: degrees × 100 + whole minutes, and the
// minute's fraction in ten-thousandths, with the hemisphere apart.
struct InstrumentCoordinate {
    std::uint16_t degreesAndMinutes { 0 };
    std::uint16_t minuteFraction { 0 };
    bool negative { false }; // south or west
};

// Exactly from the B record's integers (IgcFix::rawLatitude, rawLongitude: signed
// minutes × 10000), never through a double.
InstrumentCoordinate instrumentCoordinate(std::int32_t rawMinutes);

// The altitude the log book uses: pressure altitude, or GNSS when the recorder has no
// pressure sensor (it writes 0 there).
int logBookAltitude(const flights::IgcFix& fix);

// The UTC day of a fix; a file without a date (no HFDTE) flies on 1 January 2000.
CalendarDate fixDate(const flights::IgcFlight& igc, const flights::IgcFix& fix);

// Seconds since midnight UTC of the first fix's day, continuous over midnight.
long long elapsedSeconds(const flights::IgcFlight& igc, const flights::IgcFix& fix);

// One log-book entry as the instrument keeps it: metric units, temperatures in degrees
// Celsius (the encoder stores Fahrenheit when the units bitfield asks for it).
struct LogBookEntry {
    std::uint16_t flightNumber { 0 };
    int hour { 0 };
    int minute { 0 };
    CalendarDate date;
    std::uint16_t duration { 0 }; // seconds
    std::uint16_t startAltitude { 0 }; // metres
    std::uint16_t endAltitude { 0 };
    std::uint16_t maxAltitude { 0 };
    std::uint16_t maxDistance { 0 }; // hundredths of a kilometre from launch
    std::uint16_t maxLift { 0 }; // tenths of m/s
    std::uint16_t avgLift { 0 }; // tenths of m/s
    std::int16_t maxSink { 0 }; // tenths of m/s, negative
    int maxTemperature { 0 }; // degrees Celsius
    int minTemperature { 0 };
    InstrumentCoordinate launchLatitude;
    InstrumentCoordinate launchLongitude;
    InstrumentCoordinate landingLatitude;
    InstrumentCoordinate landingLongitude;
    std::uint16_t maxGroundSpeed { 0 }; // tenths of km/h
    std::uint16_t maxWindSpeed { 0 }; // tenths of km/h
};

struct Flight {
    std::uint16_t flightNumber { 0 };
    std::string fileName; // the IGC file it was made from
    flights::IgcFlight igc;
    std::vector<std::string> lines; // every line of the file, without its line end
    LogBookEntry entry;
};

// The log-book entry of a recorded flight. Vertical and ground speeds are taken over
// spans of at least ten seconds, as a recorder's averaging vario would; temperatures
// follow the standard atmosphere at the lowest and highest altitude, since IGC files
// carry none; the wind speed stays 0 for the same reason.
LogBookEntry summarizeFlight(const flights::IgcFlight& igc, std::uint16_t flightNumber);

// A recorded flight from the text of an IGC file, or why the text is none.
Result<Flight, std::string> flightFromText(std::string_view text, std::uint16_t flightNumber, std::string fileName);

// One flight per IGC file (*.igc, *.IGC) of the folder, sorted by file name, numbered
// from 1 in that order, so a flight keeps its number while the folder stays the same.
// Files that are not IGC are left out (and do not take a number).
std::vector<Flight> loadFlights(const std::string& folder, std::vector<std::string>* problems = nullptr);

} // namespace corvex::virtualinstrument
