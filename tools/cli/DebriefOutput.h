#pragma once

#include "LibraryAccess.h"

#include "analysis/FlightDebrief.h"
#include "base/Units.h"

#include <cstdint>
#include <optional>
#include <string>

// What the commands that show a debrief (debrief, compare) write alike: the clock, the
// times and the totals' JSON.
namespace corvex::cli {

// The text's units and clock: textChoice's, with the take-off's offset unless UTC.
struct DebriefText {
    UnitSystem units { UnitSystem::Metric };
    std::optional<int> offsetMinutes; // nothing: UTC
};

// "13:46:02" on the text's clock.
std::string clockText(std::int64_t utc, const DebriefText& choice);
// "12:05": minutes and seconds.
std::string durationText(std::int64_t seconds);
// "34 %" of a share 0..1.
std::string percent(double share);
// "local (UTC+02:00)" or "UTC".
std::string clockName(const DebriefText& choice);

// The debrief's totals as `debrief --json` writes them under "totals".
Json totalsJson(const analysis::DebriefTotals& totals);

} // namespace corvex::cli
