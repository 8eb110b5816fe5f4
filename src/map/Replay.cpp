#include "map/Replay.h"

#include "geo/GeoPoint.h"

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// Metres east and north from one place to another near it, on the mean sphere: enough
// for the chord between two fixes a few seconds apart.
struct LocalStep {
    double east { 0 };
    double north { 0 };
};

LocalStep stepBetween(GeoPoint from, GeoPoint to)
{
    const double latitude = geo::radians((from.latitude + to.latitude) / 2);
    double longitudeDegrees = to.longitude - from.longitude;
    if (longitudeDegrees > 180)
        longitudeDegrees -= 360;
    else if (longitudeDegrees < -180)
        longitudeDegrees += 360;
    return { geo::radians(longitudeDegrees) * std::cos(latitude) * geo::meanEarthRadiusMetres,
        geo::radians(to.latitude - from.latitude) * geo::meanEarthRadiusMetres };
}

double headingOf(LocalStep step)
{
    double heading = geo::degrees(std::atan2(step.east, step.north));
    if (heading < 0)
        heading += 360;
    return heading >= 360 ? heading - 360 : heading;
}

bool samePlace(GeoPoint a, GeoPoint b)
{
    return a.latitude == b.latitude && a.longitude == b.longitude;
}

} // namespace

std::optional<GliderState> gliderStateAt(const TrackPoints& track, double time)
{
    if (track.empty() || !std::isfinite(time) || time < static_cast<double>(track.front().time)
        || time > static_cast<double>(track.back().time))
        return std::nullopt;

    // The last fix at or before time.
    const auto after = std::upper_bound(track.begin(), track.end(), time,
        [](double t, const TrackPoint& point) { return t < static_cast<double>(point.time); });
    const std::size_t index = static_cast<std::size_t>(after - track.begin()) - 1;
    const std::size_t next = std::min(index + 1, track.size() - 1);
    const TrackPoint& a = track[index];
    const TrackPoint& b = track[next];

    GliderState state;
    state.fixIndex = index;
    const double span = static_cast<double>(b.time - a.time);
    const double f = span > 0 ? (time - static_cast<double>(a.time)) / span : 0.0;
    double longitudeStep = b.position.longitude - a.position.longitude;
    if (longitudeStep > 180)
        longitudeStep -= 360;
    else if (longitudeStep < -180)
        longitudeStep += 360;
    double longitude = a.position.longitude + longitudeStep * f;
    if (longitude > 180)
        longitude -= 360;
    else if (longitude < -180)
        longitude += 360;
    state.position = { a.position.latitude + (b.position.latitude - a.position.latitude) * f, longitude };
    state.altitude = a.altitude + (b.altitude - a.altitude) * f;
    state.varioMs = a.vario + (b.vario - a.vario) * f;

    // The chord: widen it over fixes repeated in one place until it has a direction.
    std::size_t from = index;
    std::size_t to = next;
    while (samePlace(track[from].position, track[to].position)) {
        if (to + 1 < track.size())
            ++to;
        else if (from > 0)
            --from;
        else
            return state; // never moved
        if (!samePlace(track[from].position, track[to].position))
            break;
        if (from > 0)
            --from;
    }
    const LocalStep step = stepBetween(track[from].position, track[to].position);
    state.headingDegrees = headingOf(step);
    const double seconds = static_cast<double>(track[to].time - track[from].time);
    if (seconds > 0)
        state.groundSpeedKmh = std::hypot(step.east, step.north) / seconds * 3.6;
    return state;
}

void ReplayClock::setSpan(double begin, double end)
{
    m_begin = begin;
    m_end = std::max(begin, end);
    m_time = std::clamp(m_time, m_begin, m_end);
    if (m_time >= m_end)
        m_playing = false;
}

void ReplayClock::seek(double t)
{
    if (std::isfinite(t))
        m_time = std::clamp(t, m_begin, m_end);
}

void ReplayClock::setSpeed(double speed)
{
    if (std::isfinite(speed))
        m_speed = std::clamp(speed, minimumSpeed, maximumSpeed);
}

void ReplayClock::play()
{
    if (m_end <= m_begin)
        return;
    if (m_time >= m_end)
        m_time = m_begin;
    m_playing = true;
}

void ReplayClock::pause()
{
    m_playing = false;
}

double ReplayClock::advance(double wallSeconds)
{
    if (!m_playing || !(wallSeconds > 0))
        return m_time;
    m_time = std::min(m_end, m_time + wallSeconds * m_speed);
    if (m_time >= m_end)
        m_playing = false;
    return m_time;
}

std::optional<double> nextMoment(const std::vector<std::int64_t>& sorted, double t)
{
    const auto found = std::upper_bound(sorted.begin(), sorted.end(), t + 0.5,
        [](double value, std::int64_t moment) { return value < static_cast<double>(moment); });
    if (found == sorted.end())
        return std::nullopt;
    return static_cast<double>(*found);
}

std::optional<double> previousMoment(const std::vector<std::int64_t>& sorted, double t)
{
    const auto found = std::lower_bound(sorted.begin(), sorted.end(), t - 0.5,
        [](std::int64_t moment, double value) { return static_cast<double>(moment) < value; });
    if (found == sorted.begin())
        return std::nullopt;
    return static_cast<double>(*std::prev(found));
}

std::optional<MapPoint> followingCentre(const MapRect& visible, MapPoint point, double middleFraction)
{
    if (visible.isNull())
        return point;
    const double fraction = std::clamp(middleFraction, 0.0, 1.0);
    const double marginX = visible.width * (1 - fraction) / 2;
    const double marginY = visible.height * (1 - fraction) / 2;
    const bool inside = point.x >= visible.x + marginX && point.x <= visible.x + visible.width - marginX
        && point.y >= visible.y + marginY && point.y <= visible.y + visible.height - marginY;
    if (inside)
        return std::nullopt;
    return point;
}

} // namespace corvex
