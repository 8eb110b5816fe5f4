#pragma once

// Flights made to order for the debrief's tests and the bench: a script of standing on
// the ground, glides, thermals and S-turns, flown through a wind that drifts
// everything, logged every second or every five with seeded GPS noise and altitude
// spikes, written as IGC text. What was flown is kept beside it, so that a test
// compares what the debrief finds with what was made.

#include "flights/IgcFlight.h"

#include <cstdint>
#include <string>
#include <vector>

namespace corvex::testing {

struct SyntheticFlight {
    enum class Kind { Ground, Glide, Thermal, STurns };
    struct Segment {
        Kind kind { Kind::Glide };
        double seconds { 0 }; // Ground, Glide, STurns; a thermal lasts its turns
        double airspeedKmh { 36 };
        double varioMs { -1 }; // sink negative, a thermal's climb positive
        double courseDegrees { 0 }; // Glide, STurns: the heading flown through the air
        double circleSeconds { 25 }; // Thermal
        // Thermal: full circles (a fraction is a part circle), and then on round to the
        // next glide's course.
        double turns { 4 };
        bool right { true }; // Thermal
        double sTurnDegrees { 90 }; // STurns: the swing to each side of the course
        double sTurnPeriodSeconds { 20 }; // STurns: a swing left and back right
    };
    struct Spike {
        double atSeconds { 0 }; // from the start of the log
        double seconds { 3 };
        double metres { 500 };
    };

    // The script. Start and end the log on the ground so that take-off and landing
    // are seen.
    std::vector<Segment> segments;
    double windKmh { 0 };
    double windFromDegrees { 0 };
    int logSeconds { 1 };
    double gpsNoiseMetres { 0 }; // standard deviation, each axis, each fix
    std::uint32_t seed { 1 };
    std::vector<Spike> spikes; // added to the pressure and the GNSS altitude
    bool pressureSensor { true }; // false: the pressure altitude is written as 0
    double startLatitude { 46.5 }, startLongitude { 7.5 };
    double startAltitude { 1500 };
    std::int64_t startTime { 1719820800 + 10 * 3600 }; // 1 July 2024, 18:00 UTC

    SyntheticFlight& ground(double seconds);
    SyntheticFlight& glide(double seconds, double courseDegrees, double airspeedKmh = 36, double sinkMs = 1.1);
    SyntheticFlight& thermal(double turns, double climbMs, bool right = true, double circleSeconds = 25, double airspeedKmh = 36);
    SyntheticFlight& sTurns(double seconds, double courseDegrees, double swingDegrees = 90, double periodSeconds = 20);

    // What was flown: each segment's start and end on the log's clock (UTC seconds) and
    // altitudes.
    struct Flown {
        Kind kind;
        std::int64_t startTime, endTime;
        double startAltitude, endAltitude;
        double groundMetres; // along the way flown
    };
    std::vector<Flown> flown() const;

    std::string igcText() const;
    flights::IgcFlight flight() const; // igcText() read back
};

} // namespace corvex::testing
