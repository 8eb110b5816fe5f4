#pragma once

#include "base/Result.h"
#include "geo/GeoPoint.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// An IGC flight-recorder file as the flight library sees it: the recorder, the date,
// the headers, every fix with its time on one continuous UTC clock, and the figures a
// flight list shows. Pure functions over texts; readIgcFile is the one file edge.
namespace corvex::flights {

// A calendar day (proleptic Gregorian, UTC).
struct IgcDate {
    int year { 1970 };
    int month { 1 };
    int day { 1 };

    std::int64_t daysSinceEpoch() const; // 1970-01-01 is 0
    static IgcDate fromDaysSinceEpoch(std::int64_t days);
    static IgcDate ofTime(std::int64_t secondsSinceEpoch); // the UTC day of a moment
    bool operator==(const IgcDate&) const = default;
};

struct IgcFix {
    std::int64_t time { 0 }; // seconds since 1970-01-01 UTC; date from HFDTE, continuous over midnight
    double latitude { 0 }; // degrees, signed (south negative)
    double longitude { 0 }; // degrees, signed (west negative)
    int pressureAltitude { 0 }; // metres
    int gnssAltitude { 0 }; // metres
    bool valid { true }; // 'A' 3D fix, 'V' not
    // The position exactly as the B record wrote it: signed minutes × 10000, the
    // thousandths of the record and the first LAD/LOD digit where the I record names
    // one. latitude and longitude are these over 600000.
    std::int32_t rawLatitude { 0 };
    std::int32_t rawLongitude { 0 };

    int secondOfDay() const; // 0..86399, UTC
};

struct IgcLineProblem {
    std::size_t line { 0 }; // counted from 1
    std::string message;
};

// A field that the I record (for B records) or the J record (for K records) adds:
// where it sits in the record, counted from 0, and its three-letter code.
struct IgcExtension {
    std::string code;
    std::size_t start { 0 };
    std::size_t length { 0 };
};

struct IgcHeader {
    char source { 'F' }; // 'F' the recorder, 'O' the pilot or an official, 'P' older files
    std::string code; // "PLT", "GTY", "DTE", ...
    std::string value; // after the first ':' or else after the code, blanks trimmed, UTF-8
};

struct IgcEvent { // an E record
    std::int64_t time { 0 }; // on the fixes' clock
    std::string code; // "PEV", "FLY", ...
    std::string text; // what follows the code
};

struct IgcRecord { // a record kept as it was written (C, D, F, K, ...)
    std::size_t line { 0 };
    std::string text; // the whole line without its line end
};

struct IgcFlight {
    std::string loggerId; // the A record after 'A', trailing blanks removed (manufacturer + serial...)
    std::optional<int> year, month, day; // from HFDTE (HFDTEddmmyy or HFDTEDATE:ddmmyy,nn)
    std::vector<IgcFix> fixes;
    std::vector<IgcLineProblem> problems; // bad lines, skipped
    std::vector<IgcHeader> headers; // in file order
    std::vector<IgcExtension> fixExtensions; // I record
    std::vector<IgcExtension> kExtensions; // J record
    std::vector<IgcEvent> events; // E records
    std::vector<std::string> comments; // L records, the text after 'L'
    std::vector<std::string> securityLines; // G records, the text after 'G'
    std::vector<IgcRecord> otherRecords; // C (task), D, F, K, in file order
    // The numeric value of each I-record extension for each fix: fixes.size() rows of
    // fixExtensions.size() values; noExtensionValue where the field is missing or not a
    // number. Read it through fixExtensionValue.
    std::vector<std::int32_t> fixExtensionValues;
    static constexpr std::int32_t noExtensionValue = INT32_MIN;

    // The value of the header with this code; an 'F' header wins over one from another
    // source. Nothing when the file has no such header.
    std::optional<std::string> headerValue(std::string_view threeLetterCode) const;
    std::string pilot() const; // HFPLT, empty when absent
    std::string glider() const; // HFGTY, empty when absent
    std::optional<IgcDate> date() const; // year, month and day together
    std::optional<std::int32_t> fixExtensionValue(std::size_t fixIndex, std::string_view code) const;
};

// The flight in an IGC text: CR LF, LF or CR line ends. A line that does not read is
// reported in `problems` and skipped. The error says why the text is no IGC file at
// all: binary data, no A record, no fix.
Result<IgcFlight, std::string> parseIgc(std::string_view text);
// The same from a file; the error names the file.
Result<IgcFlight, std::string> readIgcFile(const std::string& path);
// The bytes of a file that may hold a flight (a regular file of at most 64 MiB,
// FileKind::IgcFlight), for callers that keep the text beside the flight; the error
// names the file.
Result<std::string, std::string> readIgcText(const std::string& path);

// A flight's places and their distances on WGS84 speak the program's one vocabulary.
using corvex::GeoPoint;
using geo::geodesicDistanceMetres;

struct FlightFigures {
    std::int64_t takeoffTime { 0 }, landingTime { 0 }; // UTC seconds since epoch
    GeoPoint takeoff, landing;
    std::int64_t durationSeconds { 0 };
    std::optional<int> maxPressureAltitude, minPressureAltitude, maxGnssAltitude, minGnssAltitude;
    double bestClimb { 0 }, bestSink { 0 }; // m/s, best 20-second averages (sink negative)
    double trackLengthMetres { 0 }; // sum of leg lengths, WGS84 (GeographicLib)
    double takeoffToLandingMetres { 0 }; // WGS84
    std::string pilot, glider, instrument; // instrument: loggerId
    // Where the figures above start and end in flight.fixes (inclusive); both 0 for a
    // flight without fixes.
    std::size_t takeoffIndex { 0 }, landingIndex { 0 };
    // Whether take-off and landing were seen as movement; false when the fixes never
    // move for long (a ground test, a few fixes) and the first and last valid fix
    // stand for them.
    bool movementDetected { false };
    // Where the altitude figures come from: "pressure" when the recorder has a sensor,
    // else "gnss".
    std::string altitudeSource;
};

// Take-off is where the recorder starts to move faster than anyone walks or runs: a
// ground speed of 5 m/s or a climb or sink of 1.5 m/s, over spans of 10 s, kept up for
// a minute; landing is where the last such movement ends. Walking (a hike up to the
// launch too), a launch run and GPS jitter on the ground stay below that, so the time
// a recorder logs before launch and after landing is left out of the duration, the
// track length and the altitude figures; the first and last fix would count it. A
// drive with the recorder still on counts as flight: the file cannot tell them apart.
// Only valid ('A') fixes place the flight. Altitude figures cover take-off to
// landing; pressure figures are nothing when the recorder has no pressure sensor (it
// writes 0 throughout), GNSS figures likewise.
//
// What no glider does is left out before any figure: an altitude change between two
// fixes faster than 10 m/s up or 30 m/s down (a strong thermal gives 10, a spiral dive
// 20 and more), beyond 20 m of noise, does not count as climb or sink; the fixes between
// such a jump and the jump back within a minute count in neither the highest nor the
// lowest altitude; a fix reached faster than 100 m/s (beyond 100 m of noise) that the
// track comes back from within a minute places nothing.
//
// This is the first flight of the file (computeFlights).
FlightFigures computeFigures(const IgcFlight& flight);

// Each flight of the file, in time order: one for an ordinary file, several where the
// recorder stayed on through a landing and a relaunch. Each has the figures of its own
// take-off to landing. A landing ends a flight when the recorder then stays at least 5
// minutes without flight movement (the take-off rule above), covering no more ground
// than a walk (2.5 m/s, measured over 5-second steps; a gap in the recording counts
// as standing), and its altitude when it moves again is within 0.5 m/s × that time of
// the altitude it landed at: a top-landing of a few minutes and a relaunch are two
// flights; a slow glide (a metre a second down), a thermal, and circling in zero lift
// (a paraglider's 7 m/s and more of airspeed) are none. A glider hanging still in the
// air for 5 minutes (soaring into a wind as strong as its speed) cannot be told from
// one on the ground, nor a drive with the recorder on from a flight.
std::vector<FlightFigures> computeFlights(const IgcFlight& flight);

} // namespace corvex::flights
