#include "FlightLibrary.h"

#include "geo/GeoPoint.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace corvex::virtualinstrument {

namespace {

// The log book's distance and speed have always been worked out on a sphere of
// 6371 km, and the flights it serves carry those figures: it keeps that radius rather
// than geo's mean radius, which would move them in the last metres.
constexpr double instrumentEarthRadiusMetres = 6371000.0;
constexpr long long averagingSpanSeconds = 10;

using flights::IgcFix;

constexpr long long secondsPerDay = 86400;

long long dayOf(std::int64_t time)
{
    return time / secondsPerDay - (time % secondsPerDay < 0 ? 1 : 0);
}

double distanceMetres(const IgcFix& a, const IgcFix& b)
{
    using geo::radians;
    double lat1 = radians(a.latitude), lat2 = radians(b.latitude);
    double dLat = lat2 - lat1;
    double dLon = radians(b.longitude - a.longitude);
    double h = std::sin(dLat / 2) * std::sin(dLat / 2) + std::cos(lat1) * std::cos(lat2) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * instrumentEarthRadiusMetres * std::asin(std::min(1.0, std::sqrt(h)));
}

std::uint16_t clampUnsigned16(double value)
{
    if (!(value > 0))
        return 0;
    if (value > 65535)
        return 65535;
    return static_cast<std::uint16_t>(std::lround(value));
}

std::int16_t clampSigned16(double value)
{
    if (value < -32768)
        return -32768;
    if (value > 32767)
        return 32767;
    return static_cast<std::int16_t>(std::lround(value));
}

int standardAtmosphereCelsius(int altitudeMetres)
{
    return static_cast<int>(std::lround(15.0 - 0.0065 * altitudeMetres));
}

} // namespace

InstrumentCoordinate instrumentCoordinate(std::int32_t rawMinutes)
{
    const std::uint32_t magnitude = rawMinutes < 0 ? 0u - static_cast<std::uint32_t>(rawMinutes) : static_cast<std::uint32_t>(rawMinutes);
    const std::uint32_t wholeMinutes = magnitude / 10000;
    return { static_cast<std::uint16_t>(wholeMinutes / 60 * 100 + wholeMinutes % 60), static_cast<std::uint16_t>(magnitude % 10000),
        rawMinutes < 0 };
}

int logBookAltitude(const IgcFix& fix)
{
    return fix.pressureAltitude != 0 ? fix.pressureAltitude : fix.gnssAltitude;
}

CalendarDate fixDate(const flights::IgcFlight& igc, const IgcFix& fix)
{
    if (igc.date())
        return CalendarDate::ofTime(fix.time);
    // Without a date the fixes' clock starts on 1 January 1970.
    return CalendarDate::fromDaysSinceEpoch(CalendarDate { 2000, 1, 1 }.daysSinceEpoch() + dayOf(fix.time));
}

long long elapsedSeconds(const flights::IgcFlight& igc, const IgcFix& fix)
{
    if (igc.fixes.empty())
        return 0;
    return fix.time - dayOf(igc.fixes.front().time) * secondsPerDay;
}

LogBookEntry summarizeFlight(const flights::IgcFlight& igc, std::uint16_t flightNumber)
{
    LogBookEntry entry;
    entry.flightNumber = flightNumber;
    if (igc.fixes.empty())
        return entry;
    const IgcFix& first = igc.fixes.front();
    const IgcFix& last = igc.fixes.back();
    entry.hour = first.secondOfDay() / 3600;
    entry.minute = first.secondOfDay() / 60 % 60;
    entry.date = fixDate(igc, first);
    entry.duration = clampUnsigned16(static_cast<double>(last.time - first.time));
    entry.startAltitude = clampUnsigned16(logBookAltitude(first));
    entry.endAltitude = clampUnsigned16(logBookAltitude(last));
    entry.launchLatitude = instrumentCoordinate(first.rawLatitude);
    entry.launchLongitude = instrumentCoordinate(first.rawLongitude);
    entry.landingLatitude = instrumentCoordinate(last.rawLatitude);
    entry.landingLongitude = instrumentCoordinate(last.rawLongitude);

    int maxAltitude = logBookAltitude(first), minAltitude = logBookAltitude(first);
    double maxDistance = 0;
    double maxClimb = 0, minClimb = 0, climbSum = 0, maxSpeed = 0;
    int climbCount = 0;
    std::size_t ahead = 0;
    const auto& fixes = igc.fixes;
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        maxAltitude = std::max(maxAltitude, logBookAltitude(fixes[i]));
        minAltitude = std::min(minAltitude, logBookAltitude(fixes[i]));
        maxDistance = std::max(maxDistance, distanceMetres(first, fixes[i]));
        // The first fix at least the averaging span later.
        ahead = std::max(ahead, i + 1);
        while (ahead < fixes.size() && fixes[ahead].time - fixes[i].time < averagingSpanSeconds)
            ++ahead;
        if (ahead >= fixes.size())
            continue;
        double seconds = static_cast<double>(fixes[ahead].time - fixes[i].time);
        double climb = (logBookAltitude(fixes[ahead]) - logBookAltitude(fixes[i])) / seconds;
        maxClimb = std::max(maxClimb, climb);
        minClimb = std::min(minClimb, climb);
        if (climb > 0) {
            climbSum += climb;
            ++climbCount;
        }
        maxSpeed = std::max(maxSpeed, distanceMetres(fixes[i], fixes[ahead]) / seconds * 3.6);
    }
    entry.maxAltitude = clampUnsigned16(maxAltitude);
    entry.maxDistance = clampUnsigned16(maxDistance / 10.0);
    entry.maxLift = clampUnsigned16(maxClimb * 10);
    entry.avgLift = clampUnsigned16(climbCount ? climbSum / climbCount * 10 : 0);
    entry.maxSink = clampSigned16(minClimb * 10);
    entry.maxTemperature = standardAtmosphereCelsius(minAltitude);
    entry.minTemperature = standardAtmosphereCelsius(maxAltitude);
    entry.maxGroundSpeed = clampUnsigned16(maxSpeed * 10);
    return entry;
}

std::vector<Flight> loadFlights(const std::string& folder, std::vector<std::string>* problems)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string extension = it->path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
        if (extension == ".igc" && it->is_regular_file())
            files.push_back(it->path());
    }
    if (error && problems)
        problems->push_back(folder + ": " + error.message());
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });

    std::vector<Flight> flights;
    for (const fs::path& path : files) {
        auto text = flights::readIgcText(path.string());
        if (!text) {
            if (problems)
                problems->push_back(text.error());
            continue;
        }
        auto flight = flightFromText(*text, static_cast<std::uint16_t>(flights.size() + 1), path.filename().string());
        if (!flight) {
            if (problems)
                problems->push_back(path.string() + ": " + flight.error());
            continue;
        }
        flights.push_back(std::move(*flight));
    }
    return flights;
}

Result<Flight, std::string> flightFromText(std::string_view text, std::uint16_t flightNumber, std::string fileName)
{
    auto igc = flights::parseIgc(text);
    if (!igc)
        return Failure { igc.error() };
    Flight flight;
    flight.flightNumber = flightNumber;
    flight.fileName = std::move(fileName);
    flight.entry = summarizeFlight(*igc, flightNumber);
    flight.igc = std::move(*igc);
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        flight.lines.emplace_back(line);
    }
    return flight;
}

} // namespace corvex::virtualinstrument
