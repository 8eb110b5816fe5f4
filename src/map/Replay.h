#pragma once

#include "map/MapGeometry.h"
#include "map/MapTrack.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvex {

// Where a glider is at a moment, between two fixes of its track.
struct GliderState {
    GeoPoint position;
    double altitude { 0 };        // metres
    double headingDegrees { 0 };  // true, 0..360, direction of travel
    double varioMs { 0 };
    double groundSpeedKmh { 0 };
    std::size_t fixIndex { 0 };   // the fix at or before the moment
};

// The glider between the fixes around time, linearly interpolated (across a gap in the
// recording too: the glider flew there somehow). The heading and the ground speed are
// those of the chord between the two fixes, or, where the glider did not move between
// them (a fix repeated on the ground), of the nearest neighbours that differ; a glider
// that never moved heads north at no speed. Nothing before the track's first fix or
// after its last.
std::optional<GliderState> gliderStateAt(const TrackPoints& track, double time);

// Play/pause, speed ×1..×200, a span [begin, end]; advance(wall seconds) moves time by
// wall × speed while playing and stops (pauses) at the end. Time stays within the span.
class ReplayClock {
public:
    static constexpr double minimumSpeed = 1;
    static constexpr double maximumSpeed = 200;

    // Keeps the current time where it lies within the new span, else the nearer end.
    void setSpan(double begin, double end);
    double begin() const { return m_begin; }
    double end() const { return m_end; }

    void seek(double t);
    void setSpeed(double speed);
    double speed() const { return m_speed; }
    // Playing from the end starts again at the beginning.
    void play();
    void pause();
    bool isPlaying() const { return m_playing; }
    double time() const { return m_time; }
    // The new time.
    double advance(double wallSeconds);

private:
    double m_begin { 0 };
    double m_end { 0 };
    double m_time { 0 };
    double m_speed { 1 };
    bool m_playing { false };
};

// The first moment after t (previous: before t) in a sorted list of moments (thermal
// starts of one or several flights); nothing when there is none. A moment within half a
// second of t counts as t itself, so that stepping from a moment lands on the next one.
std::optional<double> nextMoment(const std::vector<std::int64_t>& sorted, double t);
std::optional<double> previousMoment(const std::vector<std::int64_t>& sorted, double t);

// Where a view following a point is to be centred: nothing while the point lies in the
// middle of the visible rectangle (the inner middleFraction of its width and height),
// else the point itself. Re-centring only now and then lets a view reuse what it drew.
std::optional<MapPoint> followingCentre(const MapRect& visible, MapPoint point, double middleFraction = 0.5);

} // namespace corvex
