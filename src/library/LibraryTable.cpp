#include "library/LibraryTable.h"

#include "base/Format.h"
#include "base/Utf8.h"

#include <algorithm>
#include <array>

namespace corvex::library {

namespace {

// A text cell as spreadsheets read it back as text: one that begins with what starts
// a formula (=, +, -, @, or a tab or carriage return before one) gets a single quote
// before it, inside the quotes, so that a header such as "=cmd|' /C calc'!A0" from an
// IGC file is never run. Numbers the table writes itself do not come through here.
std::string csvField(std::string_view text)
{
    const bool formula = !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
    if (!formula && text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string quoted = formula ? "\"'" : "\"";
    for (const char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

} // namespace

std::string gliderName(std::string_view named)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!named.empty() && blank(named.front()))
        named.remove_prefix(1);
    while (!named.empty() && blank(named.back()))
        named.remove_suffix(1);
    static constexpr std::array<std::string_view, 6> placeholders { "not set", "none", "default", "-", "unknown", "n/a" };
    const std::string folded = foldCase(named);
    if (std::find(placeholders.begin(), placeholders.end(), folded) != placeholders.end())
        return {};
    return std::string(named);
}

std::vector<FlightTotals> withPlaceholderGlidersMerged(std::vector<FlightTotals> totals)
{
    std::vector<FlightTotals> merged;
    for (FlightTotals& group : totals) {
        group.key = gliderName(group.key);
        const auto same = std::find_if(merged.begin(), merged.end(), [&](const FlightTotals& kept) { return kept.key == group.key; });
        if (same == merged.end()) {
            merged.push_back(std::move(group));
            continue;
        }
        same->flights += group.flights;
        same->seconds += group.seconds;
        same->trackMetres += group.trackMetres;
        same->points += group.points;
        same->scored += group.scored;
    }
    return merged;
}

bool flightMatches(const LibraryFlight& flight, const FlightFilter& filter)
{
    if (filter.year && flight.year() != *filter.year)
        return false;
    if (filter.glider && foldCase(flight.glider) != foldCase(*filter.glider))
        return false;
    if (filter.site && foldCase(flight.site) != foldCase(*filter.site))
        return false;
    if (filter.text.empty())
        return true;
    const std::string text = foldCase(filter.text);
    for (const std::string* field : { &flight.pilot, &flight.glider, &flight.site, &flight.logger, &flight.serial, &flight.file })
        if (foldCase(*field).find(text) != std::string::npos)
            return true;
    return false;
}

std::string tableTimeText(std::int64_t utc) { return utcTimeText(utc, "%Y-%m-%d %H:%M"); }

std::string tableCell(std::string_view text, std::size_t width, CellPadding padding)
{
    const std::string visible = visibleText(text);
    std::string cell;
    std::size_t characters = 0;
    std::string_view rest = visible;
    while (!rest.empty()) {
        // visibleText leaves only whole characters.
        const std::size_t length = std::max<std::size_t>(1, utf8CharacterLength(rest));
        if (characters + 1 == width && rest.size() > length) {
            cell += "\xe2\x80\xa6"; // …
            ++characters;
            break;
        }
        if (characters == width)
            break;
        cell += rest.substr(0, length);
        rest.remove_prefix(length);
        ++characters;
    }
    if (padding == CellPadding::ToWidth && characters < width)
        cell.append(width - characters, ' ');
    return cell;
}

std::string libraryCsv(const std::vector<LibraryFlight>& flights, const CsvChoice& choice)
{
    const UnitSystem units = choice.units;
    const auto figure = [&](Quantity quantity, double si) {
        return formatString("%.*f", unitDecimals(quantity, units), convertedValue(quantity, si, units));
    };
    const std::string zone = choice.takeoffOffset ? "local" : "UTC";
    const std::string distance = unitLabel(Quantity::Distance, units);
    const std::string vario = unitLabel(Quantity::Vario, units);
    std::string csv = "Take-off (" + zone + "),Landing (" + zone + "),Duration,Highest (" + unitLabel(Quantity::Altitude, units)
        + "),Track (" + distance + "),Take-off to landing (" + distance + "),Score (points),Score type,Best climb (" + vario
        + "),Best sink (" + vario + "),Glider,Pilot,Instrument,File\r\n";
    for (const LibraryFlight& flight : flights) {
        const auto altitude = flight.maxAltitude();
        std::string takeoff, landing;
        if (choice.takeoffOffset) {
            const int offset = choice.takeoffOffset(flight);
            takeoff = localMinuteText(flight.takeoff, offset);
            landing = localMinuteText(flight.landing, offset);
        } else {
            takeoff = tableTimeText(flight.takeoff);
            landing = tableTimeText(flight.landing);
        }
        csv += takeoff + "," + landing + "," + hoursMinutesText(flight.durationSeconds) + ","
            + (altitude ? figure(Quantity::Altitude, *altitude) : "") + "," + figure(Quantity::Distance, flight.trackMetres) + ","
            + figure(Quantity::Distance, flight.distanceMetres) + ","
            + (flight.scorePoints ? formatString("%.2f", *flight.scorePoints) + "," + csvField(flight.scoreType) : ",") + ","
            + figure(Quantity::Vario, flight.bestClimb) + "," + figure(Quantity::Vario, flight.bestSink) + "," + csvField(flight.glider)
            + "," + csvField(flight.pilot) + "," + csvField(flight.instrument()) + "," + csvField(flight.file) + "\r\n";
    }
    return csv;
}

} // namespace corvex::library
