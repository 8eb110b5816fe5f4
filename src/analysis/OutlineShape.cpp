#include "analysis/OutlineShape.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace corvex::analysis {

namespace {

constexpr std::size_t fanOut = 8;
// Far more than the rounding of a crossing's longitude (a few units in the last place of
// numbers below 540), far less than anything a flight or an outline resolves.
constexpr double longitudeSlack = 1e-9;
// The latitude of the points that close an outline round a pole: past the pole, so that
// a fix at the pole itself is inside.
constexpr double beyondThePole = 91.0;

// A flat projection around a point: metres east and north, on the sphere of the mean
// radius as the converter's geometry.
struct LocalProjection {
    double latitude, longitude, metresPerDegreeLatitude, metresPerDegreeLongitude;
    LocalProjection(double lat, double lon)
        : latitude(lat)
        , longitude(lon)
        , metresPerDegreeLatitude(geo::meanEarthRadiusMetres * geo::pi / 180)
        , metresPerDegreeLongitude(geo::meanEarthRadiusMetres * geo::pi / 180 * std::cos(geo::radians(lat)))
    {
    }
    double x(double lon) const { return (lon - longitude) * metresPerDegreeLongitude; }
    double y(double lat) const { return (lat - latitude) * metresPerDegreeLatitude; }
};

// The even-odd test's step for one edge, from b to a: whether it crosses the parallel
// of the point, and where. Every path of the test goes through here, so that an edge
// read through the tree decides exactly as in the scan.
struct Crossing {
    bool straddles;
    double longitude;
};
inline Crossing crossing(const GeoPoint& a, const GeoPoint& b, double latitude)
{
    if ((a.latitude > latitude) == (b.latitude > latitude))
        return { false, 0 };
    return { true, a.longitude + (latitude - a.latitude) / (b.latitude - a.latitude) * (b.longitude - a.longitude) };
}

// The point of the edge from a to b nearest the projection's centre, in metres from it:
// its distance is the hypotenuse.
struct Offset {
    double x, y;
};
inline Offset nearestOnEdge(const LocalProjection& projection, const GeoPoint& a, const GeoPoint& b)
{
    const double ax = projection.x(a.longitude), ay = projection.y(a.latitude);
    const double bx = projection.x(b.longitude), by = projection.y(b.latitude);
    const double dx = bx - ax, dy = by - ay;
    const double length2 = dx * dx + dy * dy;
    const double t = length2 > 0 ? std::clamp(-(ax * dx + ay * dy) / length2, 0.0, 1.0) : 0.0;
    return { ax + t * dx, ay + t * dy };
}

inline double edgeDistance(const LocalProjection& projection, const GeoPoint& a, const GeoPoint& b)
{
    const Offset offset = nearestOnEdge(projection, a, b);
    return std::hypot(offset.x, offset.y);
}

// Room for the rounding of two measures of one length (metres), far below anything
// the check reports.
inline double withSlack(double metres) { return metres + 1e-6 + metres * 1e-9; }

} // namespace

OutlineShape::OutlineShape(const std::vector<GeoPoint>& outline, std::size_t indexFrom)
    : m_outline(&outline)
    , m_ownPoints(outline.size())
{
    const std::size_t count = outline.size();
    if (count == 0)
        return;
    m_south = m_north = outline[0].latitude;
    m_west = m_east = outline[0].longitude;
    bool acrossTheMeridian = false;
    double latitudes = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const GeoPoint& point = outline[i];
        m_south = std::min(m_south, point.latitude);
        m_north = std::max(m_north, point.latitude);
        m_west = std::min(m_west, point.longitude);
        m_east = std::max(m_east, point.longitude);
        latitudes += point.latitude;
        acrossTheMeridian = acrossTheMeridian || std::abs(point.longitude - outline[(i + count - 1) % count].longitude) > 180;
    }
    m_planeWest = m_west;
    m_planeEast = m_east;

    if (acrossTheMeridian && count >= 3) {
        // Unrolled: each step across ±180° moves the rest by a round.
        int rounds = 0;
        m_planar.reserve(count + 3);
        for (std::size_t i = 0; i < count; ++i) {
            if (i > 0) {
                const double step = outline[i].longitude - outline[i - 1].longitude;
                rounds += step > 180 ? -1 : step < -180 ? 1 : 0;
            }
            m_planar.push_back({ outline[i].latitude, outline[i].longitude + 360.0 * rounds });
        }
        const double closing = outline[0].longitude - outline[count - 1].longitude;
        rounds += closing > 180 ? -1 : closing < -180 ? 1 : 0;
        if (rounds != 0) {
            // Round a pole: back to the first point a round further on, over the pole
            // and back down to where the outline started.
            const double pole = latitudes >= 0 ? beyondThePole : -beyondThePole;
            const double end = outline[0].longitude + 360.0 * rounds;
            m_planar.push_back({ outline[0].latitude, end });
            m_ownPoints = m_planar.size();
            m_planar.push_back({ pole, end });
            m_planar.push_back({ pole, outline[0].longitude });
            (pole > 0 ? m_north : m_south) = pole > 0 ? 90.0 : -90.0;
        }
        m_west = -180;
        m_east = 180;
        const auto [lowest, highest] = std::minmax_element(m_planar.begin(), m_planar.end(),
            [](const GeoPoint& a, const GeoPoint& b) { return a.longitude < b.longitude; });
        m_planeWest = lowest->longitude;
        m_planeEast = highest->longitude;
    }

    const std::vector<GeoPoint>& planar = points();
    const std::size_t edges = planar.size();
    if (edges < std::max<std::size_t>(indexFrom, 3))
        return;
    m_levelStart.push_back(0);
    for (std::size_t first = 0; first < edges; first += fanOut) {
        const GeoPoint& start = planar[(first + edges - 1) % edges];
        Node node { start.latitude, start.longitude, start.latitude, start.longitude };
        for (std::size_t i = first; i < std::min(first + fanOut, edges); ++i) {
            node.south = std::min(node.south, planar[i].latitude);
            node.north = std::max(node.north, planar[i].latitude);
            node.west = std::min(node.west, planar[i].longitude);
            node.east = std::max(node.east, planar[i].longitude);
        }
        m_nodes.push_back(node);
    }
    while (m_nodes.size() - m_levelStart.back() > 1) {
        const std::size_t below = m_levelStart.back(), end = m_nodes.size();
        m_levelStart.push_back(static_cast<std::uint32_t>(end));
        for (std::size_t first = below; first < end; first += fanOut) {
            Node node = m_nodes[first];
            for (std::size_t i = first + 1; i < std::min(first + fanOut, end); ++i) {
                const Node child = m_nodes[i];
                node.south = std::min(node.south, child.south);
                node.north = std::max(node.north, child.north);
                node.west = std::min(node.west, child.west);
                node.east = std::max(node.east, child.east);
            }
            m_nodes.push_back(node);
        }
    }
}

bool OutlineShape::rayParity(double latitude, double longitude) const
{
    const std::vector<GeoPoint>& planar = points();
    const std::size_t count = planar.size();
    bool inside = false;
    if (m_nodes.empty()) {
        for (std::size_t i = 0, j = count - 1; i < count; j = i++) {
            const Crossing at = crossing(planar[i], planar[j], latitude);
            if (at.straddles && longitude < at.longitude)
                inside = !inside;
        }
        return inside;
    }
    // Count the crossings on the nearer side: either count has the parity of the other.
    const Node& root = m_nodes.back();
    const bool westward = longitude - root.west < root.east - longitude;
    std::array<std::pair<std::uint32_t, std::uint32_t>, 128> stack; // (level, index in it)
    std::size_t size = 0;
    stack[size++] = { static_cast<std::uint32_t>(m_levelStart.size() - 1), 0 };
    while (size > 0) {
        const auto [level, index] = stack[--size];
        const Node& node = m_nodes[m_levelStart[level] + index];
        if (latitude < node.south || latitude >= node.north)
            continue; // no edge of it straddles the parallel
        if (westward ? longitude < node.west - longitudeSlack : longitude >= node.east + longitudeSlack)
            continue; // every crossing in it is on the other side
        if (level == 0) {
            const std::size_t first = std::size_t { index } * fanOut;
            for (std::size_t i = first; i < std::min(first + fanOut, count); ++i) {
                const Crossing at = crossing(planar[i], planar[(i + count - 1) % count], latitude);
                if (at.straddles && (longitude < at.longitude) != westward)
                    inside = !inside;
            }
            continue;
        }
        const std::size_t levelSize = m_levelStart[level] - m_levelStart[level - 1];
        for (std::size_t child = std::size_t { index } * fanOut; child < std::min((std::size_t { index } + 1) * fanOut, levelSize); ++child)
            stack[size++] = { level - 1, static_cast<std::uint32_t>(child) };
    }
    return inside;
}

double OutlineShape::nearestEdge(double latitude, double longitude, double floor, std::size_t* hint) const
{
    const LocalProjection projection(latitude, longitude);
    const std::vector<GeoPoint>& planar = points();
    const std::size_t count = planar.size();
    double nearest = std::numeric_limits<double>::infinity();
    const auto ownEdge = [&](std::size_t i, std::size_t j) { return i < m_ownPoints && j < m_ownPoints; };
    if (m_nodes.empty()) {
        for (std::size_t i = 0, j = count - 1; i < count; j = i++)
            if (ownEdge(i, j))
                nearest = std::min(nearest, edgeDistance(projection, planar[j], planar[i]));
        return nearest;
    }
    // Nearest box first; a box no nearer than the nearest edge found holds no nearer
    // one (the slack covers the rounding of both measures).
    const auto boxDistance = [&](const Node& node) {
        const double dx = std::max({ 0.0, node.west - longitude, longitude - node.east });
        const double dy = std::max({ 0.0, node.south - latitude, latitude - node.north });
        const double x = dx * projection.metresPerDegreeLongitude, y = dy * projection.metresPerDegreeLatitude;
        return std::sqrt(x * x + y * y);
    };
    const auto hopeless = [&](double bound) { return bound >= withSlack(nearest); };
    std::size_t found = count;
    if (hint && *hint < count && ownEdge(*hint, (*hint + count - 1) % count)) {
        nearest = edgeDistance(projection, planar[(*hint + count - 1) % count], planar[*hint]);
        found = *hint;
    }
    struct Entry {
        std::uint32_t level, index;
        double bound;
    };
    std::array<Entry, 128> stack;
    std::size_t size = 0;
    stack[size++] = { static_cast<std::uint32_t>(m_levelStart.size() - 1), 0, 0.0 };
    while (size > 0 && nearest > floor) {
        const Entry entry = stack[--size];
        if (hopeless(entry.bound))
            continue;
        if (entry.level == 0) {
            const std::size_t first = std::size_t { entry.index } * fanOut;
            for (std::size_t i = first; i < std::min(first + fanOut, count); ++i) {
                const std::size_t j = (i + count - 1) % count;
                if (!ownEdge(i, j))
                    continue;
                // The exact measure only for an edge that may be nearer.
                const Offset offset = nearestOnEdge(projection, planar[j], planar[i]);
                const double reach = withSlack(nearest);
                if (offset.x * offset.x + offset.y * offset.y < reach * reach) {
                    const double distance = std::hypot(offset.x, offset.y);
                    if (distance < nearest || found == count) {
                        nearest = std::min(nearest, distance);
                        found = i;
                    }
                }
            }
            continue;
        }
        const std::uint32_t below = entry.level - 1;
        const std::size_t levelSize = m_levelStart[entry.level] - m_levelStart[below];
        const std::size_t first = std::size_t { entry.index } * fanOut, last = std::min(first + fanOut, levelSize);
        const std::size_t pushed = size;
        for (std::size_t child = first; child < last; ++child)
            stack[size++] = { below, static_cast<std::uint32_t>(child), boxDistance(m_nodes[m_levelStart[below] + child]) };
        // The nearest child last, so that it is taken first.
        std::sort(stack.begin() + static_cast<std::ptrdiff_t>(pushed), stack.begin() + static_cast<std::ptrdiff_t>(size),
            [](const Entry& a, const Entry& b) { return a.bound > b.bound; });
    }
    if (hint && found < count)
        *hint = found;
    return nearest;
}

bool OutlineShape::contains(double latitude, double longitude) const
{
    if (points().size() < 3)
        return false;
    if (!unrolled())
        return rayParity(latitude, longitude);
    // Every longitude of the point's within the plane: the outline's turns there add up.
    // (A longitude no fix has would never end the walk.)
    if (!(std::abs(longitude) <= 360))
        return false;
    bool inside = false;
    for (double round = std::ceil((m_planeWest - longitude) / 360.0);; ++round) {
        const double at = longitude + 360.0 * round;
        if (at > m_planeEast)
            break;
        if (at >= m_planeWest)
            inside = inside != rayParity(latitude, at);
    }
    return inside;
}

double OutlineShape::distanceToEdge(double latitude, double longitude, double floor, std::size_t* hint) const
{
    if (points().empty())
        return std::numeric_limits<double>::infinity();
    if (!unrolled())
        return nearestEdge(latitude, longitude, floor, hint);
    // The nearest edge may lie a round away in the plane (across where it was cut).
    double nearest = std::numeric_limits<double>::infinity();
    if (!(std::abs(longitude) <= 360))
        return nearest;
    for (double round = std::ceil((m_planeWest - 180 - longitude) / 360.0);; ++round) {
        const double at = longitude + 360.0 * round;
        if (at > m_planeEast + 180)
            break;
        nearest = std::min(nearest, nearestEdge(latitude, at, floor, nullptr));
    }
    return nearest;
}

} // namespace corvex::analysis
