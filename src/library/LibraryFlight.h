#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvex::library {

// Which computation made a flight's stored figures and scores. Raised when take-off,
// landing, the other figures or a contest score come out differently (a better
// solver, a fixed detection); the background pass then computes again what an older
// one made, the figures from the file and the scores of every rule set.
constexpr int figuresVersion = 1;

// The rule set whose score the library's table shows when the preferences name none.
inline constexpr const char* defaultContestRuleSet = "xcontest";

// One flight as the index keeps it: the figures computed once when its file came in,
// and where that file is. The IGC file is the truth; every field here can be made
// again from it (see FlightLibrary::rebuild).
struct LibraryFlight {
    std::int64_t id { 0 };
    std::string file; // relative to the library folder, '/' separated
    std::string sha256; // of the file's bytes
    std::int64_t size { 0 };
    // The recorder as its A record names it (manufacturer and id), for telling a flight
    // imported twice from the same logger.
    std::string logger;
    // The instrument's serial (hexadecimal) for a flight synced from a Corvex Vario,
    // empty for an imported one.
    std::string serial;
    // The instrument's own take-off minute (minutes since 2000-01-01, as its log book
    // gives it), for flights synced from it: what a later sync compares its list with.
    std::optional<std::int64_t> logBookMinute;
    std::int64_t takeoff { 0 }; // UTC, seconds since 1970
    std::int64_t landing { 0 };
    std::int64_t durationSeconds { 0 };
    double takeoffLatitude { 0 }, takeoffLongitude { 0 };
    double landingLatitude { 0 }, landingLongitude { 0 };
    std::optional<int> maxPressureAltitude, minPressureAltitude;
    std::optional<int> maxGnssAltitude, minGnssAltitude;
    double bestClimb { 0 }; // m/s over 20 s
    double bestSink { 0 }; // m/s over 20 s, negative
    double trackMetres { 0 };
    double distanceMetres { 0 }; // take-off to landing
    std::string pilot;
    std::string glider;
    std::int64_t fixes { 0 };
    std::int64_t added { 0 }; // when it came into the library, UTC seconds
    int figuresMadeBy { figuresVersion }; // the figuresVersion that computed the figures above

    // The contest score under the index's listed rule set (FlightIndex::setListedRuleSet,
    // the first of the pilot's), filled after the flight came in (it takes up to a second
    // on a long flight). Nothing in points until then, and for a flight that has none;
    // scorerVersion is the figuresVersion that made it, so that a better solver scores
    // again what an older one made. The index's `scores` table holds the other rule sets.
    std::optional<double> scorePoints;
    std::string scoreType; // contestTypeName: "free_flight", "fai_triangle"...
    std::optional<double> scoreDistanceMetres;
    std::optional<int> scorerVersion;
    std::string scoreRuleSet; // the id of the rule set the score is under ("xcontest")

    // The serial for a synced flight, else the logger.
    const std::string& instrument() const { return serial.empty() ? logger : serial; }
    // The highest altitude the flight has: pressure where the recorder has a sensor.
    std::optional<int> maxAltitude() const { return maxPressureAltitude ? maxPressureAltitude : maxGnssAltitude; }
    int year() const;
};

// What the table and `corvex library list` narrow the flights to.
struct FlightFilter {
    std::optional<int> year;
    std::optional<std::string> glider; // exact
    std::string text; // in the pilot, glider, instrument or file name; empty: any
};

// Flights, hours and kilometres of a group (a year, a glider).
struct FlightTotals {
    std::string key;
    std::int64_t flights { 0 };
    std::int64_t seconds { 0 };
    double trackMetres { 0 };
    double points { 0 }; // of the flights scored so far
    std::int64_t scored { 0 }; // how many flights of the group have a score
};

} // namespace corvex::library
