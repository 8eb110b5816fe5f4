#include "flights/FlightExport.h"

#include "base/Utf8.h"

#include <algorithm>
#include <charconv>

namespace corvex::flights {

namespace {

enum class AltitudeSource { Gnss, Pressure, None };

AltitudeSource altitudeSource(const IgcFlight& flight)
{
    const auto& fixes = flight.fixes;
    if (std::any_of(fixes.begin(), fixes.end(), [](const IgcFix& fix) { return fix.gnssAltitude != 0; }))
        return AltitudeSource::Gnss;
    if (std::any_of(fixes.begin(), fixes.end(), [](const IgcFix& fix) { return fix.pressureAltitude != 0; }))
        return AltitudeSource::Pressure;
    return AltitudeSource::None;
}

int altitudeOf(const IgcFix& fix, AltitudeSource source)
{
    return source == AltitudeSource::Pressure ? fix.pressureAltitude : fix.gnssAltitude;
}

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

// A name as XML character data or attribute value, on one line: markup characters
// escaped, line ends and tabs made blanks, the other control characters (which XML 1.0
// cannot carry) left out.
void appendEscaped(std::string& out, std::string_view text)
{
    const std::string utf8 = isValidUtf8(text) ? std::string(text) : latin1ToUtf8(text);
    for (char c : utf8) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            if (static_cast<unsigned char>(c) >= 0x20)
                out += c;
            else if (c == '\t' || c == '\n' || c == '\r')
                out += ' ';
            break;
        }
    }
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
    std::string out;
    out.reserve(512 + flight.fixes.size() * 96);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<gpx version=\"1.1\" creator=\"";
    appendEscaped(out, options.creator);
    out += "\" xmlns=\"http://www.topografix.com/GPX/1/1\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
           " xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 http://www.topografix.com/GPX/1/1/gpx.xsd\">\n"
           " <metadata>\n  <name>";
    appendEscaped(out, name);
    out += "</name>\n  <time>";
    appendTime(out, std::chrono::duration_cast<std::chrono::seconds>(options.writtenAt.time_since_epoch()).count());
    out += "</time>\n </metadata>\n <trk>\n  <name>";
    appendEscaped(out, name);
    out += "</name>\n";
    if (!flight.loggerId.empty()) {
        out += "  <src>";
        appendEscaped(out, flight.loggerId);
        out += "</src>\n";
    }
    out += "  <trkseg>\n";
    for (const IgcFix& fix : flight.fixes) {
        out += "   <trkpt lat=\"";
        appendDegrees(out, fix.rawLatitude, false);
        out += "\" lon=\"";
        appendDegrees(out, fix.rawLongitude, true);
        out += "\">";
        if (source != AltitudeSource::None) {
            out += "<ele>";
            appendInteger(out, altitudeOf(fix, source));
            out += "</ele>";
        }
        out += "<time>";
        appendTime(out, fix.time);
        out += "</time>";
        if (!fix.valid)
            out += "<fix>2d</fix>";
        out += "</trkpt>\n";
    }
    out += "  </trkseg>\n </trk>\n</gpx>\n";
    return out;
}

std::string writeKml(const IgcFlight& flight, const TrackFileOptions& options)
{
    const AltitudeSource source = altitudeSource(flight);
    const std::string name = trackName(flight, options);
    std::string out;
    out.reserve(1024 + flight.fixes.size() * 80);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<kml xmlns=\"http://www.opengis.net/kml/2.2\" xmlns:gx=\"http://www.google.com/kml/ext/2.2\">\n"
           "<Document>\n <name>";
    appendEscaped(out, name);
    out += "</name>\n";
    if (!options.creator.empty()) {
        out += " <description>";
        appendEscaped(out, options.creator);
        out += "</description>\n";
    }
    out += " <Style id=\"track\">\n  <LineStyle>\n   <color>ff0000ff</color>\n   <width>3</width>\n  </LineStyle>\n"
           " </Style>\n <Placemark>\n  <name>";
    appendEscaped(out, name);
    out += "</name>\n  <styleUrl>#track</styleUrl>\n  <gx:Track>\n   <altitudeMode>";
    out += source == AltitudeSource::None ? "clampToGround" : "absolute";
    out += "</altitudeMode>\n";
    for (const IgcFix& fix : flight.fixes) {
        out += "   <when>";
        appendTime(out, fix.time);
        out += "</when>\n";
    }
    for (const IgcFix& fix : flight.fixes) {
        out += "   <gx:coord>";
        appendDegrees(out, fix.rawLongitude, true);
        out += ' ';
        appendDegrees(out, fix.rawLatitude, false);
        out += ' ';
        appendInteger(out, source == AltitudeSource::None ? 0 : altitudeOf(fix, source));
        out += "</gx:coord>\n";
    }
    out += "  </gx:Track>\n </Placemark>\n</Document>\n</kml>\n";
    return out;
}

} // namespace corvex::flights
