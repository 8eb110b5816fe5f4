// IGC files from outside (the flight library's imports) through the reader, the
// figures, the debrief and the GPX and KML writers. A flight that reads must hold
// together: its figures point at its own fixes in time order, its problems at its own
// lines, its circling phases and glides lie in order between take-off and landing with
// figures that are numbers, and its tracks are UTF-8 without a control character XML
// cannot carry.
#include "analysis/FlightDebrief.h"
#include "base/Utf8.h"
#include "flights/FlightExport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace corvex::flights;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto flight = parseIgc(text);
    if (!flight) {
        if (flight.error().empty())
            std::abort();
        return 0;
    }
    const std::size_t lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'))
        + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\r')) + 1;
    if (flight->fixes.empty() || flight->fixes.size() > lines
        || flight->fixExtensionValues.size() != flight->fixes.size() * flight->fixExtensions.size())
        std::abort();
    for (const IgcLineProblem& problem : flight->problems) {
        if (problem.line == 0 || problem.line > lines)
            std::abort();
    }
    const FlightFigures figures = computeFigures(*flight);
    if (figures.takeoffIndex > figures.landingIndex || figures.landingIndex >= flight->fixes.size()
        || figures.durationSeconds < 0 || !(figures.trackLengthMetres >= 0) || figures.bestClimb < 0 || figures.bestSink > 0)
        std::abort();
    const corvex::analysis::FlightDebrief debrief = corvex::analysis::debriefFlight(*flight, figures);
    const auto inFlight = [&](std::size_t start, std::size_t end) {
        return figures.takeoffIndex <= start && start <= end && end <= figures.landingIndex;
    };
    for (const auto* phases : { &debrief.thermals, &debrief.failedAttempts })
        for (const auto& phase : *phases)
            if (!inFlight(phase.startIndex, phase.endIndex) || !std::isfinite(phase.climbMs) || !std::isfinite(phase.bestClimbMs)
                || phase.leftShare < 0 || phase.leftShare > 1 || (phase.wind && !(phase.wind->confidence >= 0 && phase.wind->confidence <= 1)))
                std::abort();
    for (const auto& glide : debrief.glides)
        if (!inFlight(glide.startIndex, glide.endIndex) || !(glide.distanceMetres >= 0) || !std::isfinite(glide.heightLostMetres))
            std::abort();
    const corvex::analysis::FlightSeries series = corvex::analysis::flightSeries(*flight);
    if (series.vario20Ms.size() != flight->fixes.size() || series.groundSpeedKmh.size() != flight->fixes.size())
        std::abort();
    const TrackFileOptions options { "fuzz", "", {} };
    for (const std::string& track : { writeGpx(*flight, options), writeKml(*flight, options) }) {
        if (!corvex::isValidUtf8(track))
            std::abort();
        if (std::any_of(track.begin(), track.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\n'; }))
            std::abort();
    }
    return 0;
}
