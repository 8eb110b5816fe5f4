#pragma once

#include "flights/IgcFlight.h"
#include "library/FlightIndex.h"
#include "platform/OperationContext.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvex::library {

// The figures of the record from the IGC file it was read from (take-off, landing,
// altitudes, lengths, pilot, glider, fixes), stamped with figuresVersion.
void fillFigures(LibraryFlight& flight, const flights::IgcFlight& igc, const flights::FlightFigures& figures);

// The rule sets a preference names, comma or space separated ("xcontest, ffvl"), in
// its order, each once, in lower case; defaultContestRuleSet when it names none.
std::vector<std::string> contestRuleSetList(std::string_view preference);

// The name people know a rule set by ("XContest"); the id itself when no row has it.
std::string contestRuleSetName(const std::string& ruleSet);

// Whether the library can score under the rule set with this id ("xcontest").
bool isKnownRuleSet(const std::string& ruleSet);
// The score of flight `part` of the file (computeFlights) under a known rule set, as
// the index keeps it, over the part of the track the rule set scores when the pilot
// asks for `scoredTrack` ("", "flight", "whole"; see LibraryFlight::scoredTrack), with
// that part's times in from and to: a score without points when the flight has none.
StoredScore scoreUnderRuleSet(
    const flights::IgcFlight& flight, const std::string& ruleSet, int part = 0, const std::string& scoredTrack = {});

// The debrief totals of a flight between its figures' take-off and landing; nothing
// when it has none to give. The analysis lives above the library's core, so the
// programs hand it in (library/qt/LibraryDebrief.h).
using DebriefMaker = std::function<std::optional<StoredDebrief>(const flights::IgcFlight&, const flights::FlightFigures&)>;

struct ScoreFillOptions {
    // The rule sets to score under, the pilot's as the preferences name them; empty:
    // defaultContestRuleSet. Ids the library does not know are left out.
    std::vector<std::string> ruleSets;
    // After each flight, on the calling thread.
    std::function<void(std::size_t done, std::size_t total)> progress;
    // Flights scored at once; 0: one per processor.
    unsigned threads { 0 };
    // After each batch of scores is written, with how many flights there were.
    std::function<void(std::size_t written)> recorded;
    // Analyses the flights without a debrief of debriefVersion too (and every flight
    // whose figures are made again); none: the debriefs are left as they are. Runs on
    // the workers.
    DebriefMaker debrief;
};

struct ScoreFillOutcome {
    std::size_t total { 0 }; // flights that lacked current figures or a score
    std::size_t scored { 0 }; // written, with or without points
    std::size_t refigured { 0 }; // of them, the flights whose figures were computed again
    std::size_t debriefed { 0 }; // of them, the flights analysed (a debrief or "nothing" stored)
    std::size_t unreadable { 0 }; // left for a later pass
    // Scored but not written: another connection held the index's write lock past its
    // wait to the end. Left for a later pass.
    std::size_t unwritten { 0 };
    bool cancelled { false };
};

// Brings every flight of the index up to figuresVersion, the files found under
// `folder`: the figures of an older version computed again, a score under each rule
// set that has none of this version, and with options.debrief a debrief of
// debriefVersion. The work runs on worker threads; the index
// is written only from the calling thread, in short transactions, so a window reading
// the same file through another connection is never held up for long. The context's
// cancel stops it between flights. Fails only when the index cannot say which flights
// need it.
LibraryResult<ScoreFillOutcome> fillScores(
    FlightIndex& index, const std::string& folder, const OperationContext& context, const ScoreFillOptions& options = {});

} // namespace corvex::library
