#pragma once

#include "base/Result.h"
#include "flights/IgcFlight.h"

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
