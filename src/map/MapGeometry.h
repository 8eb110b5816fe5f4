#pragma once

#include "geo/GeoPoint.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace corvex {

// What a map shows and how, without any drawing toolkit: the airspaces model builds
// overlays and styles with these, and the map view draws them.

// A point of the Web Mercator plane (geo/WebMercator.h) in map units: x grows east from
// -180°, y grows south from about 85.05° north; the whole world is mapWorldSize units
// square.
inline constexpr double mapWorldSize = 268435456.0; // 2^28, the unit of one zoom-0 tile is 2^20
struct MapPoint {
    double x { 0 };
    double y { 0 };
};

MapPoint mapPointForCoordinate(GeoPoint coordinate);
// Any x names a place: the plane repeats every mapWorldSize east and west, and the
// longitude comes back between -180° and 180°.
GeoPoint coordinateForMapPoint(MapPoint point);

// Makes a line of consecutive points one continuous piece across ±180°: a step east or
// west of more than half the world is the short way round, so the point after it moves
// by a whole world width (New Zealand's, Fiji's outlines, a track over the date line).
// The first point keeps its place; the others may then lie beyond the world's edge.
void unwrapMapPoints(std::vector<MapPoint>& points);

// A rectangle of the Web Mercator plane. The null rectangle has an infinite origin and
// no size; the union with it is the other rectangle.
struct MapRect {
    double x { std::numeric_limits<double>::infinity() };
    double y { std::numeric_limits<double>::infinity() };
    double width { 0 };
    double height { 0 };

    static MapRect null() { return {}; }
    bool isNull() const { return x == std::numeric_limits<double>::infinity() || y == std::numeric_limits<double>::infinity(); }
    bool originEquals(const MapRect& other) const { return x == other.x && y == other.y; }
    MapRect united(const MapRect& other) const;
    // The union with other moved by whole worlds east or west to wherever the union is
    // narrowest: pieces on both sides of ±180° (New Zealand and the Chatham Islands, a
    // set round Fiji) give one rectangle across the world's edge, not a band round the
    // world. Fitting a view to several pieces unites them this way.
    MapRect unitedAcrossWorld(const MapRect& other) const;
    bool intersects(const MapRect& other) const;
};

// An opaque or translucent colour, each component 0..1.
struct MapColor {
    double red { 0 };
    double green { 0 };
    double blue { 0 };
    double alpha { 1 };
    bool operator==(const MapColor&) const = default;
};

// One overlay: an open line through its coordinates, or a closed, filled area whose last
// coordinate joins its first. Its bounding rectangle is computed once, on creation.
class MapOverlay {
public:
    enum class Kind { Polyline, Polygon };

    MapOverlay(Kind kind, std::vector<GeoPoint> coordinates);

    Kind kind() const { return m_kind; }
    const std::vector<GeoPoint>& coordinates() const { return m_coordinates; }
    // The same points in the Web Mercator plane, for drawing: one piece, unwrapped across
    // ±180° (unwrapMapPoints), so that they may reach beyond the world's edge.
    const std::vector<MapPoint>& points() const { return m_points; }
    // The null rectangle for an overlay without points.
    const MapRect& boundingMapRect() const { return m_boundingMapRect; }

private:
    Kind m_kind;
    std::vector<GeoPoint> m_coordinates;
    std::vector<MapPoint> m_points;
    MapRect m_boundingMapRect;
};

using MapOverlays = std::vector<std::shared_ptr<const MapOverlay>>;

// How one overlay is drawn; an absent member takes the map's default (a thin dark line,
// no fill).
struct MapOverlayStyle {
    std::optional<MapColor> strokeColor;
    std::optional<MapColor> fillColor; // polygons only
    std::optional<double> lineWidth;
};

// The map's base layer: 0 standard, 1 satellite, 2 hybrid, as the "airspacesMapType"
// preference numbers them.
enum class MapType { Standard = 0, Satellite = 1, Hybrid = 2 };

} // namespace corvex
