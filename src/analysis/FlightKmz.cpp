#include "analysis/FlightKmz.h"

#include "base/ClimbSteps.h"
#include "base/Format.h"
#include "base/XmlWriting.h"
#include "export/ExportFiles.h"
#include "flights/FlightExport.h"

#include <zip.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>

namespace corvex::analysis {

namespace {

using flights::IgcFix;
using flights::IgcFlight;
using flights::TrackAltitude;

// The climb a fix is coloured by: over a few seconds, as the map's track, so that one
// noisy fix does not paint a thermal.
constexpr std::int64_t climbWindowSeconds = 8;

// How long the tour lasts, whatever the flight's length.
constexpr double tourSeconds = 180;

// KML's colours are alpha, blue, green, red in hex.
std::string kmlColour(double red, double green, double blue, std::uint8_t alpha)
{
    const auto byte = [](double value) { return static_cast<unsigned>(std::lround(std::clamp(value, 0.0, 1.0) * 255)); };
    return formatString("%02x%02x%02x%02x", unsigned { alpha }, byte(blue), byte(green), byte(red));
}

std::string kmlColour(KmzColour colour, std::uint8_t alpha)
{
    return formatString("%02x%02x%02x%02x", unsigned { alpha }, unsigned { colour.blue }, unsigned { colour.green }, unsigned { colour.red });
}

std::string climbStyleId(std::size_t step) { return formatString("climb-%zu", step); }
std::string flightStyleId(std::size_t flight) { return formatString("flight-%zu", flight + 1); }

void appendText(pugi::xml_node parent, const char* element, std::string_view text)
{
    xml::appendTextElement(parent, element, text);
}

void appendName(pugi::xml_node parent, std::string_view name) { appendText(parent, "name", xml::oneLine(name)); }

std::string degreesText(double value) { return formatString("%.7f", value); }

std::string pointCoordinate(GeoPoint point, double altitude)
{
    return degreesText(point.longitude) + "," + degreesText(point.latitude) + "," + formatString("%.0f", altitude);
}

// "12:34:56"
std::string clockText(std::int64_t time)
{
    std::int64_t second = time % 86400;
    if (second < 0)
        second += 86400;
    return formatString("%02lld:%02lld:%02lld", static_cast<long long>(second / 3600), static_cast<long long>(second / 60 % 60),
        static_cast<long long>(second % 60));
}

// "4:05" minutes and seconds, "1:02:05" past an hour.
std::string durationText(std::int64_t seconds)
{
    seconds = std::max<std::int64_t>(seconds, 0);
    if (seconds >= 3600)
        return formatString("%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
            static_cast<long long>(seconds % 60));
    return formatString("%lld:%02lld", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
}

// The fixes the 3D track and the tour cover: take-off to landing, or every fix when the
// figures saw no flight.
std::pair<std::size_t, std::size_t> flownFixes(const KmzFlight& flight)
{
    const std::size_t count = flight.flight.fixes.size();
    const auto& figures = flight.figures;
    if (count == 0)
        return { 0, 0 };
    if (figures.takeoffIndex < figures.landingIndex && figures.landingIndex < count)
        return { figures.takeoffIndex, figures.landingIndex };
    return { 0, count - 1 };
}

// The climb step of every fix, over the same few seconds the map uses.
std::vector<std::size_t> climbSteps(const IgcFlight& flight, TrackAltitude source)
{
    const auto& fixes = flight.fixes;
    std::vector<std::size_t> steps(fixes.size(), climbStepOf(0));
    std::size_t back = 0;
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        while (back + 1 < i && fixes[i].time - fixes[back + 1].time >= climbWindowSeconds)
            ++back;
        const std::int64_t span = fixes[i].time - fixes[back].time;
        const double climb
            = span > 0 ? (flights::fixAltitude(fixes[i], source) - flights::fixAltitude(fixes[back], source)) / double(span) : 0.0;
        steps[i] = climbStepOf(climb);
    }
    return steps;
}

// Degrees true from one place to another (a short way: the plane of the first).
double bearing(GeoPoint from, GeoPoint to)
{
    const double east = (to.longitude - from.longitude) * std::cos(from.latitude * std::numbers::pi / 180);
    const double north = to.latitude - from.latitude;
    if (east == 0 && north == 0)
        return 0;
    const double degrees = std::atan2(east, north) * 180 / std::numbers::pi;
    return degrees < 0 ? degrees + 360 : degrees;
}

GeoPoint placeOf(const IgcFix& fix) { return { fix.latitude, fix.longitude }; }

// The last fix at or before time (the first when none is).
std::size_t fixAt(const std::vector<IgcFix>& fixes, std::int64_t time)
{
    auto after = std::upper_bound(fixes.begin(), fixes.end(), time, [](std::int64_t t, const IgcFix& fix) { return t < fix.time; });
    return after == fixes.begin() ? 0 : static_cast<std::size_t>(after - fixes.begin() - 1);
}

void appendStyles(pugi::xml_node document, std::span<const KmzFlight> flights)
{
    for (std::size_t step = 0; step < climbStepCount; ++step) {
        const ClimbStepColour colour = climbStepColour(step);
        pugi::xml_node style = document.append_child("Style");
        xml::appendAttribute(style, "id", climbStyleId(step));
        pugi::xml_node line = style.append_child("LineStyle");
        appendText(line, "color", kmlColour(colour.red, colour.green, colour.blue, 0xff));
        appendText(line, "width", "3");
        // The curtain to the ground, see-through so that the track stays the line.
        pugi::xml_node poly = style.append_child("PolyStyle");
        appendText(poly, "color", kmlColour(colour.red, colour.green, colour.blue, 0x50));
    }
    for (std::size_t i = 0; i < flights.size(); ++i) {
        pugi::xml_node style = document.append_child("Style");
        xml::appendAttribute(style, "id", flightStyleId(i));
        pugi::xml_node line = style.append_child("LineStyle");
        appendText(line, "color", kmlColour(flights[i].colour, 0xff));
        // Not thinner than 3: some globes leave out thinner lines at a whole flight's
        // scale.
        appendText(line, "width", "3");
    }
    pugi::xml_node contest = document.append_child("Style");
    xml::appendAttribute(contest, "id", "contest");
    pugi::xml_node line = contest.append_child("LineStyle");
    appendText(line, "color", "ff00d7ff"); // gold
    appendText(line, "width", "3");
}

// The marks keep the globe's own pin and are told apart by their names: a style of a
// point without an icon image of its own (the KMZ carries none) makes some globes drop
// the whole document.
pugi::xml_node appendPointPlacemark(
    pugi::xml_node parent, std::string_view name, const std::string& description, const std::string& coordinate, bool absolute)
{
    pugi::xml_node placemark = parent.append_child("Placemark");
    appendName(placemark, name);
    if (!description.empty())
        appendText(placemark, "description", description);
    pugi::xml_node point = placemark.append_child("Point");
    appendText(point, "altitudeMode", absolute ? "absolute" : "clampToGround");
    appendText(point, "coordinates", coordinate);
    return placemark;
}

// The track in 3D, a LineString per run of one climb step; each run ends on the next
// one's first fix so that the line has no gaps.
void appendClimbTrack(pugi::xml_node folder, const KmzFlight& flight, TrackAltitude source)
{
    const auto& fixes = flight.flight.fixes;
    const auto [first, last] = flownFixes(flight);
    if (fixes.empty() || first >= last)
        return;
    const std::vector<std::size_t> steps = climbSteps(flight.flight, source);
    const bool absolute = source != TrackAltitude::None;
    std::size_t start = first;
    while (start < last) {
        std::size_t end = start + 1;
        while (end < last && steps[end] == steps[start])
            ++end;
        pugi::xml_node placemark = folder.append_child("Placemark");
        appendText(placemark, "styleUrl", "#" + climbStyleId(steps[start]));
        pugi::xml_node line = placemark.append_child("LineString");
        appendText(line, "extrude", absolute ? "1" : "0");
        appendText(line, "altitudeMode", absolute ? "absolute" : "clampToGround");
        std::string coordinates;
        for (std::size_t i = start; i <= end; ++i) {
            if (i > start)
                coordinates += ' ';
            coordinates += flights::kmlCoordinate(fixes[i], source, ',');
        }
        appendText(line, "coordinates", coordinates);
        start = end;
    }
}

// The same track once more as one plain line under the climb runs. Some globes draw no
// gx:Track and leave out every line less than a few pixels across: at the whole flight's
// scale the short runs of one climb colour all vanish, and only this line keeps the
// flight's shape (and a comparison's flights, whose climb runs are hidden) on the map.
void appendTrackLine(pugi::xml_node folder, const KmzFlight& flight, std::size_t index, TrackAltitude source)
{
    const auto& fixes = flight.flight.fixes;
    const auto [first, last] = flownFixes(flight);
    if (fixes.empty() || first >= last)
        return;
    pugi::xml_node placemark = folder.append_child("Placemark");
    appendName(placemark, "Track line");
    appendText(placemark, "styleUrl", "#" + flightStyleId(index));
    pugi::xml_node line = placemark.append_child("LineString");
    appendText(line, "altitudeMode", source != TrackAltitude::None ? "absolute" : "clampToGround");
    std::string coordinates;
    for (std::size_t i = first; i <= last; ++i)
        coordinates += (i > first ? " " : "") + flights::kmlCoordinate(fixes[i], source, ',');
    appendText(line, "coordinates", coordinates);
}

void appendContest(pugi::xml_node parent, const flights::ContestScore& score)
{
    if (score.turnpoints.size() < 2)
        return;
    pugi::xml_node folder = parent.append_child("Folder");
    appendName(folder, formatString("Contest: %.1f km, %.1f points", score.distanceMetres / 1000, score.points));
    const bool triangle = score.type != flights::ContestFlightType::FreeFlight;
    const auto place = [](const flights::ContestPoint& point) { return GeoPoint { point.latitude, point.longitude }; };
    std::vector<GeoPoint> path;
    if (triangle && score.closingStart)
        path.push_back(place(*score.closingStart));
    for (const auto& point : score.turnpoints)
        path.push_back(place(point));
    if (triangle) {
        path.push_back(place(score.turnpoints.front()));
        if (score.closingEnd)
            path.push_back(place(*score.closingEnd));
    }
    pugi::xml_node legs = folder.append_child("Placemark");
    appendName(legs, "Legs");
    appendText(legs, "styleUrl", "#contest");
    pugi::xml_node line = legs.append_child("LineString");
    appendText(line, "tessellate", "1");
    appendText(line, "altitudeMode", "clampToGround");
    std::string coordinates;
    for (const GeoPoint& point : path)
        coordinates += (coordinates.empty() ? "" : " ") + pointCoordinate(point, 0);
    appendText(line, "coordinates", coordinates);
    for (std::size_t i = 0; i < score.turnpoints.size(); ++i) {
        const auto& point = score.turnpoints[i];
        std::string name;
        if (triangle)
            name = formatString("Corner %zu", i + 1);
        else if (i == 0)
            name = "Start";
        else if (i + 1 == score.turnpoints.size())
            name = "Finish";
        else
            name = formatString("Turnpoint %zu", i);
        appendPointPlacemark(folder, name, clockText(point.time) + " UTC", pointCoordinate(place(point), 0), false);
    }
}

std::string thermalDescription(const CirclingPhase& thermal)
{
    std::string text = "Start " + clockText(thermal.startTime) + " UTC\n";
    text += "Duration " + durationText(thermal.durationSeconds()) + "\n";
    text += formatString("Gain %.0f m\n", thermal.gainMetres);
    text += formatString("Climb %.1f m/s\n", thermal.climbMs);
    text += formatString("Best 20 s %.1f m/s\n", thermal.bestClimbMs);
    text += std::string("Direction ") + directionName(thermal.direction) + formatString(", %d circles", thermal.circles);
    if (thermal.wind)
        text += formatString("\nWind %.0f km/h from %.0f°", thermal.wind->speedKmh, thermal.wind->fromDegrees);
    return text;
}

void appendThermals(pugi::xml_node parent, const FlightDebrief& debrief)
{
    if (debrief.thermals.empty())
        return;
    pugi::xml_node folder = parent.append_child("Folder");
    appendName(folder, formatString("Thermals (%zu)", debrief.thermals.size()));
    for (const CirclingPhase& thermal : debrief.thermals) {
        const double top = std::max(thermal.startAltitude, thermal.endAltitude);
        appendPointPlacemark(folder, formatString("%+.1f m/s", thermal.climbMs), thermalDescription(thermal),
            pointCoordinate(thermal.centre, top), true);
    }
}

// Views of the glider from behind and above it, every interval seconds of flight.
void appendTour(pugi::xml_node parent, const KmzFlight& flight, TrackAltitude source)
{
    const auto& fixes = flight.flight.fixes;
    const auto [first, last] = flownFixes(flight);
    if (fixes.empty() || first >= last)
        return;
    const std::int64_t begin = fixes[first].time;
    const std::int64_t end = fixes[last].time;
    const double flown = double(std::max<std::int64_t>(end - begin, 1));
    const std::int64_t interval = flown > 2 * 3600 ? 60 : 30;
    const double duration = std::max(0.1, tourSeconds * double(interval) / flown);
    pugi::xml_node tour = parent.append_child("gx:Tour");
    appendName(tour, "Fly the track");
    pugi::xml_node playlist = tour.append_child("gx:Playlist");
    const bool absolute = source != TrackAltitude::None;
    for (std::int64_t time = begin;; time = std::min(time + interval, end)) {
        const IgcFix& fix = fixes[fixAt(fixes, time)];
        const IgcFix& before = fixes[fixAt(fixes, time - interval)];
        pugi::xml_node flyTo = playlist.append_child("gx:FlyTo");
        appendText(flyTo, "gx:duration", formatString("%.2f", time == begin ? 3.0 : duration));
        appendText(flyTo, "gx:flyToMode", "smooth");
        pugi::xml_node lookAt = flyTo.append_child("LookAt");
        appendText(lookAt, "longitude", degreesText(fix.longitude));
        appendText(lookAt, "latitude", degreesText(fix.latitude));
        appendText(lookAt, "altitude", formatString("%d", absolute ? flights::fixAltitude(fix, source) : 0));
        appendText(lookAt, "heading", formatString("%.0f", bearing(placeOf(before), placeOf(fix))));
        appendText(lookAt, "tilt", "65");
        appendText(lookAt, "range", "2500");
        appendText(lookAt, "altitudeMode", absolute ? "absolute" : "clampToGround");
        if (time == end)
            break;
    }
}

void appendFlight(pugi::xml_node document, const KmzFlight& flight, std::size_t index, bool several)
{
    const TrackAltitude source = flights::trackAltitudeOf(flight.flight);
    const std::string name = flight.name.empty() ? flights::defaultTrackName(flight.flight) : flight.name;
    const auto& figures = flight.figures;
    pugi::xml_node folder = document.append_child("Folder");
    appendName(folder, name);
    appendText(folder, "open", "1");
    appendText(folder, "description",
        "Take-off " + clockText(figures.takeoffTime) + " UTC, landing " + clockText(figures.landingTime) + " UTC, "
            + durationText(figures.durationSeconds) + " in the air");

    pugi::xml_node track = folder.append_child("Placemark");
    appendName(track, "Track");
    appendText(track, "styleUrl", "#" + flightStyleId(index));
    flights::appendKmlTrack(track, flight.flight);
    appendTrackLine(folder, flight, index, source);

    pugi::xml_node climb = folder.append_child("Folder");
    appendName(climb, "Climb");
    appendText(climb, "visibility", several ? "0" : "1");
    appendClimbTrack(climb, flight, source);

    if (flight.score)
        appendContest(folder, *flight.score);
    if (flight.debrief)
        appendThermals(folder, *flight.debrief);
    if (!flight.flight.fixes.empty()) {
        appendPointPlacemark(folder, "Take-off", clockText(figures.takeoffTime) + " UTC", pointCoordinate(figures.takeoff, 0), false);
        appendPointPlacemark(folder, "Landing", clockText(figures.landingTime) + " UTC", pointCoordinate(figures.landing, 0), false);
    }
    appendTour(folder, flight, source);
}

struct ZipSourceDeleter {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};

} // namespace

KmzColour kmzFlightColour(std::size_t index)
{
    // Apart from each other and from the climb steps' blue-yellow-red.
    constexpr std::array<KmzColour, 6> colours { {
        { 0xd0, 0x20, 0xd0 }, // magenta
        { 0x00, 0xb0, 0xd0 }, // cyan
        { 0x20, 0xa0, 0x20 }, // green
        { 0xff, 0x80, 0x00 }, // orange
        { 0x60, 0x40, 0xc0 }, // violet
        { 0x40, 0x40, 0x40 }, // grey
    } };
    return colours[index % colours.size()];
}

std::string kmzDocument(std::span<const KmzFlight> flights, const KmzOptions& options)
{
    pugi::xml_document xml = xml::documentWithDeclaration();
    pugi::xml_node kml = xml.append_child("kml");
    kml.append_attribute("xmlns").set_value("http://www.opengis.net/kml/2.2");
    kml.append_attribute("xmlns:gx").set_value("http://www.google.com/kml/ext/2.2");
    pugi::xml_node document = kml.append_child("Document");
    std::string name = options.name;
    if (name.empty() && !flights.empty())
        name = flights.front().name.empty() ? flights::defaultTrackName(flights.front().flight) : flights.front().name;
    appendName(document, name.empty() ? std::string("Flights") : name);
    appendText(document, "open", "1");
    if (!options.creator.empty())
        appendText(document, "description", xml::oneLine(options.creator));
    appendStyles(document, flights);
    if (!options.legendPng.empty()) {
        pugi::xml_node overlay = document.append_child("ScreenOverlay");
        appendName(overlay, "Climb legend");
        pugi::xml_node icon = overlay.append_child("Icon");
        appendText(icon, "href", "legend.png");
        // The bottom left corner, clear of the globe's own controls.
        pugi::xml_node overlayXY = overlay.append_child("overlayXY");
        pugi::xml_node screenXY = overlay.append_child("screenXY");
        for (pugi::xml_node corner : { overlayXY, screenXY }) {
            const bool screen = corner == screenXY;
            corner.append_attribute("x").set_value(screen ? "10" : "0");
            corner.append_attribute("y").set_value(screen ? "40" : "0");
            corner.append_attribute("xunits").set_value(screen ? "pixels" : "fraction");
            corner.append_attribute("yunits").set_value(screen ? "pixels" : "fraction");
        }
    }
    for (std::size_t i = 0; i < flights.size(); ++i)
        appendFlight(document, flights[i], i, flights.size() > 1);
    return xml::documentText(xml, xml::Layout::Indented);
}

Result<std::string, std::string> writeKmz(std::span<const KmzFlight> flights, const KmzOptions& options)
{
    const std::string kml = kmzDocument(flights, options);
    zip_error_t error;
    zip_error_init(&error);
    const auto failure = [&error](const char* what) {
        std::string text = std::string(what) + ": " + zip_error_strerror(&error);
        zip_error_fini(&error);
        return Failure<std::string> { std::move(text) };
    };
    // The archive is made in memory: the buffer source keeps the bytes after the
    // archive is closed.
    std::unique_ptr<zip_source_t, ZipSourceDeleter> buffer(zip_source_buffer_create(nullptr, 0, 0, &error));
    if (!buffer)
        return failure("cannot make the archive");
    zip_t* archive = zip_open_from_source(buffer.get(), ZIP_TRUNCATE, &error);
    if (!archive)
        return failure("cannot make the archive");
    zip_source_keep(buffer.get());
    const std::pair<const char*, const std::string*> entries[] = { { "doc.kml", &kml }, { "legend.png", &options.legendPng } };
    for (const auto& [entryName, bytes] : entries) {
        if (bytes->empty())
            continue;
        zip_source_t* source = zip_source_buffer(archive, bytes->data(), bytes->size(), 0);
        if (!source || zip_file_add(archive, entryName, source, ZIP_FL_ENC_UTF_8) < 0) {
            if (source)
                zip_source_free(source);
            zip_error_set(&error, zip_error_code_zip(zip_get_error(archive)), zip_error_code_system(zip_get_error(archive)));
            zip_discard(archive);
            return failure("cannot add to the archive");
        }
    }
    if (zip_close(archive) != 0) {
        zip_error_set(&error, zip_error_code_zip(zip_get_error(archive)), zip_error_code_system(zip_get_error(archive)));
        zip_discard(archive);
        return failure("cannot finish the archive");
    }
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_source_stat(buffer.get(), &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE) || zip_source_open(buffer.get()) != 0)
        return failure("cannot read the archive back");
    std::string bytes(static_cast<std::size_t>(stat.size), '\0');
    const zip_int64_t read = zip_source_read(buffer.get(), bytes.data(), stat.size);
    zip_source_close(buffer.get());
    if (read != static_cast<zip_int64_t>(stat.size))
        return failure("cannot read the archive back");
    zip_error_fini(&error);
    return bytes;
}

Result<void, std::string> saveKmz(std::span<const KmzFlight> flights, const KmzOptions& options, const std::string& path)
{
    const auto bytes = writeKmz(flights, options);
    if (!bytes)
        return Failure { bytes.error() };
    // A new file of its own beside the target, never a name that is there already, and
    // only whole in place.
    const auto temporary = writeTemporaryFile(path + ".XXXXXX", *bytes);
    if (!temporary || std::rename(temporary->c_str(), path.c_str()) != 0) {
        if (temporary)
            std::remove(temporary->c_str());
        return Failure { "cannot write " + path };
    }
    return {};
}

Result<KmzFlight, std::string> readKmzFlight(const std::string& igcPath, std::size_t part,
    const flights::ContestRuleSet* rules, std::optional<flights::ScoredTrack> wanted, const CancelToken* cancel)
{
    auto igc = flights::readIgcFile(igcPath);
    if (!igc)
        return Failure { igc.error() };
    const std::vector<flights::FlightFigures> parts = flights::computeFlights(*igc);
    KmzFlight flight;
    if (part < parts.size())
        flight.figures = parts[part];
    else if (!parts.empty())
        flight.figures = parts.front();
    else
        flight.figures = flights::computeFigures(*igc);
    if (igc->fixes.size() >= 2)
        flight.debrief = debriefFlight(*igc, flight.figures);
    if (rules)
        flight.score = flights::scoreFlight(*igc, *rules, part < parts.size() ? part : 0, wanted, cancel);
    flight.name = flights::defaultTrackName(*igc);
    flight.flight = std::move(*igc);
    return flight;
}

} // namespace corvex::analysis
