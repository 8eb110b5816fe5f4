#pragma once

#include "airspaces/OpenAirParser.h"
#include "analysis/OutlineShape.h"
#include "flights/IgcFlight.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvex::terrain {
class Geoid;
class TerrainTiles;
} // namespace corvex::terrain

// Which airspaces a flight entered: the fixes against the outlines and the limits of
// an OpenAir file as the converter reads it. Pure: a flight and airspaces in, the
// crossings out.
namespace corvex::analysis {

// Which altitude judged a limit: the recorder's pressure altitude (standard
// atmosphere, what flight levels are) or its GNSS altitude made to sea level.
enum class AltitudeSource : std::uint8_t { Pressure, Gnss };

// What one sensor alone says of a stay: the fixes it puts inside (not surely outside
// every limit), and its deepest point, the fix with the largest margin to the nearer
// limit. `inside` false: by this sensor the flight never entered.
struct SensorStay {
    bool inside { false };
    std::size_t entryIndex { 0 }, exitIndex { 0 };
    std::int64_t entryTime { 0 }, exitTime { 0 };
    std::optional<std::size_t> deepestIndex;
    std::optional<double> aboveFloorMetres, belowCeilingMetres;
};

// One stay inside one airspace: consecutive valid fixes of one flight inside its
// outline and not plainly outside its limits by the verdict's altitudes or by either
// sensor alone.
struct AirspaceCrossing {
    std::size_t airspaceIndex { 0 }; // into the airspaces checked
    std::string name;
    std::string airspaceClass;
    std::size_t flight { 0 }; // which flight of the file (computeFlights), from 0
    std::size_t entryIndex { 0 }, exitIndex { 0 }; // first and last fix inside (into flight.fixes)
    std::int64_t entryTime { 0 }, exitTime { 0 }; // UTC seconds since epoch
    // False when no fix of the stay is surely inside by the verdict's altitudes: a limit
    // above ground where no terrain covers the fix, a limit given only by other means,
    // a block of the file that did not read whole, or only the other sensor says
    // inside. `reason` says which, and which altitude was used.
    bool certain { true };
    std::string reason;
    // The sensor of the limit nearest at the deepest vertical point (flight levels by
    // pressure, heights above the sea or the ground by GNSS, each falling back to the
    // other when the recorder lacks it).
    AltitudeSource altitudeSource { AltitudeSource::Gnss };
    SensorStay pressure, gnss;
    // The fix farthest inside the outline's edge, and how far (metres).
    std::size_t deepestHorizontalIndex { 0 };
    double deepestHorizontalMetres { 0 };
    // The fix with the largest margin above the floor and below the ceiling (the
    // smaller of the two where both are known), by the verdict's altitudes; nothing when
    // neither limit could be compared (ground floor without terrain and unknown
    // ceiling), or when only the other sensor says inside.
    std::optional<std::size_t> deepestVerticalIndex;
    double deepestVerticalMetres { 0 };
    // At that fix: metres above the floor and below the ceiling, each where known.
    std::optional<double> aboveFloorMetres, belowCeilingMetres;
    // Pressure altitude less GNSS altitude (to sea level) at the deepest point; nothing
    // when the recorder lacks one of them.
    std::optional<double> sensorDifferenceMetres;
};

struct AirspaceCheck {
    std::vector<AirspaceCrossing> crossings; // by entry, then by airspace
    // Which altitude stood in for a missing one ("no pressure altitude in the file: GNSS
    // altitude compared with flight levels"), which datum the GNSS altitude was taken
    // in, the flights checked.
    std::vector<std::string> notes;
    // The GNSS altitude's datum: "geoid" or "ellipsoid" as the HFALG header says, or
    // "geoid" assumed when the file does not say (gnssDatumAssumed).
    std::string gnssDatum { "geoid" };
    bool gnssDatumAssumed { true };
    // How many flights the file holds; only their fixes from take-off to landing count.
    std::size_t flights { 0 };

    // How many airspaces were entered, each counted once however often.
    std::size_t airspacesEntered() const;
};

// Margins a pilot grants, as leagues do: a fix counts inside only when it is more than
// `horizontalMetres` inside the outline and more than `verticalMetres` beyond each
// limit. Zero: at the limit counts inside.
struct AirspaceTolerance {
    double horizontalMetres { 0 };
    double verticalMetres { 0 };
};

struct AirspaceCheckOptions {
    // The ground's height for limits above ground; without it (or where no tile covers
    // a fix) such a limit leaves the crossing possible.
    const terrain::TerrainTiles* terrain { nullptr };
    // For GNSS altitudes written above the ellipsoid; without it they are used as they
    // are and a note says so.
    const terrain::Geoid* geoid { nullptr };
    AirspaceTolerance tolerance;
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

// Only the flights of the file (computeFlights) are checked, each from its take-off to
// its landing: a recorder switched on inside a zone on the ground enters nothing.
AirspaceCheck checkAirspaces(
    const flights::IgcFlight& flight, const AirspaceIndex& index, const AirspaceCheckOptions& options = {});
AirspaceCheck checkAirspaces(const flights::IgcFlight& flight, const std::vector<openair::Airspace>& airspaces,
    const AirspaceCheckOptions& options = {});
AirspaceCheck checkAirspaces(
    const flights::IgcFlight& flight, const openair::ParseResult& parsed, const AirspaceCheckOptions& options = {});

// Whether a point lies inside a closed ring (even-odd rule, degrees; across ±180° and
// around a pole as OutlineShape); never inside an open line of fewer than three points.
// Every point of the ring is read: for many points, make an OutlineShape once.
bool insideOutline(const std::vector<GeoPoint>& outline, double latitude, double longitude);
// The distance in metres from a point to the nearest edge of a ring (local flat-earth
// projection, good to well under a percent across an airspace); infinite for no points.
double distanceToOutlineEdge(const std::vector<GeoPoint>& outline, double latitude, double longitude);

} // namespace corvex::analysis
