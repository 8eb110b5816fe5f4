#include "flights/FlightExport.h"

#include "export/ExportFiles.h"

#include <cstdio>

namespace corvex::flights {

namespace {

std::string igcCopy(std::string_view igcText, const IgcFlight&, const TrackFileOptions&) { return std::string(igcText); }
std::string kmlTrack(std::string_view, const IgcFlight& flight, const TrackFileOptions& options) { return writeKml(flight, options); }
std::string gpxTrack(std::string_view, const IgcFlight& flight, const TrackFileOptions& options) { return writeGpx(flight, options); }

constexpr FlightFileFormat formats[] = {
    { "igc", "IGC files", "igc", igcCopy },
    { "kml", "KML files", "kml", kmlTrack },
    { "gpx", "GPX files", "gpx", gpxTrack },
};

} // namespace

std::span<const FlightFileFormat> flightFileFormats() { return formats; }

const FlightFileFormat* findFlightFileFormat(std::string_view id)
{
    for (const FlightFileFormat& format : formats)
        if (format.id == id)
            return &format;
    return nullptr;
}

Result<void, FlightExportError> exportFlight(
    const std::string& igcPath, std::string_view formatId, const std::string& outPath, const TrackFileOptions& options)
{
    using Kind = FlightExportError::Kind;
    const FlightFileFormat* format = findFlightFileFormat(formatId);
    if (!format)
        return Failure { FlightExportError { Kind::UnknownFormat, "no export format " + std::string(formatId) } };
    const auto text = readIgcText(igcPath);
    if (!text)
        return Failure { FlightExportError { Kind::Unreadable, text.error() } };
    const auto flight = parseIgc(*text);
    if (!flight)
        return Failure { FlightExportError { Kind::Unreadable, igcPath + ": " + flight.error() } };
    const std::string bytes = format->write(*text, *flight, options);

    // A new file of its own beside the target, never a name that is there already, and
    // only whole in place.
    const auto temporary = writeTemporaryFile(outPath + ".XXXXXX", bytes);
    if (!temporary || std::rename(temporary->c_str(), outPath.c_str()) != 0) {
        if (temporary)
            std::remove(temporary->c_str());
        return Failure { FlightExportError { Kind::NotWritten, "cannot write " + outPath } };
    }
    return {};
}

} // namespace corvex::flights
