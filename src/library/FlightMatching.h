#pragma once

#include "flights/IgcFlight.h"

#include <cstdint>
#include <string_view>

// The rules that tell two files of one flight apart from two flights: a copy of the
// same logger's recording that holds more of it, and a second logger that flew the same
// flight. Pure functions over parsed files, so that an import and a rebuild that meet
// the files in another order come to the same answer.
namespace corvex::library {

// What the comparisons need of one flight of a file.
struct RecordingFacts {
    std::int64_t takeoff { 0 }, landing { 0 }; // of this flight of the file
    std::int64_t firstFix { 0 }, lastFix { 0 }; // of the whole file
    std::int64_t fixes { 0 }; // of the whole file
    std::int64_t fixesInFlight { 0 }; // from take-off to landing
    bool pressure { false }; // the altitudes come from a pressure sensor
    bool signedFile { false }; // the file carries a G record
};

RecordingFacts recordingFacts(const flights::IgcFlight& igc, std::int64_t takeoff, std::int64_t landing, bool pressure);

// Whether a copy of one logger's recording holds more of it than the one kept: a longer
// stretch of time, then more fixes, then a G record where the kept one has none. A copy
// that is equal on all three holds nothing more (the same flight again).
bool holdsMore(const RecordingFacts& copy, const RecordingFacts& kept);

// Of two loggers' recordings of one flight, which one the library shows: pressure
// altitude, then more fixes in flight, then a G record. Positive when `a` is better,
// negative when `b` is, 0 when the rule cannot tell them apart.
int compareRecordings(const RecordingFacts& a, const RecordingFacts& b);

// The same pilot, or a file that names none.
bool samePilot(std::string_view a, std::string_view b);

// Whether most of the shorter one's airborne time is airborne time of the other too.
bool mostlyOverlapping(std::int64_t takeoffA, std::int64_t landingA, std::int64_t takeoffB, std::int64_t landingB);

// Whether both files were in the same place at the same times from `from` to `to`:
// for most of the fixes of `a` in that stretch, the fix of `b` nearest in time lies
// within a kilometre. Two pilots who fly together now and then stay apart for the rest.
bool sameTrack(const flights::IgcFlight& a, const flights::IgcFlight& b, std::int64_t from, std::int64_t to);

} // namespace corvex::library
