#pragma once

#include "analysis/FlightDebrief.h"
#include "base/Result.h"
#include "flights/ContestRules.h"
#include "flights/ContestScore.h"
#include "flights/IgcFlight.h"
#include "platform/OperationContext.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Flights for a globe: a KMZ (a zip holding doc.kml, KML 2.2 with the gx extensions,
// and the climb legend as legend.png) with, per flight, a folder of
//  - the track as a gx:Track (a time and a place for every fix, as writeKml writes it:
//    the globe's time slider moves along it and GPSBabel reads every fix back), in the
//    flight's colour;
//  - "Climb": the track in 3D at its altitude, extruded to the ground, one LineString
//    per run of fixes in one climb step (base/ClimbSteps.h, the map's steps), each
//    step a shared style. Shown for a single flight; a comparison starts with it
//    hidden, so that each flight is told by its own colour, and the pilot switches on
//    the climb of the one he looks at;
//  - the contest legs and turnpoints when it was scored;
//  - the debrief's thermals at their centre and top, with their figures;
//  - take-off and landing;
//  - a tour that flies the track: a view of the glider every 30 s of flight (60 s past
//    two hours), sped up so that the tour lasts three minutes.
// Heights are the track file's (GNSS, else pressure); the thermals' figures are the
// debrief's own. Pure except saveKmz and readKmzFlight, the file edges.
namespace corvex::analysis {

struct KmzColour {
    std::uint8_t red { 0xd0 }, green { 0x20 }, blue { 0xd0 };
};

struct KmzFlight {
    flights::IgcFlight flight;
    flights::FlightFigures figures; // take-off and landing, and the stretch flown
    std::optional<flights::ContestScore> score;
    std::optional<FlightDebrief> debrief;
    std::string name; // pilot, glider and date; defaultTrackName when empty
    KmzColour colour;
};

struct KmzOptions {
    std::string name; // the document's; the first flight's name when empty
    std::string creator; // "Corvex Vario 0.1.0", in the document's description
    std::string legendPng; // the climb legend's image; no overlay when empty
};

// The doc.kml of the flights, in the order given.
std::string kmzDocument(std::span<const KmzFlight> flights, const KmzOptions& options);

// The KMZ's bytes: doc.kml first (where globes look), then legend.png when given.
Result<std::string, std::string> writeKmz(std::span<const KmzFlight> flights, const KmzOptions& options);

// Writes the KMZ to path through a temporary file beside it, so that a failed export
// leaves no half file under the name; "cannot write PATH" when it cannot.
Result<void, std::string> saveKmz(std::span<const KmzFlight> flights, const KmzOptions& options, const std::string& path);

// A flight of an IGC file with what the KMZ shows of it: flight `part` of the file
// (computeFlights), its debrief and, when rules are given, its score under them over
// the part of the track `wanted` (scoreFlight). The score is left out when it was
// cancelled. The text says why the file cannot be read.
Result<KmzFlight, std::string> readKmzFlight(const std::string& igcPath, std::size_t part,
    const flights::ContestRuleSet* rules, std::optional<flights::ScoredTrack> wanted = std::nullopt,
    const CancelToken* cancel = nullptr);

// Distinct colours for the flights of a comparison, in order (repeating past the last).
KmzColour kmzFlightColour(std::size_t index);

} // namespace corvex::analysis
