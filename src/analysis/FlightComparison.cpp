#include "analysis/FlightComparison.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <tuple>

namespace corvex::analysis {

namespace {

// A place moved by metres north and east: a flat step, as a thermal's drift over a few
// minutes is a few kilometres at most.
GeoPoint moved(GeoPoint from, double northMetres, double eastMetres)
{
    const double latitude = from.latitude + geo::degrees(northMetres / geo::meanEarthRadiusMetres);
    const double east = std::cos(geo::radians(from.latitude)) * geo::meanEarthRadiusMetres;
    const double longitude = from.longitude + (east > 1 ? geo::degrees(eastMetres / east) : 0.0);
    return { latitude, longitude };
}

double middle(const CirclingPhase& thermal) { return (static_cast<double>(thermal.startTime) + static_cast<double>(thermal.endTime)) / 2; }

// How near two thermals of different flights are, 0 for the same place and time, up to
// 2 at the limits; nothing when they are not one thermal.
std::optional<double> nearness(const CirclingPhase& a, const CirclingPhase& b)
{
    const std::int64_t gap = std::max<std::int64_t>(0, std::max(a.startTime, b.startTime) - std::min(a.endTime, b.endTime));
    if (gap > sharedThermalMaxGapSeconds)
        return std::nullopt;
    const bool aFirst = middle(a) <= middle(b);
    const CirclingPhase& earlier = aFirst ? a : b;
    const CirclingPhase& later = aFirst ? b : a;
    GeoPoint drifted = earlier.centre;
    if (const auto& wind = earlier.wind ? earlier.wind : later.wind) {
        const double metres = wind->speedKmh / 3.6 * (middle(later) - middle(earlier));
        const double towards = geo::radians(wind->fromDegrees + 180);
        drifted = moved(earlier.centre, metres * std::cos(towards), metres * std::sin(towards));
    }
    const double distance = geo::geodesicDistanceMetres(drifted, later.centre);
    if (!(distance <= sharedThermalMaxDistanceMetres))
        return std::nullopt;
    return distance / sharedThermalMaxDistanceMetres + static_cast<double>(gap) / sharedThermalMaxGapSeconds;
}

struct Match {
    double nearness;
    std::size_t flightA, thermalA, flightB, thermalB;
};

} // namespace

std::vector<SharedThermal> findSharedThermals(std::span<const FlightDebrief* const> debriefs)
{
    const std::size_t flightCount = debriefs.size();
    // Every thermal is a node: offsets[f] + its index.
    std::vector<std::size_t> offsets(flightCount + 1, 0);
    for (std::size_t f = 0; f < flightCount; ++f)
        offsets[f + 1] = offsets[f] + (debriefs[f] ? debriefs[f]->thermals.size() : 0);
    const auto thermalsOf = [&](std::size_t f) -> const std::vector<CirclingPhase>& {
        static const std::vector<CirclingPhase> none;
        return debriefs[f] ? debriefs[f]->thermals : none;
    };

    std::vector<Match> matches;
    for (std::size_t a = 0; a < flightCount; ++a)
        for (std::size_t b = a + 1; b < flightCount; ++b)
            for (std::size_t i = 0; i < thermalsOf(a).size(); ++i)
                for (std::size_t j = 0; j < thermalsOf(b).size(); ++j)
                    if (const auto near = nearness(thermalsOf(a)[i], thermalsOf(b)[j]))
                        matches.push_back({ *near, a, i, b, j });
    std::sort(matches.begin(), matches.end(), [](const Match& x, const Match& y) {
        return std::tie(x.nearness, x.flightA, x.thermalA, x.flightB, x.thermalB)
            < std::tie(y.nearness, y.flightA, y.thermalA, y.flightB, y.thermalB);
    });

    // Groups of thermals, nearest pairs first, never two thermals of one flight in a group.
    const std::size_t nodes = offsets[flightCount];
    std::vector<std::size_t> parent(nodes);
    std::iota(parent.begin(), parent.end(), std::size_t { 0 });
    std::vector<std::vector<std::optional<std::size_t>>> members(nodes);
    for (std::size_t f = 0; f < flightCount; ++f)
        for (std::size_t i = 0; i < thermalsOf(f).size(); ++i) {
            members[offsets[f] + i].assign(flightCount, std::nullopt);
            members[offsets[f] + i][f] = i;
        }
    const auto root = [&](std::size_t node) {
        while (parent[node] != node)
            node = parent[node] = parent[parent[node]];
        return node;
    };
    for (const Match& match : matches) {
        const std::size_t x = root(offsets[match.flightA] + match.thermalA);
        const std::size_t y = root(offsets[match.flightB] + match.thermalB);
        if (x == y)
            continue;
        bool disjoint = true;
        for (std::size_t f = 0; f < flightCount && disjoint; ++f)
            disjoint = !(members[x][f] && members[y][f]);
        if (!disjoint)
            continue;
        for (std::size_t f = 0; f < flightCount; ++f)
            if (members[y][f])
                members[x][f] = members[y][f];
        members[y].clear();
        parent[y] = x;
    }

    std::vector<SharedThermal> shared;
    for (std::size_t node = 0; node < nodes; ++node) {
        if (root(node) != node)
            continue;
        const auto& group = members[node];
        if (std::count_if(group.begin(), group.end(), [](const auto& member) { return member.has_value(); }) < 2)
            continue;
        SharedThermal thermal;
        thermal.flights.resize(flightCount);
        double latitude = 0, longitude = 0;
        int parts = 0;
        for (std::size_t f = 0; f < flightCount; ++f) {
            if (!group[f])
                continue;
            const CirclingPhase& phase = thermalsOf(f)[*group[f]];
            thermal.flights[f] = SharedThermalPart { *group[f], phase.startTime, phase.endTime, phase.climbMs, phase.gainMetres };
            thermal.start = parts == 0 ? phase.startTime : std::min(thermal.start, phase.startTime);
            thermal.end = parts == 0 ? phase.endTime : std::max(thermal.end, phase.endTime);
            latitude += phase.centre.latitude;
            longitude += phase.centre.longitude;
            ++parts;
        }
        thermal.centre = { latitude / parts, longitude / parts };
        shared.push_back(std::move(thermal));
    }
    std::stable_sort(shared.begin(), shared.end(),
        [](const SharedThermal& x, const SharedThermal& y) { return std::tie(x.start, x.end) < std::tie(y.start, y.end); });
    return shared;
}

std::optional<FasterClimb> fasterClimb(const SharedThermal& thermal)
{
    std::vector<std::size_t> in;
    for (std::size_t f = 0; f < thermal.flights.size(); ++f)
        if (thermal.flights[f])
            in.push_back(f);
    if (in.size() < 2)
        return std::nullopt;
    // Fastest first; the first given wins a tie.
    std::stable_sort(in.begin(), in.end(), [&](std::size_t x, std::size_t y) { return thermal.flights[x]->climbMs > thermal.flights[y]->climbMs; });
    FasterClimb faster;
    faster.flight = in[0];
    faster.over = in[1];
    const double next = thermal.flights[in[1]]->climbMs;
    faster.differenceMs = thermal.flights[in[0]]->climbMs - next;
    if (next > 0)
        faster.differencePercent = faster.differenceMs / next * 100;
    return faster;
}

} // namespace corvex::analysis
