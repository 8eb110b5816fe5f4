#pragma once

#include "base/Result.h"
#include "flights/IgcFlight.h"

#include <pugixml.hpp>

#include <chrono>
#include <span>
#include <string>
#include <string_view>

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

// The altitude a track file gives its fixes: GNSS when the recorder logged any, else
// pressure, else none (every fix on the ground).
enum class TrackAltitude { Gnss, Pressure, None };
TrackAltitude trackAltitudeOf(const IgcFlight& flight);
int fixAltitude(const IgcFix& fix, TrackAltitude source); // 0 for None

// "lon<separator>lat<separator>alt": KML's LineString and Point take ',', gx:coord ' '.
// The degrees come straight from the B record with seven decimals.
std::string kmlCoordinate(const IgcFix& fix, TrackAltitude source, char separator);
// "2016-05-04T08:10:42Z"
std::string kmlTime(std::int64_t time);

// A gx:Track of every fix (an altitudeMode, a <when> per fix, then a <gx:coord> per
// fix) appended to a placemark: what writeKml writes and GPSBabel reads back.
void appendKmlTrack(pugi::xml_node placemark, const IgcFlight& flight);

// "2016-05-04 Jane Doe, ASG 29": what a track is called when the caller names none.
std::string defaultTrackName(const IgcFlight& flight);

// The files a library flight is exported as, for the library window's menu and save
// panel and for `corvex library export --format`.
struct FlightFileFormat {
    std::string_view id; // "igc", "kml", "gpx": what --format takes
    std::string_view title; // "IGC files": the save panel's filter names them so
    std::string_view extension; // without the dot
    // The exported file's bytes from the IGC file's text and its reading.
    std::string (*write)(std::string_view igcText, const IgcFlight& flight, const TrackFileOptions& options);
};
std::span<const FlightFileFormat> flightFileFormats();
// Nothing for an id not in the table.
const FlightFileFormat* findFlightFileFormat(std::string_view id);

struct FlightExportError {
    enum class Kind { UnknownFormat, Unreadable, NotWritten };
    Kind kind;
    std::string message; // names the file
};

// Reads the IGC file (refused when it is no flight, even for a copy) and writes it in
// the format to outPath through a temporary file beside it, so that a failed export
// never leaves half a file under the name.
Result<void, FlightExportError> exportFlight(
    const std::string& igcPath, std::string_view formatId, const std::string& outPath, const TrackFileOptions& options);

} // namespace corvex::flights
