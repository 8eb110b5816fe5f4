#pragma once

#include "flights/IgcFlight.h"

#include <chrono>
#include <string>

// A parsed flight as a GPS track for other programs: GPX 1.1 and KML 2.2 with the
// track over time. Pure: the program's name and the moment of writing come in.
namespace corvex::flights {

struct TrackFileOptions {
    std::string creator; // the program that writes, "Corvex Vario 0.1.0"
    std::string name; // the track's name; the date, pilot and glider when empty
    std::chrono::system_clock::time_point writtenAt; // GPX metadata time
};

// One track of one segment with a point for every fix, 'V' fixes marked 2d. Elevation
// is the GNSS altitude, or the pressure altitude when the recorder logged no GNSS
// altitude; none when it logged neither.
std::string writeGpx(const IgcFlight& flight, const TrackFileOptions& options);

// One placemark with a gx:Track: a time and a position (longitude, latitude, absolute
// altitude chosen as for GPX) for every fix.
std::string writeKml(const IgcFlight& flight, const TrackFileOptions& options);

// "2016-05-04 Jane Doe, ASG 29": what a track is called when the caller names none.
std::string defaultTrackName(const IgcFlight& flight);

} // namespace corvex::flights
