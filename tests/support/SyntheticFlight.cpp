#include "SyntheticFlight.h"

#include "geo/GeoPoint.h"

#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>

namespace corvex::testing {

namespace {

constexpr double step = 0.05; // s, the simulation's step

double metresPerDegreeLatitude(double latitude)
{
    const double phi = geo::radians(latitude);
    return 111132.954 - 559.822 * std::cos(2 * phi) + 1.175 * std::cos(4 * phi);
}

double metresPerDegreeLongitude(double latitude)
{
    const double phi = geo::radians(latitude);
    return 111412.84 * std::cos(phi) - 93.5 * std::cos(3 * phi) + 0.118 * std::cos(5 * phi);
}

struct Sample {
    double latitude, longitude, altitude;
};

struct Simulation {
    std::vector<Sample> samples; // one per log interval from the start
    std::vector<SyntheticFlight::Flown> flown;
};

// A thermal's turns go on, turning the same way, until the glider heads on the next
// glide's course, as a pilot rolls out: those degrees are circling too.
double rollOutDegrees(const SyntheticFlight& script, std::size_t index, double heading)
{
    const SyntheticFlight::Segment& thermal = script.segments[index];
    if (index + 1 >= script.segments.size() || script.segments[index + 1].kind == SyntheticFlight::Kind::Ground
        || script.segments[index + 1].kind == SyntheticFlight::Kind::Thermal)
        return 0;
    const double end = heading + (thermal.right ? 1 : -1) * 360 * thermal.turns;
    const double toCourse = std::fmod((script.segments[index + 1].courseDegrees - end) * (thermal.right ? 1 : -1) + 720.0, 360.0);
    return toCourse;
}

Simulation simulate(const SyntheticFlight& script)
{
    Simulation simulation;
    const double windEast = -script.windKmh / 3.6 * std::sin(geo::radians(script.windFromDegrees));
    const double windNorth = -script.windKmh / 3.6 * std::cos(geo::radians(script.windFromDegrees));
    double latitude = script.startLatitude, longitude = script.startLongitude, altitude = script.startAltitude;
    double heading = script.segments.empty() ? 0 : script.segments.front().courseDegrees;
    double clock = 0; // s since the start
    double nextLog = 0;
    const auto log = [&] {
        while (nextLog <= clock + 1e-9) {
            simulation.samples.push_back({ latitude, longitude, altitude });
            nextLog += script.logSeconds;
        }
    };
    log();
    for (std::size_t index = 0; index < script.segments.size(); ++index) {
        const SyntheticFlight::Segment& segment = script.segments[index];
        SyntheticFlight::Flown flown { segment.kind, script.startTime + std::llround(clock), 0, altitude, 0, 0 };
        const double duration = segment.kind == SyntheticFlight::Kind::Thermal
            ? (segment.turns + rollOutDegrees(script, index, heading) / 360) * segment.circleSeconds
            : segment.seconds;
        const long steps = std::lround(duration / step);
        if (segment.kind == SyntheticFlight::Kind::Glide)
            heading = segment.courseDegrees;
        for (long s = 0; s < steps; ++s) {
            double east = 0, north = 0, climb = 0;
            if (segment.kind != SyntheticFlight::Kind::Ground) {
                const double t = (static_cast<double>(s) + 0.5) * step; // the middle of the step
                double flownHeading = heading;
                if (segment.kind == SyntheticFlight::Kind::Thermal)
                    flownHeading = heading + (segment.right ? 1 : -1) * 360 * t / segment.circleSeconds;
                else if (segment.kind == SyntheticFlight::Kind::STurns)
                    flownHeading = segment.courseDegrees
                        + segment.sTurnDegrees * std::sin(2 * geo::pi * t / segment.sTurnPeriodSeconds);
                const double airspeed = segment.airspeedKmh / 3.6;
                east = airspeed * std::sin(geo::radians(flownHeading)) + windEast;
                north = airspeed * std::cos(geo::radians(flownHeading)) + windNorth;
                climb = segment.varioMs;
            }
            flown.groundMetres += std::hypot(east, north) * step;
            latitude += north * step / metresPerDegreeLatitude(latitude);
            longitude += east * step / metresPerDegreeLongitude(latitude);
            altitude += climb * step;
            clock += step;
            log();
        }
        if (segment.kind == SyntheticFlight::Kind::Thermal)
            heading += (segment.right ? 1 : -1) * 360 * duration / segment.circleSeconds;
        else if (segment.kind == SyntheticFlight::Kind::STurns)
            heading = segment.courseDegrees;
        flown.endTime = script.startTime + std::llround(clock);
        flown.endAltitude = altitude;
        simulation.flown.push_back(flown);
    }
    return simulation;
}

} // namespace

SyntheticFlight& SyntheticFlight::ground(double seconds)
{
    Segment segment;
    segment.kind = Kind::Ground;
    segment.seconds = seconds;
    segment.varioMs = 0;
    segments.push_back(segment);
    return *this;
}

SyntheticFlight& SyntheticFlight::glide(double seconds, double courseDegrees, double airspeedKmh, double sinkMs)
{
    Segment segment;
    segment.kind = Kind::Glide;
    segment.seconds = seconds;
    segment.courseDegrees = courseDegrees;
    segment.airspeedKmh = airspeedKmh;
    segment.varioMs = -sinkMs;
    segments.push_back(segment);
    return *this;
}

SyntheticFlight& SyntheticFlight::thermal(double turns, double climbMs, bool right, double circleSeconds, double airspeedKmh)
{
    Segment segment;
    segment.kind = Kind::Thermal;
    segment.turns = turns;
    segment.varioMs = climbMs;
    segment.right = right;
    segment.circleSeconds = circleSeconds;
    segment.airspeedKmh = airspeedKmh;
    segments.push_back(segment);
    return *this;
}

SyntheticFlight& SyntheticFlight::sTurns(double seconds, double courseDegrees, double swingDegrees, double periodSeconds)
{
    Segment segment;
    segment.kind = Kind::STurns;
    segment.seconds = seconds;
    segment.courseDegrees = courseDegrees;
    segment.sTurnDegrees = swingDegrees;
    segment.sTurnPeriodSeconds = periodSeconds;
    segment.varioMs = -1.1;
    segments.push_back(segment);
    return *this;
}

std::vector<SyntheticFlight::Flown> SyntheticFlight::flown() const { return simulate(*this).flown; }

std::string SyntheticFlight::igcText() const
{
    const Simulation simulation = simulate(*this);
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0, 1);
    const flights::IgcDate date = flights::IgcDate::ofTime(startTime);
    char line[96];
    std::snprintf(line, sizeof line, "AXSY001 synthetic\r\nHFDTE%02d%02d%02d\r\nHFGTYGLIDERTYPE:Synthetic\r\n", date.day, date.month,
        date.year % 100);
    std::string text = line;
    for (std::size_t i = 0; i < simulation.samples.size(); ++i) {
        const Sample& sample = simulation.samples[i];
        const double seconds = static_cast<double>(i) * logSeconds;
        double altitude = sample.altitude;
        for (const Spike& spike : spikes)
            if (seconds >= spike.atSeconds && seconds < spike.atSeconds + spike.seconds)
                altitude += spike.metres;
        const double latitude = sample.latitude + gpsNoiseMetres * noise(random) / metresPerDegreeLatitude(sample.latitude);
        const double longitude = sample.longitude + gpsNoiseMetres * noise(random) / metresPerDegreeLongitude(sample.latitude);
        const long latMilli = std::lround(std::fabs(latitude) * 60000);
        const long lonMilli = std::lround(std::fabs(longitude) * 60000);
        const std::int64_t time = startTime + static_cast<std::int64_t>(i) * logSeconds;
        const int second = static_cast<int>(time % 86400);
        if (time / 86400 != startTime / 86400)
            throw std::runtime_error("a synthetic flight ends on its day");
        const int pressure = pressureSensor ? static_cast<int>(std::lround(altitude)) : 0;
        const int gnss = static_cast<int>(std::lround(altitude + 25));
        std::snprintf(line, sizeof line, "B%02d%02d%02d%02ld%05ld%c%03ld%05ld%cA%05d%05d\r\n", second / 3600, second / 60 % 60,
            second % 60, latMilli / 60000, latMilli % 60000, latitude < 0 ? 'S' : 'N', lonMilli / 60000, lonMilli % 60000,
            longitude < 0 ? 'W' : 'E', pressure, gnss);
        text += line;
    }
    return text;
}

flights::IgcFlight SyntheticFlight::flight() const
{
    auto parsed = flights::parseIgc(igcText());
    if (!parsed)
        throw std::runtime_error("a synthetic flight does not read back: " + parsed.error());
    return std::move(parsed.value());
}

} // namespace corvex::testing
