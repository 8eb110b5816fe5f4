#include "library/LibraryTable.h"

#include "base/Format.h"
#include "base/Utf8.h"

namespace corvex::library {

namespace {

std::string csvField(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string quoted = "\"";
    for (const char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

} // namespace

bool flightMatches(const LibraryFlight& flight, const FlightFilter& filter)
{
    if (filter.year && flight.year() != *filter.year)
        return false;
    if (filter.glider && foldCase(flight.glider) != foldCase(*filter.glider))
        return false;
    if (filter.text.empty())
        return true;
    const std::string text = foldCase(filter.text);
    for (const std::string* field : { &flight.pilot, &flight.glider, &flight.logger, &flight.serial, &flight.file })
        if (foldCase(*field).find(text) != std::string::npos)
            return true;
    return false;
}

std::string tableTimeText(std::int64_t utc) { return utcTimeText(utc, "%Y-%m-%d %H:%M"); }

std::string libraryCsv(const std::vector<LibraryFlight>& flights)
{
    std::string csv = "Take-off (UTC),Landing (UTC),Duration,Highest (m),Track (km),Take-off to landing (km),Score (points),"
                      "Score type,Best climb (m/s),Best sink (m/s),Glider,Pilot,Instrument,File\r\n";
    for (const LibraryFlight& flight : flights) {
        const auto altitude = flight.maxAltitude();
        csv += tableTimeText(flight.takeoff) + "," + tableTimeText(flight.landing) + "," + hoursMinutesText(flight.durationSeconds)
            + "," + (altitude ? std::to_string(*altitude) : "") + "," + formatString("%.1f", flight.trackMetres / 1000) + ","
            + formatString("%.1f", flight.distanceMetres / 1000) + ","
            + (flight.scorePoints ? formatString("%.2f", *flight.scorePoints) + "," + flight.scoreType : ",") + ","
            + formatString("%.1f", flight.bestClimb) + "," + formatString("%.1f", flight.bestSink) + "," + csvField(flight.glider)
            + "," + csvField(flight.pilot) + "," + csvField(flight.instrument()) + "," + csvField(flight.file) + "\r\n";
    }
    return csv;
}

} // namespace corvex::library
