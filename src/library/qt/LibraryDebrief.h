#pragma once

#include "library/FlightScores.h"

// The debrief the library stores with each flight. Here rather than in the library's
// core, which never includes the analysis (it checks airspaces the library knows
// nothing of): every program that runs the background pass links this layer.
namespace corvex::library {

// The totals the index keeps of the flight's debrief between the figures' take-off and
// landing; nothing for a flight without an airborne stretch to analyse.
std::optional<StoredDebrief> storedDebrief(const flights::IgcFlight& flight, const flights::FlightFigures& figures);

// For ScoreFillOptions::debrief.
inline DebriefMaker libraryDebriefMaker() { return &storedDebrief; }

} // namespace corvex::library
