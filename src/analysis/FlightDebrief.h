#pragma once

#include "flights/IgcFlight.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The post-flight debrief: every airborne second of a flight is circling or straight;
// a circling stretch that gains height is a thermal, one that does not a failed
// attempt, and the straight flight between them glides. The wind comes from the drift
// of the circles. Pure: a flight and its figures in, the debrief out; the same
// thresholds for every flight:
// - Heights: the pressure altitude when the recorder has a sensor, else GNSS, with
//   the jumps no glider makes taken out as the flight's figures take them out
//   (flights/AltitudeJumps.h): a spike makes no climb.
// - Heading: the direction of the chord from the fix 2 s before to the fix 2 s after
//   (the neighbours when the log is sparser); it holds while that chord is slower than
//   2 m/s (standing, or hanging in a wind as strong as the airspeed).
// - Turning: a heading change of at least 4°/s (a circle in 90 s or less) over 10 s
//   centred on the fix. A circle is a run of turning one way, joined across gaps of up
//   to 15 s, that turns at least 360° in all; its ends are the first and the last fix
//   where the track itself bends at 4°/s (from the leg before the fix to the leg after
//   it, legs of 2 s or one fix). S-turns and a 180° course change are no circle.
// - A phase's indices and times are those end fixes; its heights and a glide's length
//   and heights run from where the turn began or ended between an end fix and the
//   straight fix beside it: half way on a log of a fix a second; on a sparser one
//   where the bend seen at the straight fix puts it (a turn at rate w begun t before
//   the leg's end bends the leg by w t^2 / (2 leg)), its height carried there from
//   each side's own climb or sink over 10 s.
// - Circles with less than 20 s between them are one circling phase: a thermal when
//   it gained at least 20 m from start to end, else a failed attempt. Its direction is
//   mixed when the minority direction is more than 20 % of its turning.
// - Wind: over each whole circle the airspeed turns once round and cancels, so the
//   drift from the circle's start to its end over its time is the wind; a phase's wind
//   is the mean over its circles, counted from 2 s inside the turn's ends.
//   Confidence = min(1, circles / 4) / (1 + (e / 5 km/h)^2), e the circles' spread
//   (root mean square from the mean) over sqrt(circles - 1); 0.25 for a single circle.
// - Glides: the straight flight between phases (and from take-off, to landing); their
//   length is measured over steps of at least 5 s so that a recorder's noise does not
//   lengthen it; no glide ratio when a glide lost less than 5 m.
namespace corvex::analysis {

enum class CircleDirection { Left, Right, Mixed };

// Where the air moved, from the drift of a thermal's circles.
struct WindEstimate {
    double speedKmh { 0 };
    double fromDegrees { 0 }; // where it blows from, degrees true, 0..360
    // 0..1: how many circles the estimate rests on and how well they agree.
    double confidence { 0 };
    int circles { 0 };
};

// A circling stretch: a thermal when it gained height, a failed attempt when not.
struct CirclingPhase {
    std::size_t startIndex { 0 }, endIndex { 0 }; // into flight.fixes, inclusive
    std::int64_t startTime { 0 }, endTime { 0 }; // UTC seconds since epoch
    double startAltitude { 0 }, endAltitude { 0 }; // metres, in the debrief's altitudeSource
    double gainMetres { 0 }; // end minus start (negative for most failed attempts)
    double climbMs { 0 }; // gain over the time between its ends (see above)
    double bestClimbMs { 0 }; // best 20-second average inside the stretch, at least climbMs
    CircleDirection direction { CircleDirection::Right };
    double leftShare { 0 }; // share of the stretch's turning spent turning left, 0..1
    double circleSeconds { 0 }; // time for one full circle
    int circles { 0 }; // full circles flown
    GeoPoint centre; // mean position, for the map
    std::optional<WindEstimate> wind;

    std::int64_t durationSeconds() const { return endTime - startTime; }
};

struct Glide {
    std::size_t startIndex { 0 }, endIndex { 0 };
    std::int64_t startTime { 0 }, endTime { 0 };
    double distanceMetres { 0 }; // over the ground, start to end along the track
    double speedKmh { 0 }; // average ground speed
    double heightLostMetres { 0 }; // start minus end (negative when it gained)
    // Distance over height lost; nothing when the glide lost no height worth dividing by.
    std::optional<double> glideRatio;
    double varioMs { 0 }; // average vertical speed

    std::int64_t durationSeconds() const { return endTime - startTime; }
};

struct DebriefTotals {
    double circlingShare { 0 }; // of airborne time, 0..1
    double leftShare { 0 }; // of circling time, 0..1
    int thermals { 0 };
    int failedAttempts { 0 };
    double avgClimbMs { 0 }; // over all thermals' time
    double heightGainedMetres { 0 }; // summed over thermals
    double avgGlideSpeedKmh { 0 };
    // Over the glides that lost height: their distance over their height lost.
    std::optional<double> avgGlideRatio;
    double circlingHeightLossShare { 0 }; // share of all height lost that was lost circling
};

// One point of the wind along the flight: a circling phase's wind (thermal or failed
// attempt) at its middle time and its mean height.
struct WindSample {
    std::int64_t time { 0 };
    double altitude { 0 };
    WindEstimate wind;
};

struct FlightDebrief {
    std::string altitudeSource; // "pressure" or "gnss": what every height here is
    std::vector<CirclingPhase> thermals;
    std::vector<CirclingPhase> failedAttempts;
    std::vector<Glide> glides;
    DebriefTotals totals;
    std::vector<WindSample> wind; // in time order
};

// Goes up whenever a threshold or a rule above changes what a debrief says, so that
// one kept with a flight is made again.
inline constexpr int debriefVersion = 1;

// The debrief of the flight between figures.takeoffIndex and figures.landingIndex.
FlightDebrief debriefFlight(const flights::IgcFlight& flight, const flights::FlightFigures& figures);

// Series the barogram draws on the shared cursor, one value per fix of the flight
// (flight.fixes.size()): vertical speed averaged over 20 s (m/s) and ground speed
// (km/h), both with the jumps no glider makes left out.
struct FlightSeries {
    std::vector<double> vario20Ms;
    std::vector<double> groundSpeedKmh;
};
FlightSeries flightSeries(const flights::IgcFlight& flight);

const char* directionName(CircleDirection direction); // "left", "right", "mixed"

} // namespace corvex::analysis
