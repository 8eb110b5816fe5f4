#include "base/VectorState.h"
#include "flights/AltitudeJumps.h"
#include "flights/IgcFlight.h"

#include <GeographicLib/Ellipsoid.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace corvex::flights {

namespace {

// What tells flight from a recorder on the ground (see computeFigures).
constexpr double flyingGroundSpeed = 5.0; // m/s
constexpr double flyingVerticalSpeed = 1.5; // m/s
constexpr std::int64_t movementSpan = 10; // s
constexpr std::int64_t sustainedMovement = 60; // s
constexpr std::int64_t climbSpan = 20; // s

// A landing that ends a flight (see computeFlights): this long without flight movement,
// the altitude at its end within this average vertical speed of the altitude at its
// start (a slow glide loses a metre a second, a thermal gains), and the way covered
// over steps of pathStep no faster than a walk (a paraglider circling in zero lift
// covers its airspeed, 7 m/s and more, though it gets nowhere).
constexpr std::int64_t groundTime = 300; // s
constexpr double groundVerticalSpeed = 0.5; // m/s
constexpr double groundPathSpeed = 2.5; // m/s
constexpr std::int64_t pathStep = 5; // s

// What no glider does between two fixes (see computeFigures): climb faster than a
// thermal, sink faster than a spiral dive, or cover the ground faster than a sailplane
// at its never-exceed speed with a gale behind it. The slack covers a recorder's noise
// from one second to the next.
constexpr double plausibleClimb = 10.0; // m/s
constexpr double plausibleSink = 30.0; // m/s
constexpr double altitudeSlack = 20.0; // m
constexpr double plausibleGroundSpeed = 100.0; // m/s
constexpr double positionSlack = 100.0; // m
// A jump away and one back within this are an excursion: the fixes between them are
// no altitude, or no place, the glider was at.
constexpr std::int64_t excursionTime = 60; // s

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
// The radii change smoothly with latitude: a file's fixes take them from the two edges of
// their thousandth of a degree (111 m), interpolated (within a few parts in 10^10), so that
// the sine and cosine are taken once per band instead of once per fix.
class TrackPoints {
public:
    TrackPoint operator()(const IgcFix& fix, std::size_t index)
    {
        const double band = std::floor(fix.latitude * 1000);
        if (band != m_band) {
            m_band = band;
            m_low = radiiAt(band / 1000);
            m_high = radiiAt((band + 1) / 1000);
        }
        const double share = fix.latitude * 1000 - band;
        return { index, fix.time, fix.latitude, fix.longitude, m_low.first + share * (m_high.first - m_low.first),
            m_low.second + share * (m_high.second - m_low.second) };
    }

private:
    // Metres per degree of latitude and of longitude at this latitude.
    static std::pair<double, double> radiiAt(double latitude)
    {
        static const double equatorialRadius = GeographicLib::Ellipsoid::WGS84().EquatorialRadius();
        static const double eccentricitySquared = GeographicLib::Ellipsoid::WGS84().EccentricitySq();
        const double radians = geo::radians(latitude);
        const double sine = std::sin(radians), cosine = std::cos(radians);
        const double w2 = 1 - eccentricitySquared * sine * sine;
        const double transverse = equatorialRadius / std::sqrt(w2);
        const double meridional = transverse * (1 - eccentricitySquared) / w2;
        return { meridional * geo::pi / 180.0, transverse * cosine * geo::pi / 180.0 };
    }

    double m_band { std::numeric_limits<double>::quiet_NaN() };
    std::pair<double, double> m_low, m_high;
};

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

} // namespace

// A jump's step stays in the highest and the lowest altitude: which side of it is right
// cannot be told.
CleanAltitude cleanAltitude(const std::vector<IgcFix>& fixes, bool pressure)
{
    CleanAltitude clean { std::vector<int>(fixes.size(), 0), std::vector<bool>(fixes.size(), false) };
    const bool anyValid = std::any_of(fixes.begin(), fixes.end(), [](const IgcFix& fix) { return fix.valid; });
    std::vector<std::size_t> used; // the pressure sensor does not need the satellites
    for (std::size_t i = 0; i < fixes.size(); ++i)
        if (pressure || fixes[i].valid || !anyValid)
            used.push_back(i);
    auto altitude = [&](std::size_t i) { return pressure ? fixes[i].pressureAltitude : fixes[i].gnssAltitude; };
    const auto implausible = [&](std::size_t from, std::size_t to) {
        const int change = altitude(to) - altitude(from);
        const double seconds = static_cast<double>(std::max<std::int64_t>(1, fixes[to].time - fixes[from].time));
        return change > plausibleClimb * seconds + altitudeSlack || -change > plausibleSink * seconds + altitudeSlack;
    };
    struct Jump {
        std::size_t at; // in used: the first fix after the jump
        bool up;
    };
    std::vector<Jump> jumps;
    for (std::size_t k = 1; k < used.size(); ++k)
        if (implausible(used[k - 1], used[k]))
            jumps.push_back({ k, altitude(used[k]) > altitude(used[k - 1]) });
    for (std::size_t j = 0; j + 1 < jumps.size(); ++j) {
        const Jump& away = jumps[j];
        const Jump& back = jumps[j + 1];
        if (back.up != away.up && fixes[used[back.at]].time - fixes[used[away.at]].time <= excursionTime) {
            for (std::size_t k = away.at; k < back.at; ++k)
                clean.excursion[used[k]] = true;
            ++j;
        }
    }
    int removed = 0;
    std::optional<std::size_t> previous;
    for (const std::size_t i : used) {
        if (clean.excursion[i]) {
            clean.level[i] = previous ? clean.level[*previous] : altitude(i);
            continue;
        }
        if (previous && implausible(*previous, i))
            removed += altitude(i) - altitude(*previous);
        clean.level[i] = altitude(i) - removed;
        previous = i;
    }
    return clean;
}

namespace {

// The points without the ones a glider cannot have been at: a fix reached from the one
// before faster than plausibleGroundSpeed when a later fix within excursionTime is
// plausibly reached from that one again, and not from the fix that jumped. A jump that
// does not come back (a gap in the recording, a recorder carried on after a drive)
// stays.
std::vector<TrackPoint> withoutPositionJumps(const std::vector<TrackPoint>& points)
{
    const auto jumped = [](const TrackPoint& from, const TrackPoint& to) {
        const double seconds = static_cast<double>(std::max<std::int64_t>(1, to.time - from.time));
        const double plausible = plausibleGroundSpeed * seconds + positionSlack;
        // No way between two parallels is shorter than the meridian between them, and a
        // degree of the meridian is nowhere shorter than at the equator (a(1 - e²) π/180
        // on WGS84): a far jump is known without the geodesic, which a track of such
        // jumps would otherwise ask for a minute's fixes at every fix.
        constexpr double shortestMetresPerDegreeLatitude = 110574.0;
        if (std::fabs(to.latitude - from.latitude) * shortestMetresPerDegreeLatitude > plausible)
            return true;
        return legMetres(from, to) > plausible;
    };
    std::vector<TrackPoint> kept;
    kept.reserve(points.size());
    for (std::size_t k = 0; k < points.size(); ++k) {
        if (kept.empty() || !jumped(kept.back(), points[k])) {
            kept.push_back(points[k]);
            continue;
        }
        std::size_t back = k + 1;
        while (back < points.size() && points[back].time - points[k].time <= excursionTime && jumped(kept.back(), points[back]))
            ++back;
        if (back < points.size() && points[back].time - points[k].time <= excursionTime && jumped(points[k], points[back]))
            k = back - 1; // the excursion is left out; the fix it comes back to is taken next
        else
            kept.push_back(points[k]);
    }
    return kept;
}

struct FlightSpan {
    std::size_t first { 0 }, last { 0 }; // in the points
    bool moved { false };
};

// The stretches of sustained movement (see computeFigures), joined into flights where
// the recorder did not land between them (see computeFlights).
std::vector<FlightSpan> findFlights(const std::vector<TrackPoint>& points, const std::vector<int>& level)
{
    std::vector<FlightSpan> runs;
    bool inRun = false, runCounted = false;
    std::size_t runStart = 0;
    std::size_t ahead = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        ahead = pointAfter(points, i, ahead, movementSpan);
        if (ahead >= points.size())
            break;
        const double seconds = static_cast<double>(points[ahead].time - points[i].time);
        const bool moving = legMetres(points[i], points[ahead]) / seconds >= flyingGroundSpeed
            || std::abs(level[points[ahead].index] - level[points[i].index]) / seconds >= flyingVerticalSpeed;
        if (moving && !inRun) {
            inRun = true;
            runCounted = false;
            runStart = i;
        } else if (!moving) {
            inRun = false;
        }
        if (inRun && points[ahead].time - points[runStart].time >= sustainedMovement) {
            if (!runCounted)
                runs.push_back({ runStart, ahead, true });
            runCounted = true;
            runs.back().last = ahead;
        }
    }
    std::vector<FlightSpan> flights;
    for (const FlightSpan& run : runs) {
        if (!flights.empty()) {
            const TrackPoint& landed = points[flights.back().last];
            const TrackPoint& relaunch = points[run.first];
            const std::int64_t ground = relaunch.time - landed.time;
            const int altitudeChange = std::abs(level[relaunch.index] - level[landed.index]);
            // Over steps of pathStep, where the jitter of a recorder at rest averages out;
            // a gap in the recording (switched off for a drive) and a jump do not count.
            double path = 0;
            for (std::size_t i = flights.back().last, next = i; i < run.first; i = next) {
                next = std::min(run.first, pointAfter(points, i, i + 1, pathStep));
                const std::int64_t seconds = points[next].time - points[i].time;
                const double leg = legMetres(points[i], points[next]);
                if (seconds <= excursionTime && leg <= plausibleGroundSpeed * static_cast<double>(std::max<std::int64_t>(1, seconds)))
                    path += leg;
            }
            if (ground < groundTime || altitudeChange > groundVerticalSpeed * static_cast<double>(ground)
                || path > groundPathSpeed * static_cast<double>(ground)) {
                flights.back().last = std::max(flights.back().last, run.last);
                continue;
            }
        }
        flights.push_back(run);
    }
    if (flights.empty())
        flights.push_back({ 0, points.size() - 1, false });
    return flights;
}

FlightFigures figuresOf(const IgcFlight& flight, const std::vector<TrackPoint>& points, const FlightSpan& span,
    const CleanAltitude* pressure, const CleanAltitude* gnss)
{
    FlightFigures figures;
    figures.pilot = flight.pilot();
    figures.glider = flight.glider();
    figures.instrument = flight.loggerId;
    const std::vector<IgcFix>& fixes = flight.fixes;
    figures.altitudeSource = pressure ? "pressure" : "gnss";
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
    // need the satellites), GNSS from valid fixes only, neither from an excursion.
    for (std::size_t i = takeoff.index; i <= landing.index; ++i) {
        const IgcFix& fix = fixes[i];
        if (pressure && !pressure->excursion[i]) {
            figures.maxPressureAltitude = std::max(figures.maxPressureAltitude.value_or(fix.pressureAltitude), fix.pressureAltitude);
            figures.minPressureAltitude = std::min(figures.minPressureAltitude.value_or(fix.pressureAltitude), fix.pressureAltitude);
        }
        if (gnss && fix.valid && !gnss->excursion[i]) {
            figures.maxGnssAltitude = std::max(figures.maxGnssAltitude.value_or(fix.gnssAltitude), fix.gnssAltitude);
            figures.minGnssAltitude = std::min(figures.minGnssAltitude.value_or(fix.gnssAltitude), fix.gnssAltitude);
        }
    }

    // Climb and sink as a vario averages them, from the pressure sensor where there is
    // one, without the recorder's jumps.
    const CleanAltitude* vario = pressure ? pressure : gnss;
    if (!vario)
        return figures;
    std::size_t ahead = takeoff.index;
    const auto counts = [&](std::size_t i) { return (pressure || fixes[i].valid) && !vario->excursion[i]; };
    for (std::size_t i = takeoff.index; i <= landing.index; ++i) {
        if (!counts(i))
            continue;
        ahead = std::max(ahead, i + 1);
        while (ahead <= landing.index && (fixes[ahead].time - fixes[i].time < climbSpan || !counts(ahead)))
            ++ahead;
        if (ahead > landing.index)
            break;
        const double seconds = static_cast<double>(fixes[ahead].time - fixes[i].time);
        const int climb = vario->level[ahead] - vario->level[i];
        figures.bestClimb = std::max(figures.bestClimb, climb / seconds);
        figures.bestSink = std::min(figures.bestSink, climb / seconds);
    }
    return figures;
}

} // namespace

std::vector<FlightFigures> computeFlights(const IgcFlight& flight)
{
    clearUpperVectorState();
    const std::vector<IgcFix>& fixes = flight.fixes;
    if (fixes.empty()) {
        FlightFigures figures;
        figures.pilot = flight.pilot();
        figures.glider = flight.glider();
        figures.instrument = flight.loggerId;
        return { figures };
    }

    // Positions from valid fixes only; a file without one still has its times.
    std::vector<TrackPoint> points;
    points.reserve(fixes.size());
    TrackPoints trackPoint;
    for (std::size_t i = 0; i < fixes.size(); ++i) {
        if (fixes[i].valid)
            points.push_back(trackPoint(fixes[i], i));
    }
    if (points.empty()) {
        for (std::size_t i = 0; i < fixes.size(); ++i)
            points.push_back(trackPoint(fixes[i], i));
    }
    points = withoutPositionJumps(points);
    const bool hasPressure = std::any_of(fixes.begin(), fixes.end(), [](const IgcFix& fix) { return fix.pressureAltitude != 0; });
    const bool hasGnss = std::any_of(fixes.begin(), fixes.end(), [](const IgcFix& fix) { return fix.valid && fix.gnssAltitude != 0; });
    std::optional<CleanAltitude> pressure, gnss;
    if (hasPressure)
        pressure = cleanAltitude(fixes, true);
    if (hasGnss || !hasPressure)
        gnss = cleanAltitude(fixes, false);

    std::vector<FlightFigures> flights;
    for (const FlightSpan& span : findFlights(points, (pressure ? *pressure : *gnss).level))
        flights.push_back(figuresOf(flight, points, span, pressure ? &*pressure : nullptr, hasGnss ? &*gnss : nullptr));
    return flights;
}

FlightFigures computeFigures(const IgcFlight& flight) { return computeFlights(flight).front(); }

} // namespace corvex::flights
