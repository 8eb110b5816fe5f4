#pragma once

#include "IgcReader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvex::virtualinstrument {

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
    IgcFile igc;
    LogBookEntry entry;
};

// The log-book entry of a recorded flight. Vertical and ground speeds are taken over
// spans of at least ten seconds, as a recorder's averaging vario would; temperatures
// follow the standard atmosphere at the lowest and highest altitude, since IGC files
// carry none; the wind speed stays 0 for the same reason.
LogBookEntry summarizeFlight(const IgcFile& igc, std::uint16_t flightNumber);

// One flight per IGC file (*.igc, *.IGC) of the folder, sorted by file name, numbered
// from 1 in that order, so a flight keeps its number while the folder stays the same.
// Files that hold no fix are left out (and do not take a number).
std::vector<Flight> loadFlights(const std::string& folder, std::vector<std::string>* problems = nullptr);

} // namespace corvex::virtualinstrument
