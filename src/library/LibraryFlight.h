#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvex::library {

// Which computation made a flight's stored figures and scores. Raised when take-off,
// landing, the other figures or a contest score come out differently (a better
// solver, a fixed detection); the background pass then computes again what an older
// one made, the figures from the file and the scores of every rule set.
// 2: altitude and position jumps no glider makes left out, a file split into its
// flights at a landing, scores over the part of the track each contest scores.
constexpr int figuresVersion = 2;

// Which computation made a flight's stored debrief totals (thermals, glides). Kept
// apart from figuresVersion: raising that one re-scores every flight under every rule
// set, a search of up to a second per flight, where the debrief costs milliseconds; a
// better thermal detection raises this one alone, and the background pass analyses the
// flights again without scoring them. New figures are always analysed again with them.
constexpr int debriefVersion = 1;

// A flight's debrief totals as the index keeps them (the library window's columns, the
// year's thermals): the whole debrief is made again from the file when a view wants it.
struct StoredDebrief {
    int thermals { 0 };
    int failedAttempts { 0 };
    double avgClimbMs { 0 }; // over all thermals' time
    double circlingShare { 0 }; // of airborne time, 0..1
    double leftShare { 0 }; // of circling time, 0..1
    double heightGainedMetres { 0 }; // summed over thermals
    std::optional<double> avgGlideRatio;
    std::string altitudeSource; // "pressure" or "gnss"

    // Time spent in thermals, from the gain and the average climb over it.
    double thermalSeconds() const { return avgClimbMs > 0 ? heightGainedMetres / avgClimbMs : 0; }
};

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
    // As the pilot sees them: the pilot's own edit where there is one (gliderEdit,
    // pilotEdit), else what the file names. Figures computed from the file carry the
    // file's.
    std::string pilot;
    std::string glider;
    std::int64_t fixes { 0 };
    // Where the altitude figures (highest, lowest, best climb and sink) come from:
    // "pressure" when the recorder has a sensor, else "gnss".
    std::string altitudeSource;
    std::int64_t added { 0 }; // when it came into the library, UTC seconds
    int figuresMadeBy { figuresVersion }; // the figuresVersion that computed the figures above

    // A file with a landing and a relaunch holds several flights: which of them this is
    // (0 for the first). The file stays whole; each flight has its own row and figures.
    int part { 0 };
    // When this file is a second logger's recording of a flight the library shows
    // under another id (a vario and a phone), that flight's id: it is kept, listed with
    // that flight as "also recorded by", and counted in no total.
    std::optional<std::int64_t> recordingOf;
    // When the pilot removed the flight (UTC seconds): its file waits in the removed
    // folder, and a restore gives it back under the same id.
    std::optional<std::int64_t> removed;

    // The pilot's own words, kept in the library's journal beside the files: the file
    // itself is never changed.
    std::optional<std::string> gliderEdit;
    std::optional<std::string> pilotEdit;
    std::string site; // the take-off site's name
    std::string comment;
    // Which part of the track the pilot has the contests score where a league leaves it
    // to them: "" for the rule set's own choice, "flight" (take-off to landing) or
    // "whole" (the walk before take-off and after landing too).
    std::string scoredTrack;

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

    // The debrief totals, filled by the background pass after the flight came in:
    // nothing until then and for a file that could not be analysed. debriefMadeBy is
    // the debriefVersion that analysed it (nothing: not analysed yet), so that a file
    // without a debrief is not tried again at every pass.
    std::optional<StoredDebrief> debrief;
    std::optional<int> debriefMadeBy;

    // The serial for a synced flight, else the logger.
    const std::string& instrument() const { return serial.empty() ? logger : serial; }
    // The highest altitude the flight has: pressure where the recorder has a sensor.
    std::optional<int> maxAltitude() const { return maxPressureAltitude ? maxPressureAltitude : maxGnssAltitude; }
    int year() const;
};

// What the pilot changes of a flight: each field given is set (an empty text clears
// the edit, so that the file's own value shows again); the others stay.
struct FlightEdit {
    std::optional<std::string> glider;
    std::optional<std::string> pilot;
    std::optional<std::string> site;
    std::optional<std::string> comment;
    std::optional<std::string> scoredTrack; // "", "flight" or "whole"
};

// What `corvex library check` and the window's check find in the folder against the
// index and the journal.
struct CheckFinding {
    enum class Kind {
        FileWithoutRow, // an IGC file the index does not list
        RowWithoutFile, // a flight whose file is gone
        EditWithoutFlight, // the journal names a flight no file holds
        FileChanged, // a file whose bytes are not the ones the index recorded
        Other,
    };
    Kind kind { Kind::Other };
    std::string file; // relative to the library folder, when there is one
    std::int64_t id { 0 }; // the flight, when there is one
    std::string message; // what it is, in a sentence
    bool repaired { false }; // fixed by this check (asked to repair, and possible without losing anything)
};

struct CheckReport {
    std::size_t files { 0 }; // IGC files in the library's folders
    std::size_t flights { 0 }; // flights the index lists
    std::size_t removed { 0 }; // of them, removed and restorable
    std::vector<CheckFinding> findings;
};

// What the table and `corvex library list` narrow the flights to.
struct FlightFilter {
    std::optional<int> year;
    std::optional<std::string> glider; // exact
    std::string text; // in the pilot, glider, site, instrument or file name; empty: any
    // The flights the pilot removed (restorable) instead of the ones shown.
    bool removed { false };
    std::optional<std::string> site {}; // the site the flight shows, in any case
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
