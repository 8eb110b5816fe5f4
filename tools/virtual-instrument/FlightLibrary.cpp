#include "FlightLibrary.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace corvex::virtualinstrument {

namespace {

constexpr double earthRadiusMetres = 6371000.0;
constexpr double pi = 3.14159265358979323846;
constexpr long long averagingSpanSeconds = 10;

double distanceMetres(const IgcFix& a, const IgcFix& b)
{
    auto radians = [](double degrees) { return degrees * pi / 180.0; };
    double lat1 = radians(a.latitude.degrees()), lat2 = radians(b.latitude.degrees());
    double dLat = lat2 - lat1;
    double dLon = radians(b.longitude.degrees() - a.longitude.degrees());
    double h = std::sin(dLat / 2) * std::sin(dLat / 2) + std::cos(lat1) * std::cos(lat2) * std::sin(dLon / 2) * std::sin(dLon / 2);
    return 2 * earthRadiusMetres * std::asin(std::min(1.0, std::sqrt(h)));
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

LogBookEntry summarizeFlight(const IgcFile& igc, std::uint16_t flightNumber)
{
    LogBookEntry entry;
    entry.flightNumber = flightNumber;
    if (igc.fixes.empty())
        return entry;
    const IgcFix& first = igc.fixes.front();
    const IgcFix& last = igc.fixes.back();
    entry.hour = first.hour;
    entry.minute = first.minute;
    entry.date = igc.date.value_or(CalendarDate { 2000, 1, 1 });
    entry.duration = clampUnsigned16(static_cast<double>(last.elapsedSeconds() - first.elapsedSeconds()));
    entry.startAltitude = clampUnsigned16(first.altitude());
    entry.endAltitude = clampUnsigned16(last.altitude());
    entry.launchLatitude = first.latitude;
    entry.launchLongitude = first.longitude;
    entry.landingLatitude = last.latitude;
    entry.landingLongitude = last.longitude;

    int maxAltitude = first.altitude(), minAltitude = first.altitude();
    double maxDistance = 0;
    double maxClimb = 0, minClimb = 0, climbSum = 0, maxSpeed = 0;
    int climbCount = 0;
    std::size_t ahead = 0;
    const auto& fixes = igc.fixes;
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        maxAltitude = std::max(maxAltitude, fixes[i].altitude());
        minAltitude = std::min(minAltitude, fixes[i].altitude());
        maxDistance = std::max(maxDistance, distanceMetres(first, fixes[i]));
        // The first fix at least the averaging span later.
        ahead = std::max(ahead, i + 1);
        while (ahead < fixes.size() && fixes[ahead].elapsedSeconds() - fixes[i].elapsedSeconds() < averagingSpanSeconds)
            ++ahead;
        if (ahead >= fixes.size())
            continue;
        double seconds = static_cast<double>(fixes[ahead].elapsedSeconds() - fixes[i].elapsedSeconds());
        double climb = (fixes[ahead].altitude() - fixes[i].altitude()) / seconds;
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
        auto igc = readIgcFile(path.string());
        if (!igc) {
            if (problems)
                problems->push_back(path.string() + ": no fixes");
            continue;
        }
        Flight flight;
        flight.flightNumber = static_cast<std::uint16_t>(flights.size() + 1);
        flight.fileName = path.filename().string();
        flight.entry = summarizeFlight(*igc, flight.flightNumber);
        flight.igc = std::move(*igc);
        flights.push_back(std::move(flight));
    }
    return flights;
}

} // namespace corvex::virtualinstrument
