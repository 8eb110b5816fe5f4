#include "analysis/FlightDebrief.h"

#include "base/VectorState.h"
#include "flights/AltitudeJumps.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvex::analysis {

namespace {

// The thresholds (the header states them too).
// A heading is the direction of the chord from the fix this long before to the fix
// this long after: a recorder's few metres of noise over one second's leg would turn
// the heading by tens of degrees.
constexpr double headingChordSeconds = 2;
// Slower than this over the chord, the glider stands (or hangs in a wind as strong as
// its airspeed) and the chord's direction is noise: the heading stays.
constexpr double headingMinSpeed = 2; // m/s
// A turn rate is the heading change over this span centred on the fix.
constexpr double turnRateSeconds = 10;
// Turning this fast is turning (a full circle in 90 s or less); a circle is 360° of
// it in one direction, with gaps of at most sameTurnGapSeconds of straighter flight.
constexpr double circlingTurnRate = 4; // degrees per second
constexpr double circleDegrees = 360;
constexpr double sameTurnGapSeconds = 15;
// Circling stretches with less straight flight than this between them are one phase.
constexpr double phaseGapSeconds = 20;
// A circling phase is a thermal when it gained at least this.
constexpr double thermalGainMetres = 20;
// Best climb over this span.
constexpr std::int64_t climbSpanSeconds = 20;
// A minority direction beyond this share of the turning makes a phase's direction mixed.
constexpr double mixedShare = 0.2;
// A glide that lost less than this has no glide ratio.
constexpr double glideRatioMinLossMetres = 5;
// Glide distances are measured over steps of at least this, so that a recorder's noise
// does not add to the way.
constexpr std::int64_t glideStepSeconds = 5;
// Wind confidence: the count of circles up to confidentCircles, times how well their
// mean is known: 1 / (1 + (standard error / halvingErrorKmh)^2), the standard error
// being the circles' spread (root mean square from their mean) over sqrt(circles - 1).
// One circle alone gives singleCircleConfidence.
constexpr double confidentCircles = 4;
constexpr double halvingErrorKmh = 5;
constexpr double singleCircleConfidence = 0.25;
// A fix reached faster than this beyond positionSlack from both neighbours, which are
// plausible from each other, places nothing (as in the flight's figures).
constexpr double plausibleGroundSpeed = 100; // m/s
constexpr double positionSlack = 100; // m

constexpr double vario20HalfSpan = 10; // s
constexpr double groundSpeedHalfSpan = 5; // s
constexpr double speedStepSeconds = 2;
// A phase's end lies between its end fix and the straight fix beside it (see
// turnEdge), unless that is further than this (a gap in the log): then at the end fix.
constexpr std::int64_t maxEdgeGapSeconds = 10;
// Each side's climb or sink at a phase's end is its trend over this long.
constexpr double trendSeconds = 10;

double wrapDegrees(double d)
{
    while (d > 180)
        d -= 360;
    while (d <= -180)
        d += 360;
    return d;
}

// Metres per degree of latitude and of longitude on WGS84 at this latitude (the series
// expansion, good to a centimetre a kilometre).
std::pair<double, double> metresPerDegree(double latitude)
{
    const double phi = geo::radians(latitude);
    return { 111132.954 - 559.822 * std::cos(2 * phi) + 1.175 * std::cos(4 * phi),
        111412.84 * std::cos(phi) - 93.5 * std::cos(3 * phi) + 0.118 * std::cos(5 * phi) };
}

// A fix placed on a plane made of the legs themselves: each leg measured at its own
// latitude, so that differences over a few minutes are true to a fraction of a percent.
struct Point {
    std::size_t index { 0 };
    std::int64_t time { 0 };
    double x { 0 }, y { 0 }; // metres east and north of the first point
    double altitude { 0 };
    double heading { 0 }; // unwrapped degrees, clockwise positive
    double turnRate { 0 }; // degrees per second, right positive
    // The turn at this fix alone: from the leg that ends here to the leg that starts
    // here, each of headingChordSeconds or the next fix, over half their time.
    double cornerRate { 0 };
    double cornerDegrees { 0 }; // the same as an angle, right positive
};


bool usesPressure(const flights::IgcFlight& flight)
{
    return std::any_of(flight.fixes.begin(), flight.fixes.end(), [](const flights::IgcFix& fix) { return fix.pressureAltitude != 0; });
}

// The fixes first..last that place the glider, on the plane, with their clean altitude.
std::vector<Point> placedPoints(const flights::IgcFlight& flight, std::size_t first, std::size_t last, const std::vector<int>& level)
{
    const auto& fixes = flight.fixes;
    const bool anyValid = std::any_of(fixes.begin() + static_cast<std::ptrdiff_t>(first),
        fixes.begin() + static_cast<std::ptrdiff_t>(last) + 1, [](const flights::IgcFix& fix) { return fix.valid; });
    std::vector<std::size_t> used;
    used.reserve(last - first + 1);
    for (std::size_t i = first; i <= last; ++i) {
        if ((fixes[i].valid || !anyValid) && (used.empty() || fixes[i].time > fixes[used.back()].time))
            used.push_back(i);
    }
    const auto legMetres = [&](std::size_t from, std::size_t to) {
        const auto [perLat, perLon] = metresPerDegree((fixes[from].latitude + fixes[to].latitude) / 2);
        double dLon = fixes[to].longitude - fixes[from].longitude;
        dLon = dLon > 180 ? dLon - 360 : dLon < -180 ? dLon + 360 : dLon;
        return std::pair { dLon * perLon, (fixes[to].latitude - fixes[from].latitude) * perLat };
    };
    const auto jumped = [&](std::size_t from, std::size_t to) {
        const auto [east, north] = legMetres(from, to);
        const double seconds = static_cast<double>(std::max<std::int64_t>(1, fixes[to].time - fixes[from].time));
        return std::hypot(east, north) > plausibleGroundSpeed * seconds + positionSlack;
    };
    std::vector<Point> points;
    points.reserve(used.size());
    std::size_t previous = 0;
    for (std::size_t k = 0; k < used.size(); ++k) {
        const std::size_t i = used[k];
        Point point;
        point.index = i;
        point.time = fixes[i].time;
        point.altitude = level[i];
        if (!points.empty()) {
            if (k + 1 < used.size() && jumped(previous, i) && jumped(i, used[k + 1]) && !jumped(previous, used[k + 1]))
                continue;
            const auto [east, north] = legMetres(previous, i);
            point.x = points.back().x + east;
            point.y = points.back().y + north;
        }
        points.push_back(point);
        previous = i;
    }
    return points;
}

double seconds(const std::vector<Point>& points, std::size_t from, std::size_t to)
{
    return static_cast<double>(points[to].time - points[from].time);
}

// For each point, the last point at least `span` seconds before it (the first point
// when there is none) and the first at least `span` after it (the last when none).
template<typename Use>
void eachSpan(const std::vector<Point>& points, double span, Use use)
{
    std::size_t back = 0, ahead = 0;
    for (std::size_t k = 0; k < points.size(); ++k) {
        while (back + 1 < k && static_cast<double>(points[k].time - points[back + 1].time) >= span)
            ++back;
        ahead = std::max(ahead, k);
        while (ahead + 1 < points.size() && static_cast<double>(points[ahead].time - points[k].time) < span)
            ++ahead;
        use(k, std::min(back, k), ahead);
    }
}

// Headings from chords, unwrapped, and turn rates over turnRateSeconds.
void addHeadings(std::vector<Point>& points)
{
    if (points.size() < 2)
        return;
    double previousHeading = std::numeric_limits<double>::quiet_NaN();
    double unwrapped = 0;
    std::size_t firstMoved = points.size();
    eachSpan(points, headingChordSeconds, [&](std::size_t k, std::size_t from, std::size_t to) {
        const double dx = points[to].x - points[from].x, dy = points[to].y - points[from].y;
        const double chordSeconds = static_cast<double>(points[to].time - points[from].time);
        if (chordSeconds > 0 && std::hypot(dx, dy) >= headingMinSpeed * chordSeconds) {
            const double heading = geo::degrees(std::atan2(dx, dy));
            unwrapped = std::isnan(previousHeading) ? heading : unwrapped + wrapDegrees(heading - previousHeading);
            previousHeading = heading;
            firstMoved = std::min(firstMoved, k);
        }
        points[k].heading = unwrapped;
    });
    // Before the first chord that moved, the heading is that of the first one.
    for (std::size_t k = 0; k < firstMoved && firstMoved < points.size(); ++k)
        points[k].heading = points[firstMoved].heading;
    eachSpan(points, headingChordSeconds, [&](std::size_t k, std::size_t from, std::size_t to) {
        if (from == k || to == k)
            return;
        const double inX = points[k].x - points[from].x, inY = points[k].y - points[from].y;
        const double outX = points[to].x - points[k].x, outY = points[to].y - points[k].y;
        const double inSeconds = seconds(points, from, k), outSeconds = seconds(points, k, to);
        if (std::hypot(inX, inY) < headingMinSpeed * inSeconds || std::hypot(outX, outY) < headingMinSpeed * outSeconds)
            return;
        const double turn = wrapDegrees(geo::degrees(std::atan2(outX, outY) - std::atan2(inX, inY)));
        points[k].cornerDegrees = turn;
        points[k].cornerRate = turn / ((inSeconds + outSeconds) / 2);
    });
    eachSpan(points, turnRateSeconds / 2, [&](std::size_t k, std::size_t from, std::size_t to) {
        const double seconds = static_cast<double>(points[to].time - points[from].time);
        points[k].turnRate = seconds > 0 ? (points[to].heading - points[from].heading) / seconds : 0;
    });
}

std::vector<Point> trackOf(const flights::IgcFlight& flight, std::size_t first, std::size_t last, bool pressure)
{
    const flights::CleanAltitude clean = flights::cleanAltitude(flight.fixes, pressure);
    std::vector<Point> points = placedPoints(flight, first, last, clean.level);
    // The level holds through an excursion; the glider went on climbing or sinking, so
    // its fixes take the altitude between the fixes around it.
    for (std::size_t k = 0; k < points.size();) {
        if (!clean.excursion[points[k].index]) {
            ++k;
            continue;
        }
        std::size_t end = k;
        while (end < points.size() && clean.excursion[points[end].index])
            ++end;
        if (k > 0 && end < points.size()) {
            const Point& before = points[k - 1];
            const Point& after = points[end];
            const double span = static_cast<double>(after.time - before.time);
            for (std::size_t j = k; j < end; ++j)
                points[j].altitude = before.altitude
                    + (after.altitude - before.altitude) * static_cast<double>(points[j].time - before.time) / span;
        }
        k = end;
    }
    addHeadings(points);
    return points;
}

// A run of points turning one way, [first, last] in the points.
struct Turn {
    std::size_t first { 0 }, last { 0 };
    int sign { 0 }; // +1 right, -1 left
    double degrees { 0 }; // net heading change, signed
};

// The circles: runs of turning faster than circlingTurnRate one way, joined across
// short gaps, that add up to a full circle.
std::vector<Turn> circlingStretches(const std::vector<Point>& points)
{
    std::vector<Turn> runs;
    for (std::size_t k = 0; k < points.size(); ++k) {
        const double rate = points[k].turnRate;
        const int sign = rate >= circlingTurnRate ? 1 : rate <= -circlingTurnRate ? -1 : 0;
        if (sign == 0)
            continue;
        if (!runs.empty() && runs.back().sign == sign && runs.back().last + 1 == k)
            runs.back().last = k;
        else
            runs.push_back({ k, k, sign, 0 });
    }
    std::vector<Turn> joined;
    for (const Turn& run : runs) {
        if (!joined.empty() && joined.back().sign == run.sign && seconds(points, joined.back().last, run.first) <= sameTurnGapSeconds)
            joined.back().last = run.last;
        else
            joined.push_back(run);
    }
    // A turn rate over a span turns early and stops late by up to half the span: the
    // ends are the first and the last fix where the track itself bends.
    const auto turning = [&](std::size_t k, int sign) { return points[k].cornerRate * sign >= circlingTurnRate; };
    for (Turn& turn : joined) {
        const std::size_t first = turn.first, last = turn.last;
        while (turn.first < turn.last && seconds(points, first, turn.first) < turnRateSeconds && !turning(turn.first, turn.sign))
            ++turn.first;
        while (turn.last > turn.first && seconds(points, turn.last, last) < turnRateSeconds && !turning(turn.last, turn.sign))
            --turn.last;
    }
    std::vector<Turn> circles;
    for (Turn& turn : joined) {
        turn.degrees = points[turn.last].heading - points[turn.first].heading;
        if (turn.degrees * turn.sign >= circleDegrees)
            circles.push_back(turn);
    }
    return circles;
}

// The wind from whole circles: over each the air speed turns once round and cancels,
// so the drift of the circle's start to its end over its time is the wind.
struct CircleDrift {
    double east { 0 }, north { 0 }; // m/s
};

void addCircleDrifts(const std::vector<Point>& points, const Turn& turn, std::vector<CircleDrift>& drifts)
{
    // The time and place where the heading has turned `target` degrees from the turn's
    // start, interpolated between fixes.
    struct At {
        double time, x, y;
    };
    // The circles are counted where the chords lie wholly inside the turn: a chord that
    // reaches into the straight flight around it is turned by neither.
    std::size_t k = turn.first, last = turn.last;
    while (k + 1 < last && seconds(points, turn.first, k) < headingChordSeconds)
        ++k;
    while (last > k + 1 && seconds(points, last, turn.last) < headingChordSeconds)
        --last;
    At start { static_cast<double>(points[k].time), points[k].x, points[k].y };
    double startHeading = points[k].heading;
    for (;;) {
        const double target = startHeading + turn.sign * circleDegrees;
        while (k < last && (points[k + 1].heading - target) * turn.sign < 0)
            ++k;
        if (k >= last)
            return;
        const Point& a = points[k];
        const Point& b = points[k + 1];
        const double span = b.heading - a.heading;
        const double share = span != 0 ? std::clamp((target - a.heading) / span, 0.0, 1.0) : 1.0;
        const At end { static_cast<double>(a.time) + share * static_cast<double>(b.time - a.time), a.x + share * (b.x - a.x),
            a.y + share * (b.y - a.y) };
        const double duration = end.time - start.time;
        if (duration > 0)
            drifts.push_back({ (end.x - start.x) / duration, (end.y - start.y) / duration });
        start = end;
        startHeading = target;
    }
}

std::optional<WindEstimate> windOf(const std::vector<CircleDrift>& drifts)
{
    if (drifts.empty())
        return std::nullopt;
    double east = 0, north = 0;
    for (const CircleDrift& drift : drifts) {
        east += drift.east;
        north += drift.north;
    }
    const double n = static_cast<double>(drifts.size());
    east /= n;
    north /= n;
    double spread = 0;
    for (const CircleDrift& drift : drifts)
        spread += (drift.east - east) * (drift.east - east) + (drift.north - north) * (drift.north - north);
    const double spreadKmh = std::sqrt(spread / n) * 3.6;
    WindEstimate wind;
    wind.circles = static_cast<int>(drifts.size());
    wind.speedKmh = std::hypot(east, north) * 3.6;
    // It blows from the opposite of where it carries.
    double from = geo::degrees(std::atan2(-east, -north));
    if (from < 0)
        from += 360;
    wind.fromDegrees = from >= 360 ? from - 360 : from;
    if (drifts.size() < 2) {
        wind.confidence = singleCircleConfidence;
    } else {
        const double error = spreadKmh / std::sqrt(n - 1) / halvingErrorKmh;
        wind.confidence = std::min(1.0, n / confidentCircles) / (1 + error * error);
    }
    return wind;
}

double bestClimb(const std::vector<Point>& points, std::size_t first, std::size_t last)
{
    if (points[last].time - points[first].time <= climbSpanSeconds)
        return last > first ? (points[last].altitude - points[first].altitude) / seconds(points, first, last) : 0;
    double best = -std::numeric_limits<double>::infinity();
    std::size_t ahead = first;
    for (std::size_t k = first; k <= last; ++k) {
        ahead = std::max(ahead, k + 1);
        while (ahead <= last && points[ahead].time - points[k].time < climbSpanSeconds)
            ++ahead;
        if (ahead > last)
            break;
        best = std::max(best, (points[ahead].altitude - points[k].altitude) / seconds(points, k, ahead));
    }
    return best;
}

GeoPoint meanPlace(const flights::IgcFlight& flight, const std::vector<Point>& points, std::size_t first, std::size_t last)
{
    double latitude = 0, east = 0, north = 0;
    for (std::size_t k = first; k <= last; ++k) {
        const double lon = geo::radians(flight.fixes[points[k].index].longitude);
        latitude += flight.fixes[points[k].index].latitude;
        east += std::sin(lon);
        north += std::cos(lon);
    }
    const double n = static_cast<double>(last - first + 1);
    return { latitude / n, geo::degrees(std::atan2(east, north)) };
}

// Where a circling phase begins or ends: the turn started between the last straight
// fix and the first that bends (and stopped between the last that bends and the next),
// half way the best guess. On a log of a fix every few seconds that keeps the circles'
// climb out of the glide beside them, and the glide's sink out of the climb, on average.
struct Edge {
    double time { 0 }, x { 0 }, y { 0 }, altitude { 0 };
};

// Fix a, or b, or a place between them on the leg, `share` of the way.
Edge edgeOnLeg(const std::vector<Point>& points, std::size_t a, std::size_t b, double share)
{
    const Point& p = points[a];
    const Point& q = points[b];
    return { static_cast<double>(p.time) + share * static_cast<double>(q.time - p.time), p.x + share * (q.x - p.x),
        p.y + share * (q.y - p.y), p.altitude + share * (q.altitude - p.altitude) };
}

Edge atPoint(const std::vector<Point>& points, std::size_t k) { return edgeOnLeg(points, k, k, 0); }

// Where the turn began on the leg from the straight fix `straight` to the first fix
// that bends, `bent` (or ended, from the last that bends to the straight fix after).
// Logged every second the legs overlap and half way is as good as anything; on a
// sparser log a turn at `rate` begun (or ended) t before the leg's far end bends the
// leg's chord by rate t^2 / (2 leg), which is the bend seen at the straight fix. Across
// a gap in the log, at the fix that bends.
Edge turnEdge(const std::vector<Point>& points, std::size_t straight, std::size_t bent, int sign, double rate)
{
    if (straight == bent)
        return atPoint(points, bent);
    const std::size_t a = std::min(straight, bent), b = std::max(straight, bent);
    const double leg = seconds(points, a, b);
    if (leg > maxEdgeGapSeconds)
        return atPoint(points, bent);
    if (leg < 2 * headingChordSeconds || rate <= 0)
        return edgeOnLeg(points, a, b, 0.5);
    const double turned = std::clamp(std::sqrt(2 * leg * std::max(0.0, points[straight].cornerDegrees * sign) / rate), 0.0, leg);
    // The turn took `turned` seconds of the leg, at its start's end of it.
    Edge edge = edgeOnLeg(points, a, b, straight < bent ? 1 - turned / leg : turned / leg);
    // The height there: between the fixes it climbed on one side and sank on the other,
    // so each side's own trend carried to the edge, the two averaged.
    const auto carried = [&](std::size_t from, bool forward) {
        std::size_t to = from;
        while (forward ? to + 1 < points.size() : to > 0) {
            to = forward ? to + 1 : to - 1;
            if (std::fabs(seconds(points, std::min(from, to), std::max(from, to))) >= trendSeconds)
                break;
        }
        const double span = static_cast<double>(points[to].time - points[from].time);
        const double slope = span != 0 ? (points[to].altitude - points[from].altitude) / span : 0;
        return points[from].altitude + slope * (edge.time - static_cast<double>(points[from].time));
    };
    edge.altitude = (carried(straight, straight > bent) + carried(bent, bent > straight)) / 2;
    return edge;
}

double turnRateOf(const std::vector<Point>& points, const Turn& turn)
{
    const double duration = seconds(points, turn.first, turn.last);
    return duration > 0 ? std::fabs(turn.degrees) / duration : 0;
}

Edge startEdge(const std::vector<Point>& points, const Turn& turn)
{
    return turnEdge(points, turn.first > 0 ? turn.first - 1 : turn.first, turn.first, turn.sign, turnRateOf(points, turn));
}

Edge endEdge(const std::vector<Point>& points, const Turn& turn)
{
    return turnEdge(points, turn.last + 1 < points.size() ? turn.last + 1 : turn.last, turn.last, turn.sign, turnRateOf(points, turn));
}

CirclingPhase phaseOf(const flights::IgcFlight& flight, const std::vector<Point>& points, const std::vector<Turn>& turns,
    std::size_t firstTurn, std::size_t lastTurn, double& duration)
{
    const std::size_t first = turns[firstTurn].first, last = turns[lastTurn].last;
    const Edge start = startEdge(points, turns[firstTurn]), end = endEdge(points, turns[lastTurn]);
    CirclingPhase phase;
    phase.startIndex = points[first].index;
    phase.endIndex = points[last].index;
    phase.startTime = points[first].time;
    phase.endTime = points[last].time;
    phase.startAltitude = start.altitude;
    phase.endAltitude = end.altitude;
    phase.gainMetres = phase.endAltitude - phase.startAltitude;
    duration = end.time - start.time;
    phase.climbMs = duration > 0 ? phase.gainMetres / duration : 0;
    // A short phase's 20-s windows may all miss its best part; its best is never below its average.
    phase.bestClimbMs = std::max(bestClimb(points, first, last), phase.climbMs);
    double left = 0, right = 0;
    std::vector<CircleDrift> drifts;
    for (std::size_t t = firstTurn; t <= lastTurn; ++t) {
        (turns[t].sign < 0 ? left : right) += std::fabs(turns[t].degrees);
        addCircleDrifts(points, turns[t], drifts);
    }
    const double turning = left + right;
    phase.leftShare = turning > 0 ? left / turning : 0;
    phase.direction = std::min(left, right) > mixedShare * turning ? CircleDirection::Mixed
        : left > right                                             ? CircleDirection::Left
                                                                   : CircleDirection::Right;
    phase.circles = static_cast<int>(std::floor(turning / circleDegrees));
    phase.circleSeconds = turning > 0 ? seconds(points, first, last) * circleDegrees / turning : 0;
    phase.centre = meanPlace(flight, points, first, last);
    phase.wind = windOf(drifts);
    return phase;
}

double pathMetres(const std::vector<Point>& points, std::size_t first, std::size_t last)
{
    double metres = 0;
    if (last <= first)
        return 0;
    std::size_t from = first;
    for (std::size_t k = first + 1; k <= last; ++k) {
        if (points[k].time - points[from].time >= glideStepSeconds || k == last) {
            metres += std::hypot(points[k].x - points[from].x, points[k].y - points[from].y);
            from = k;
        }
    }
    return metres;
}

// The glide from fix `first` to fix `last`, its figures from the edge `from` to the
// edge `to` (see Edge).
Glide glideOf(const std::vector<Point>& points, std::size_t first, std::size_t last, const Edge& from, const Edge& to, double& duration)
{
    Glide glide;
    glide.startIndex = points[first].index;
    glide.endIndex = points[last].index;
    glide.startTime = points[first].time;
    glide.endTime = points[last].time;
    // The fixes strictly between the edges, and the way to and from them.
    const std::size_t a = static_cast<double>(points[first].time) < from.time ? first + 1 : first;
    const std::size_t b = static_cast<double>(points[last].time) > to.time && last > 0 ? last - 1 : last;
    if (a <= b && a < points.size())
        glide.distanceMetres = std::hypot(points[a].x - from.x, points[a].y - from.y) + pathMetres(points, a, b)
            + std::hypot(to.x - points[b].x, to.y - points[b].y);
    else
        glide.distanceMetres = std::hypot(to.x - from.x, to.y - from.y);
    duration = to.time - from.time;
    glide.speedKmh = duration > 0 ? glide.distanceMetres / duration * 3.6 : 0;
    glide.heightLostMetres = from.altitude - to.altitude;
    if (glide.heightLostMetres >= glideRatioMinLossMetres)
        glide.glideRatio = glide.distanceMetres / glide.heightLostMetres;
    glide.varioMs = duration > 0 ? -glide.heightLostMetres / duration : 0;
    return glide;
}

} // namespace

FlightDebrief debriefFlight(const flights::IgcFlight& flight, const flights::FlightFigures& figures)
{
    clearUpperVectorState();
    FlightDebrief debrief;
    const bool pressure = figures.altitudeSource == "pressure" || (figures.altitudeSource.empty() && usesPressure(flight));
    debrief.altitudeSource = pressure ? "pressure" : "gnss";
    if (flight.fixes.empty() || !figures.movementDetected || figures.landingIndex <= figures.takeoffIndex
        || figures.landingIndex >= flight.fixes.size())
        return debrief;
    const std::vector<Point> points = trackOf(flight, figures.takeoffIndex, figures.landingIndex, pressure);
    if (points.size() < 2)
        return debrief;

    // Circling stretches with short straights between them are one phase.
    const std::vector<Turn> turns = circlingStretches(points);
    struct Span {
        std::size_t firstTurn, lastTurn;
    };
    std::vector<Span> spans;
    for (std::size_t t = 0; t < turns.size(); ++t) {
        if (!spans.empty() && seconds(points, turns[spans.back().lastTurn].last, turns[t].first) < phaseGapSeconds)
            spans.back().lastTurn = t;
        else
            spans.push_back({ t, t });
    }

    double circlingSeconds = 0, leftDegrees = 0, turningDegrees = 0, thermalSeconds = 0;
    double glideMetres = 0, glideSeconds = 0, glideLoss = 0, sinkingMetres = 0;
    std::size_t glideFrom = 0;
    Edge glideStart = atPoint(points, 0);
    const auto addGlide = [&](std::size_t to, const Edge& end) {
        if (to <= glideFrom)
            return;
        double duration = 0;
        Glide glide = glideOf(points, glideFrom, to, glideStart, end, duration);
        glideSeconds += duration;
        glideMetres += glide.distanceMetres;
        if (glide.heightLostMetres > 0) {
            sinkingMetres += glide.distanceMetres;
            glideLoss += glide.heightLostMetres;
        }
        debrief.glides.push_back(std::move(glide));
    };
    for (const Span& span : spans) {
        const std::size_t first = turns[span.firstTurn].first, last = turns[span.lastTurn].last;
        addGlide(first, startEdge(points, turns[span.firstTurn]));
        double duration = 0;
        CirclingPhase phase = phaseOf(flight, points, turns, span.firstTurn, span.lastTurn, duration);
        circlingSeconds += duration;
        for (std::size_t t = span.firstTurn; t <= span.lastTurn; ++t) {
            turningDegrees += std::fabs(turns[t].degrees);
            if (turns[t].sign < 0)
                leftDegrees += std::fabs(turns[t].degrees);
        }
        if (phase.wind)
            debrief.wind.push_back({ (phase.startTime + phase.endTime) / 2, (phase.startAltitude + phase.endAltitude) / 2, *phase.wind });
        if (phase.gainMetres >= thermalGainMetres) {
            thermalSeconds += duration;
            debrief.totals.heightGainedMetres += phase.gainMetres;
            debrief.thermals.push_back(std::move(phase));
        } else {
            debrief.failedAttempts.push_back(std::move(phase));
        }
        glideFrom = last;
        glideStart = endEdge(points, turns[span.lastTurn]);
    }
    addGlide(points.size() - 1, atPoint(points, points.size() - 1));

    DebriefTotals& totals = debrief.totals;
    const double airborne = seconds(points, 0, points.size() - 1);
    totals.circlingShare = airborne > 0 ? circlingSeconds / airborne : 0;
    totals.leftShare = turningDegrees > 0 ? leftDegrees / turningDegrees : 0;
    totals.thermals = static_cast<int>(debrief.thermals.size());
    totals.failedAttempts = static_cast<int>(debrief.failedAttempts.size());
    totals.avgClimbMs = thermalSeconds > 0 ? totals.heightGainedMetres / thermalSeconds : 0;
    totals.avgGlideSpeedKmh = glideSeconds > 0 ? glideMetres / glideSeconds * 3.6 : 0;
    if (glideLoss >= glideRatioMinLossMetres)
        totals.avgGlideRatio = sinkingMetres / glideLoss;
    // Height lost: every step down, in the phases and in all.
    double lost = 0, lostCircling = 0;
    std::size_t phase = 0;
    std::vector<std::pair<std::size_t, std::size_t>> circling;
    for (const Span& span : spans)
        circling.push_back({ turns[span.firstTurn].first, turns[span.lastTurn].last });
    for (std::size_t k = 1; k < points.size(); ++k) {
        const double step = points[k - 1].altitude - points[k].altitude;
        if (step <= 0)
            continue;
        lost += step;
        while (phase < circling.size() && circling[phase].second < k)
            ++phase;
        if (phase < circling.size() && circling[phase].first < k)
            lostCircling += step;
    }
    totals.circlingHeightLossShare = lost > 0 ? lostCircling / lost : 0;
    return debrief;
}

FlightSeries flightSeries(const flights::IgcFlight& flight)
{
    clearUpperVectorState();
    FlightSeries series;
    const std::size_t n = flight.fixes.size();
    series.vario20Ms.assign(n, 0);
    series.groundSpeedKmh.assign(n, 0);
    if (n < 2)
        return series;
    const std::vector<Point> points = trackOf(flight, 0, n - 1, usesPressure(flight));
    if (points.size() < 2)
        return series;
    std::vector<double> vario(points.size(), 0), speed(points.size(), 0);
    std::size_t vLo = 0, vHi = 0, sLo = 0, sHi = 0;
    // The way along the track measured from station to station, stations at least
    // speedStepSeconds apart (a recorder at rest jitters a metre or two a second), a
    // point between them by the way to the last station and on.
    std::vector<double> path(points.size(), 0);
    std::size_t station = 0;
    double stationPath = 0;
    const auto from = [&](std::size_t a, std::size_t b) { return std::hypot(points[b].x - points[a].x, points[b].y - points[a].y); };
    for (std::size_t k = 1; k < points.size(); ++k) {
        path[k] = stationPath + from(station, k);
        if (static_cast<double>(points[k].time - points[station].time) >= speedStepSeconds) {
            stationPath = path[k];
            station = k;
        }
    }
    for (std::size_t k = 0; k < points.size(); ++k) {
        while (vLo < k && points[k].time - points[vLo].time > vario20HalfSpan)
            ++vLo;
        vHi = std::max(vHi, k);
        while (vHi + 1 < points.size() && points[vHi + 1].time - points[k].time <= vario20HalfSpan)
            ++vHi;
        if (vHi > vLo)
            vario[k] = (points[vHi].altitude - points[vLo].altitude) / seconds(points, vLo, vHi);
        while (sLo < k && points[k].time - points[sLo].time > groundSpeedHalfSpan)
            ++sLo;
        sHi = std::max(sHi, k);
        while (sHi + 1 < points.size() && points[sHi + 1].time - points[k].time <= groundSpeedHalfSpan)
            ++sHi;
        if (sHi == sLo) { // a gap on both sides: the legs to the neighbours
            sLo = k > 0 ? k - 1 : k;
            sHi = std::min(points.size() - 1, k + 1);
        }
        if (sHi > sLo)
            speed[k] = (path[sHi] - path[sLo]) / seconds(points, sLo, sHi) * 3.6;
    }
    // Each fix takes the value of the nearest placed fix at or before it (the first
    // placed one before any).
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i) {
        while (k + 1 < points.size() && points[k + 1].index <= i)
            ++k;
        series.vario20Ms[i] = vario[k];
        series.groundSpeedKmh[i] = speed[k];
    }
    return series;
}

const char* directionName(CircleDirection direction)
{
    switch (direction) {
    case CircleDirection::Left:
        return "left";
    case CircleDirection::Right:
        return "right";
    case CircleDirection::Mixed:
        return "mixed";
    }
    return "right";
}

} // namespace corvex::analysis
