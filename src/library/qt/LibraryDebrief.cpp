#include "library/qt/LibraryDebrief.h"

#include "analysis/FlightDebrief.h"

namespace corvex::library {

std::optional<StoredDebrief> storedDebrief(const flights::IgcFlight& flight, const flights::FlightFigures& figures)
{
    if (!figures.movementDetected || figures.landingIndex <= figures.takeoffIndex || figures.landingIndex >= flight.fixes.size())
        return std::nullopt;
    const analysis::FlightDebrief debrief = analysis::debriefFlight(flight, figures);
    const analysis::DebriefTotals& totals = debrief.totals;
    StoredDebrief stored;
    stored.thermals = totals.thermals;
    stored.failedAttempts = totals.failedAttempts;
    stored.avgClimbMs = totals.avgClimbMs;
    stored.circlingShare = totals.circlingShare;
    stored.leftShare = totals.leftShare;
    stored.heightGainedMetres = totals.heightGainedMetres;
    stored.avgGlideRatio = totals.avgGlideRatio;
    stored.altitudeSource = debrief.altitudeSource;
    return stored;
}

} // namespace corvex::library
