#include "flights/FlightExport.h"

#include "base/XmlWriting.h"

#include <algorithm>
#include <charconv>

namespace corvex::flights {

namespace {

using AltitudeSource = TrackAltitude;

AltitudeSource altitudeSource(const IgcFlight& flight) { return trackAltitudeOf(flight); }
int altitudeOf(const IgcFix& fix, AltitudeSource source) { return fixAltitude(fix, source); }

void appendInteger(std::string& out, std::int64_t value, int width = 0)
{
    char digits[24];
    auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
    for (auto length = end - digits; length < width; ++length)
        out += '0';
    out.append(digits, end);
}

// Degrees with seven decimals, straight from the B record's integers (minutes × 10000),
// so nothing is lost to binary fractions: 1e-7 degrees is 1/6 of the unit.
void appendDegrees(std::string& out, std::int32_t raw, bool isLongitude)
{
    // GPX longitudes run from -180 inclusive to 180 exclusive; both are one meridian.
    if (isLongitude && raw == 180 * 600000)
        raw = -raw;
    std::int64_t scaled = std::int64_t { raw } * 100;
    const bool negative = scaled < 0;
    scaled = (negative ? -scaled : scaled) + 3;
    scaled /= 6;
    if (negative && scaled != 0)
        out += '-';
    appendInteger(out, scaled / 10000000);
    out += '.';
    appendInteger(out, scaled % 10000000, 7);
}

// "2016-05-04T08:10:42Z"
void appendTime(std::string& out, std::int64_t time)
{
    const IgcDate date = IgcDate::ofTime(time);
    std::int64_t second = time % 86400;
    if (second < 0)
        second += 86400;
    appendInteger(out, date.year, 4);
    out += '-';
    appendInteger(out, date.month, 2);
    out += '-';
    appendInteger(out, date.day, 2);
    out += 'T';
    appendInteger(out, second / 3600, 2);
    out += ':';
    appendInteger(out, second / 60 % 60, 2);
    out += ':';
    appendInteger(out, second % 60, 2);
    out += 'Z';
}

// A name as XML character data or attribute value, on one line: line ends and tabs
// made blanks, what XML 1.0 cannot carry left out, a text that is not UTF-8 read as
// ISO-8859-1 (old recorders' headers).
void appendName(pugi::xml_node parent, const char* element, std::string_view text)
{
    xml::appendTextElement(parent, element, xml::oneLine(text));
}

template<typename Append>
std::string formatted(Append append)
{
    std::string text;
    append(text);
    return text;
}

std::string trackName(const IgcFlight& flight, const TrackFileOptions& options)
{
    return options.name.empty() ? defaultTrackName(flight) : options.name;
}

} // namespace

std::string defaultTrackName(const IgcFlight& flight)
{
    std::string name;
    if (auto date = flight.date()) {
        appendInteger(name, date->year, 4);
        name += '-';
        appendInteger(name, date->month, 2);
        name += '-';
        appendInteger(name, date->day, 2);
    }
    std::string who = flight.pilot();
    if (const std::string glider = flight.glider(); !glider.empty())
        who += (who.empty() ? "" : ", ") + glider;
    if (!who.empty())
        name += (name.empty() ? "" : " ") + who;
    return name.empty() ? std::string("Flight") : name;
}

std::string writeGpx(const IgcFlight& flight, const TrackFileOptions& options)
{
    const AltitudeSource source = altitudeSource(flight);
    const std::string name = trackName(flight, options);
    pugi::xml_document document = xml::documentWithDeclaration();
    pugi::xml_node gpx = document.append_child("gpx");
    gpx.append_attribute("version").set_value("1.1");
    xml::appendAttribute(gpx, "creator", xml::oneLine(options.creator));
    gpx.append_attribute("xmlns").set_value("http://www.topografix.com/GPX/1/1");
    gpx.append_attribute("xmlns:xsi").set_value("http://www.w3.org/2001/XMLSchema-instance");
    gpx.append_attribute("xsi:schemaLocation")
        .set_value("http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd");
    pugi::xml_node metadata = gpx.append_child("metadata");
    appendName(metadata, "name", name);
    const auto writtenAt = std::chrono::duration_cast<std::chrono::seconds>(options.writtenAt.time_since_epoch()).count();
    metadata.append_child("time").text().set(formatted([&](std::string& out) { appendTime(out, writtenAt); }).c_str());
    pugi::xml_node track = gpx.append_child("trk");
    appendName(track, "name", name);
    if (!flight.loggerId.empty())
        appendName(track, "src", flight.loggerId);
    pugi::xml_node segment = track.append_child("trkseg");
    std::string number;
    for (const IgcFix& fix : flight.fixes) {
        pugi::xml_node point = segment.append_child("trkpt");
        number.clear();
        appendDegrees(number, fix.rawLatitude, false);
        point.append_attribute("lat").set_value(number.c_str());
        number.clear();
        appendDegrees(number, fix.rawLongitude, true);
        point.append_attribute("lon").set_value(number.c_str());
        if (source != AltitudeSource::None) {
            number.clear();
            appendInteger(number, altitudeOf(fix, source));
            point.append_child("ele").text().set(number.c_str());
        }
        number.clear();
        appendTime(number, fix.time);
        point.append_child("time").text().set(number.c_str());
        if (!fix.valid)
            point.append_child("fix").text().set("2d");
    }
    return xml::documentText(document, xml::Layout::Indented);
}

std::string writeKml(const IgcFlight& flight, const TrackFileOptions& options)
{
    const std::string name = trackName(flight, options);
    pugi::xml_document document = xml::documentWithDeclaration();
    pugi::xml_node kml = document.append_child("kml");
    kml.append_attribute("xmlns").set_value("http://www.opengis.net/kml/2.2");
    kml.append_attribute("xmlns:gx").set_value("http://www.google.com/kml/ext/2.2");
    pugi::xml_node folder = kml.append_child("Document");
    appendName(folder, "name", name);
    if (!options.creator.empty())
        appendName(folder, "description", options.creator);
    pugi::xml_node style = folder.append_child("Style");
    style.append_attribute("id").set_value("track");
    pugi::xml_node line = style.append_child("LineStyle");
    line.append_child("color").text().set("ff0000ff");
    line.append_child("width").text().set("3");
    pugi::xml_node placemark = folder.append_child("Placemark");
    appendName(placemark, "name", name);
    placemark.append_child("styleUrl").text().set("#track");
    appendKmlTrack(placemark, flight);
    return xml::documentText(document, xml::Layout::Indented);
}

TrackAltitude trackAltitudeOf(const IgcFlight& flight)
{
    const auto& fixes = flight.fixes;
    if (std::any_of(fixes.begin(), fixes.end(), [](const IgcFix& fix) { return fix.gnssAltitude != 0; }))
        return TrackAltitude::Gnss;
    if (std::any_of(fixes.begin(), fixes.end(), [](const IgcFix& fix) { return fix.pressureAltitude != 0; }))
        return TrackAltitude::Pressure;
    return TrackAltitude::None;
}

int fixAltitude(const IgcFix& fix, TrackAltitude source)
{
    switch (source) {
    case TrackAltitude::Gnss:
        return fix.gnssAltitude;
    case TrackAltitude::Pressure:
        return fix.pressureAltitude;
    case TrackAltitude::None:
        break;
    }
    return 0;
}

std::string kmlCoordinate(const IgcFix& fix, TrackAltitude source, char separator)
{
    std::string text;
    appendDegrees(text, fix.rawLongitude, true);
    text += separator;
    appendDegrees(text, fix.rawLatitude, false);
    text += separator;
    appendInteger(text, fixAltitude(fix, source));
    return text;
}

std::string kmlTime(std::int64_t time)
{
    return formatted([&](std::string& out) { appendTime(out, time); });
}

void appendKmlTrack(pugi::xml_node placemark, const IgcFlight& flight)
{
    const AltitudeSource source = altitudeSource(flight);
    pugi::xml_node track = placemark.append_child("gx:Track");
    track.append_child("altitudeMode").text().set(source == AltitudeSource::None ? "clampToGround" : "absolute");
    std::string text;
    for (const IgcFix& fix : flight.fixes) {
        text.clear();
        appendTime(text, fix.time);
        track.append_child("when").text().set(text.c_str());
    }
    for (const IgcFix& fix : flight.fixes)
        track.append_child("gx:coord").text().set(kmlCoordinate(fix, source, ' ').c_str());
}

} // namespace corvex::flights
