#pragma once

#include "geo/GeoPoint.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

// One airspace outline made ready for many point tests: whether a fix is inside, and
// how far it is from the edge.
//
// Longitudes: an edge longer than 180° of longitude is taken the short way, across the
// 180th meridian. An outline with such an edge is unrolled into a plane where its
// longitudes run on continuously (past ±180°); one that goes once round the earth (a
// circle around a pole) is closed over the pole it goes round (the one on the side of
// its mean latitude), so that the cap inside it is inside. A point is tested at every
// longitude of its own that the unrolled outline covers (λ, λ ± 360°, ...), the counts
// added up: what the outline encloses on the globe. An outline without such an edge is
// used as it is, point for point: the results are the even-odd scan's, bit for bit.
//
// Long outlines get a tree of boxes over their edges (packed in the outline's order,
// eight to a box), so that a test reads not every point but the boxes the fix's parallel
// passes through: the ray of the even-odd test goes to the nearer side of the outline's
// box, which gives the same parity (a horizontal line meets a closed ring an even number
// of times); the nearest edge is found by branch and bound, nearest box first.
namespace corvex::analysis {

class OutlineShape {
public:
    // Outlines shorter than this are scanned point by point: a tree would not pay.
    static constexpr std::size_t defaultIndexFrom = 32;

    OutlineShape() = default;
    // The outline must outlive the shape. With fewer than three points it is an open line
    // that nothing is inside.
    explicit OutlineShape(const std::vector<GeoPoint>& outline, std::size_t indexFrom = defaultIndexFrom);

    // Whether the point is inside (even-odd rule, degrees).
    bool contains(double latitude, double longitude) const;
    // The distance in metres from the point to the nearest edge (the local flat measure of
    // distanceToOutlineEdge); infinite for an empty outline. Asked only whether it is more
    // than `floor`, the search ends at the first edge that is not: the distance when it
    // is more, else the distance of some edge no farther than `floor`. `hint` names an
    // edge to try first (the last one found for a fix nearby) and is given the one found.
    double distanceToEdge(double latitude, double longitude, double floor = -std::numeric_limits<double>::infinity(),
        std::size_t* hint = nullptr) const;

    // The box a point must be in to be inside: the whole round of longitudes for an
    // outline across ±180°, and up to the pole for one around a pole.
    double south() const { return m_south; }
    double north() const { return m_north; }
    double west() const { return m_west; }
    double east() const { return m_east; }

    bool unrolled() const { return !m_planar.empty(); }
    // The outline's points in the plane the tests use (the outline itself when it was not
    // unrolled), and how many of them are the outline's: after them come the points that
    // close it over a pole. An edge that touches one of those is no edge of the airspace.
    const std::vector<GeoPoint>& points() const { return unrolled() ? m_planar : *m_outline; }
    std::size_t ownPoints() const { return m_ownPoints; }
    // The longitudes of `points()`: a point is tested at each of its own longitudes that
    // falls in this range.
    double planeWest() const { return m_planeWest; }
    double planeEast() const { return m_planeEast; }

private:
    struct Node {
        double south, west, north, east;
    };
    bool rayParity(double latitude, double longitude) const;
    double nearestEdge(double latitude, double longitude, double floor, std::size_t* hint) const;

    const std::vector<GeoPoint>* m_outline { nullptr };
    std::vector<GeoPoint> m_planar;
    std::size_t m_ownPoints { 0 };
    double m_south { 0 }, m_north { 0 }, m_west { 0 }, m_east { 0 };
    double m_planeWest { 0 }, m_planeEast { 0 };
    // Level 0 holds a box for every eight edges (edge i runs from point i - 1 to point i),
    // each level above one for every eight below; the last level is the root. Empty: the
    // outline is scanned.
    std::vector<Node> m_nodes;
    std::vector<std::uint32_t> m_levelStart;
};

} // namespace corvex::analysis
