#pragma once

#include "map/MapGeometry.h"

#include <vector>

namespace corvex {

// A position in a painting area's pixels, origin at the top left, y growing down.
struct PixelPoint {
    double x { 0 };
    double y { 0 };
};

// What a painting area shows: the part `visible` of the Web Mercator plane, drawn into
// an area of width × height pixels. The widget, an offscreen image and the tests hand
// the same viewport to every layer, so that all of them place a coordinate on the same
// pixel.
class MapViewport {
public:
    MapViewport() = default;
    MapViewport(double width, double height, const MapRect& visible);

    double width() const { return m_width; }
    double height() const { return m_height; }
    const MapRect& visible() const { return m_visible; }
    // False for an empty area or a view without size: nothing can be drawn.
    bool isValid() const;

    // Pixels per map unit along each axis.
    double scaleX() const { return m_width / m_visible.width; }
    double scaleY() const { return m_height / m_visible.height; }

    PixelPoint pixelFor(MapPoint point) const;
    PixelPoint pixelFor(GeoPoint coordinate) const { return pixelFor(mapPointForCoordinate(coordinate)); }
    MapPoint mapPointAt(PixelPoint pixel) const;
    GeoPoint coordinateAt(PixelPoint pixel) const { return coordinateForMapPoint(mapPointAt(pixel)); }

    // The part of the plane shown by the whole area grown by marginPixels on every side:
    // what may still show a stroke's or a symbol's edge.
    MapRect mapRectWithMargin(double marginPixels) const;

    // Ground metres per pixel along the parallel through the view's centre.
    double metresPerPixel() const;

private:
    double m_width { 0 };
    double m_height { 0 };
    MapRect m_visible;
};

// The plane repeats every mapWorldSize east and west, so that a view may show the area
// across ±180°. The whole-world shifts k (content drawn at x + k × mapWorldSize) at which
// content meets visible, west first; null content stands for the whole world. At most
// maximumWorldCopies, the ones nearest the world itself.
inline constexpr int maximumWorldCopies = 16;
std::vector<int> worldCopiesMeeting(const MapRect& content, const MapRect& visible);
// rect moved east by worlds whole world widths (west for a negative number).
MapRect shiftedByWorlds(const MapRect& rect, int worlds);

// The smallest rectangle holding every point; the null rectangle for none.
MapRect boundingMapRect(const std::vector<MapPoint>& points);

// The scale at which a width × height area shows bounds whole with marginPixels left
// free on every side: one scale for both axes (the larger of the two), never closer than
// minimumUnitsPerPixel nor farther than maximumUnitsPerPixel. A margin that would leave
// no room is dropped. Null bounds count as a point.
double unitsPerPixelFitting(const MapRect& bounds, double width, double height, double marginPixels,
    double minimumUnitsPerPixel, double maximumUnitsPerPixel);

// The part of the plane that area shows at that scale, centred on bounds; the null
// rectangle for null bounds.
MapRect mapRectFitting(const MapRect& bounds, double width, double height, double marginPixels,
    double minimumUnitsPerPixel, double maximumUnitsPerPixel);

} // namespace corvex
