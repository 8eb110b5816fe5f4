#include "flights/IgcFlight.h"

#include <GeographicLib/Ellipsoid.hpp>

#include <algorithm>
#include <cmath>

namespace corvex::flights {

namespace {

// What tells flight from a recorder on the ground (see computeFigures).
constexpr double flyingGroundSpeed = 5.0; // m/s
constexpr double flyingVerticalSpeed = 1.5; // m/s
constexpr std::int64_t movementSpan = 10; // s
constexpr std::int64_t sustainedMovement = 60; // s
constexpr std::int64_t climbSpan = 20; // s

// Legs shorter than this in both directions are measured on the plane that touches
// the ellipsoid there (see legMetres).
constexpr double shortLegDegrees = 0.05;

// A valid fix with what its legs need: the length of a degree of latitude and of
// longitude at its latitude on WGS84.
struct TrackPoint {
    std::size_t index { 0 };
    std::int64_t time { 0 };
    double latitude { 0 }, longitude { 0 };
    double metresPerDegreeLatitude { 0 }, metresPerDegreeLongitude { 0 };
};

// The meridional and transverse curvature radii of GeographicLib's WGS84 ellipsoid, from
// one sine and cosine of the latitude (its own functions take three trigonometric
// calls each with exact degree reduction, a third of an import's time).
TrackPoint trackPoint(const IgcFix& fix, std::size_t index)
{
    static const double equatorialRadius = GeographicLib::Ellipsoid::WGS84().EquatorialRadius();
    static const double eccentricitySquared = GeographicLib::Ellipsoid::WGS84().EccentricitySq();
    const double radians = geo::radians(fix.latitude);
    const double sine = std::sin(radians), cosine = std::cos(radians);
    const double w2 = 1 - eccentricitySquared * sine * sine;
    const double transverse = equatorialRadius / std::sqrt(w2);
    const double meridional = transverse * (1 - eccentricitySquared) / w2;
    return { index, fix.time, fix.latitude, fix.longitude, meridional * geo::pi / 180.0, transverse * cosine * geo::pi / 180.0 };
}

double longitudeDifference(double from, double to)
{
    double difference = to - from;
    if (difference > 180)
        difference -= 360;
    else if (difference < -180)
        difference += 360;
    return difference;
}

// A recorder logs a leg every few seconds: tens of metres, rarely a kilometre. On such
// a leg the ellipsoid's curvature radii at its ends give the geodesic length to well
// under a millimetre (the relative error grows with the square of the leg's angle,
// under 1e-7 at 0.05°), about thirty times faster than the full inverse problem, which
// is what a library of 640,000 fixes needs. Longer legs (a gap in the recording) take
// the full geodesic.
double legMetres(const TrackPoint& from, const TrackPoint& to)
{
    const double dLatitude = to.latitude - from.latitude;
    const double dLongitude = longitudeDifference(from.longitude, to.longitude);
    if (std::fabs(dLatitude) > shortLegDegrees || std::fabs(dLongitude) > shortLegDegrees)
        return geodesicDistanceMetres({ from.latitude, from.longitude }, { to.latitude, to.longitude });
    const double north = dLatitude * (from.metresPerDegreeLatitude + to.metresPerDegreeLatitude) / 2;
    const double east = dLongitude * (from.metresPerDegreeLongitude + to.metresPerDegreeLongitude) / 2;
    return std::sqrt(north * north + east * east);
}

// The first point at least `span` seconds after point i (times may repeat or step back
// a little); points.size() when there is none.
std::size_t pointAfter(const std::vector<TrackPoint>& points, std::size_t i, std::size_t from, std::int64_t span)
{
    std::size_t j = std::max(from, i + 1);
    while (j < points.size() && points[j].time - points[i].time < span)
        ++j;
    return j;
}

struct FlightSpan {
    std::size_t first { 0 }, last { 0 }; // in the points
    bool moved { false };
};

FlightSpan findFlight(const std::vector<TrackPoint>& points, const IgcFlight& flight, bool pressure)
{
    FlightSpan span { 0, points.size() - 1, false };
    auto altitude = [&](const TrackPoint& point) {
        const IgcFix& fix = flight.fixes[point.index];
        return pressure ? fix.pressureAltitude : fix.gnssAltitude;
    };
    bool inRun = false;
    std::size_t runStart = 0;
    std::size_t ahead = 0;
    bool found = false;
    for (std::size_t i = 0; i < points.size(); ++i) {
        ahead = pointAfter(points, i, ahead, movementSpan);
        if (ahead >= points.size())
            break;
        const double seconds = static_cast<double>(points[ahead].time - points[i].time);
        const bool moving = legMetres(points[i], points[ahead]) / seconds >= flyingGroundSpeed
            || std::abs(altitude(points[ahead]) - altitude(points[i])) / seconds >= flyingVerticalSpeed;
        if (moving && !inRun) {
            inRun = true;
            runStart = i;
        } else if (!moving) {
            inRun = false;
        }
        if (inRun && points[ahead].time - points[runStart].time >= sustainedMovement) {
            if (!found)
                span.first = runStart;
            found = true;
            span.last = ahead;
        }
    }
    span.moved = found;
    return span;
}

} // namespace

FlightFigures computeFigures(const IgcFlight& flight)
{
    FlightFigures figures;
    figures.pilot = flight.pilot();
    figures.glider = flight.glider();
    figures.instrument = flight.loggerId;
    const std::vector<IgcFix>& fixes = flight.fixes;
    if (fixes.empty())
        return figures;

    // Positions from valid fixes only; a file without one still has its times.
    std::vector<TrackPoint> points;
    points.reserve(fixes.size());
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        if (fixes[i].valid)
            points.push_back(trackPoint(fixes[i], i));
    }
    if (points.empty()) {
        for (std::size_t i = 0; i < fixes.size(); ++i)
            points.push_back(trackPoint(fixes[i], i));
    }
    const bool hasPressure = std::any_of(fixes.begin(), fixes.end(), [](const IgcFix& fix) { return fix.pressureAltitude != 0; });
    const bool hasGnss = std::any_of(fixes.begin(), fixes.end(), [](const IgcFix& fix) { return fix.valid && fix.gnssAltitude != 0; });

    figures.altitudeSource = hasPressure ? "pressure" : "gnss";
    const FlightSpan span = findFlight(points, flight, hasPressure);
    figures.movementDetected = span.moved;
    const TrackPoint& takeoff = points[span.first];
    const TrackPoint& landing = points[span.last];
    figures.takeoffIndex = takeoff.index;
    figures.landingIndex = landing.index;
    figures.takeoffTime = takeoff.time;
    figures.landingTime = landing.time;
    figures.durationSeconds = std::max<std::int64_t>(0, landing.time - takeoff.time);
    figures.takeoff = { takeoff.latitude, takeoff.longitude };
    figures.landing = { landing.latitude, landing.longitude };
    figures.takeoffToLandingMetres = geodesicDistanceMetres(figures.takeoff, figures.landing);
    for (std::size_t i = span.first; i < span.last; ++i)
        figures.trackLengthMetres += legMetres(points[i], points[i + 1]);

    // Altitudes of take-off to landing: pressure from every fix (the sensor does not
    // need the satellites), GNSS from valid fixes only.
    for (std::size_t i = takeoff.index; i <= landing.index; ++i) {
        const IgcFix& fix = fixes[i];
        if (hasPressure) {
            figures.maxPressureAltitude = std::max(figures.maxPressureAltitude.value_or(fix.pressureAltitude), fix.pressureAltitude);
            figures.minPressureAltitude = std::min(figures.minPressureAltitude.value_or(fix.pressureAltitude), fix.pressureAltitude);
        }
        if (hasGnss && fix.valid) {
            figures.maxGnssAltitude = std::max(figures.maxGnssAltitude.value_or(fix.gnssAltitude), fix.gnssAltitude);
            figures.minGnssAltitude = std::min(figures.minGnssAltitude.value_or(fix.gnssAltitude), fix.gnssAltitude);
        }
    }

    // Climb and sink as a vario averages them, from the pressure sensor where there is
    // one.
    std::size_t ahead = takeoff.index;
    for (std::size_t i = takeoff.index; i <= landing.index; ++i) {
        if (!hasPressure && !fixes[i].valid)
            continue;
        ahead = std::max(ahead, i + 1);
        while (ahead <= landing.index
            && (fixes[ahead].time - fixes[i].time < climbSpan || (!hasPressure && !fixes[ahead].valid)))
            ++ahead;
        if (ahead > landing.index)
            break;
        const double seconds = static_cast<double>(fixes[ahead].time - fixes[i].time);
        const int climb = hasPressure ? fixes[ahead].pressureAltitude - fixes[i].pressureAltitude
                                      : fixes[ahead].gnssAltitude - fixes[i].gnssAltitude;
        figures.bestClimb = std::max(figures.bestClimb, climb / seconds);
        figures.bestSink = std::min(figures.bestSink, climb / seconds);
    }
    return figures;
}

std::vector<FlightFigures> computeFlights(const IgcFlight& flight) { return { computeFigures(flight) }; }

} // namespace corvex::flights
