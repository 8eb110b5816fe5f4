#pragma once

#include "flights/IgcFlight.h"

#include <vector>

namespace corvex::flights {

// One altitude series of a flight with what no glider does taken out (the rule
// computeFigures states: faster than 10 m/s up or 30 m/s down beyond 20 m of noise).
// `excursion` marks the fixes between such a jump and the jump back that ends it
// within a minute: altitudes the glider never was at. `level` is the altitude of every
// fix with each remaining implausible step taken out from there on, an excursion's
// fixes holding the level before it: its differences are what the glider climbed or
// sank. Pressure altitude from every fix; GNSS altitude from valid fixes (from all when
// none is valid), the others 0.
struct CleanAltitude {
    std::vector<int> level;
    std::vector<bool> excursion;
};
CleanAltitude cleanAltitude(const std::vector<IgcFix>& fixes, bool pressure);

} // namespace corvex::flights
