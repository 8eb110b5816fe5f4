#pragma once

#include "geo/GeoPoint.h"

namespace corvex::geo {

// Web Mercator, the spherical projection of the tile servers, on the unit square: x
// grows east from 0 at 180° W to 1 at 180° E, y grows south from 0 at the square's
// northern edge to 1 at its southern one. The map scales it by 2^28, the instrument's
// airspaces sets by 2^24: powers of two, so a scaled figure keeps every binary digit.
struct MercatorPoint {
    double x { 0 };
    double y { 0 };
};

// The latitude at which the square ends: atan(sinh(π)).
inline constexpr double webMercatorLatitudeLimit = 85.0511287798066;
// The equator's length on the projection's sphere (2π × the WGS84 equatorial radius),
// to the millimetre: the map's metres per pixel at a latitude start from it.
inline constexpr double webMercatorEquatorMetres = 40075016.686;

// A latitude beyond the square is clamped to its edge; a longitude beyond ±180° gives
// an x beyond the square, as it is.
MercatorPoint webMercator(GeoPoint point);

// Any x names a place: the plane repeats every unit east and west, and the longitude
// comes back between -180° and 180°.
GeoPoint fromWebMercator(MercatorPoint point);

} // namespace corvex::geo
