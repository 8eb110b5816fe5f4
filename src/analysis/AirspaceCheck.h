#pragma once

#include "airspaces/OpenAirParser.h"
#include "analysis/OutlineShape.h"
#include "flights/IgcFlight.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Which airspaces a flight entered: the fixes against the outlines and the limits of
// an OpenAir file as the converter reads it. Pure: a flight and airspaces in, the
// crossings out.
namespace corvex::analysis {

// One stay inside one airspace: consecutive valid fixes inside its outline and not
// plainly outside its limits.
struct AirspaceCrossing {
    std::size_t airspaceIndex { 0 }; // into the airspaces checked
    std::string name;
    std::string airspaceClass;
    std::size_t entryIndex { 0 }, exitIndex { 0 }; // first and last fix inside (into flight.fixes)
    std::int64_t entryTime { 0 }, exitTime { 0 }; // UTC seconds since epoch
    // False when no fix of the stay is surely inside: a limit above ground, which needs
    // the ground's height that a flight file does not carry, or a limit given only by
    // other means. `reason` says which, and which altitude was used.
    bool certain { true };
    std::string reason;
    // The fix farthest inside the outline's edge, and how far (metres).
    std::size_t deepestHorizontalIndex { 0 };
    double deepestHorizontalMetres { 0 };
    // The fix with the largest margin above the floor and below the ceiling (the
    // smaller of the two where both are known); nothing when neither limit could be
    // compared (ground floor and unknown ceiling).
    std::optional<std::size_t> deepestVerticalIndex;
    double deepestVerticalMetres { 0 };
};

struct AirspaceCheck {
    std::vector<AirspaceCrossing> crossings; // by entry, then by airspace
    // Which altitude stood in for a missing one ("no pressure altitude in the file: GNSS
    // altitude compared with flight levels").
    std::vector<std::string> notes;
};

// The airspaces' outline boxes in a grid, so that a fix is tested only against the
// outlines whose box holds it, and each outline as an OutlineShape; a check gives the
// outlines near its flight of `indexFrom` points or more their tree of edges. Open lines
// (fewer than three points) are left out. An outline across the 180th meridian, or
// around a pole, is what it encloses on the globe (OutlineShape); its box is the whole
// round of longitudes, and up to the pole.
class AirspaceIndex {
public:
    explicit AirspaceIndex(
        const std::vector<openair::Airspace>& airspaces, std::size_t indexFrom = OutlineShape::defaultIndexFrom);
    // The same, knowing which lines of the file did not read: an airspace with such a
    // line between its AC line and the next one may have lost a limit, so its crossings
    // are possible only.
    explicit AirspaceIndex(const openair::ParseResult& parsed, std::size_t indexFrom = OutlineShape::defaultIndexFrom);

    // The first line of the airspace's block that did not read; 0 when none.
    std::size_t unreadLine(std::size_t airspace) const { return m_unreadLines.empty() ? 0 : m_unreadLines[airspace]; }

    const std::vector<openair::Airspace>& airspaces() const { return *m_airspaces; }
    // The airspaces whose outline box overlaps the box given, by index.
    std::vector<std::size_t> overlapping(double south, double west, double north, double east) const;

    struct Box {
        double south { 0 }, west { 0 }, north { 0 }, east { 0 };
    };
    const Box& box(std::size_t airspace) const { return m_boxes[airspace]; }
    // The outline, without a tree of its edges.
    const OutlineShape& shape(std::size_t airspace) const { return m_shapes[airspace]; }
    std::size_t indexFrom() const { return m_indexFrom; }

private:
    const std::vector<openair::Airspace>* m_airspaces;
    std::vector<Box> m_boxes; // one per airspace; empty box for open lines
    std::vector<OutlineShape> m_shapes; // one per airspace; empty for open lines
    std::size_t m_indexFrom;
    std::vector<bool> m_usable;
    std::vector<std::size_t> m_unreadLines;
    // A coarse grid of one-degree cells: the airspaces whose box touches each cell.
    std::vector<std::vector<std::size_t>> m_cells;
    static constexpr int cellColumns = 360, cellRows = 180;
};

AirspaceCheck checkAirspaces(const flights::IgcFlight& flight, const AirspaceIndex& index);
AirspaceCheck checkAirspaces(const flights::IgcFlight& flight, const std::vector<openair::Airspace>& airspaces);
AirspaceCheck checkAirspaces(const flights::IgcFlight& flight, const openair::ParseResult& parsed);

// Whether a point lies inside a closed ring (even-odd rule, degrees; across ±180° and
// around a pole as OutlineShape); never inside an open line of fewer than three points.
// Every point of the ring is read: for many points, make an OutlineShape once.
bool insideOutline(const std::vector<GeoPoint>& outline, double latitude, double longitude);
// The distance in metres from a point to the nearest edge of a ring (local flat-earth
// projection, good to well under a percent across an airspace); infinite for no points.
double distanceToOutlineEdge(const std::vector<GeoPoint>& outline, double latitude, double longitude);

} // namespace corvex::analysis
