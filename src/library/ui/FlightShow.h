#pragma once

#include "base/Units.h"
#include "flights/IgcFlight.h"
#include "map/MapTrack.h"

#include <QString>

#include <memory>

// What the flight view and the comparison window show of a flight alike: its track as
// the map draws it, and the signed figures of its climbs.
namespace corvex::library {

// The track in pressure altitude when the recorder has a sensor (it writes 0 without),
// else in GNSS altitude; pressure says which. Each fix's climb is taken over a few
// seconds, so that one noisy fix does not paint a thermal.
std::shared_ptr<TrackPoints> flightTrack(const flights::IgcFlight& igc, bool& pressure);

// "+1.2 m/s", "+236 ft/min": a climb or a sink with its sign.
QString varioText(double metresPerSecond, UnitSystem units);
// "+640 m", "-40 ft": a height won or lost with its sign.
QString signedAltitudeText(double metres, UnitSystem units);

} // namespace corvex::library
