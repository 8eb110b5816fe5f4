#pragma once

namespace corvex {

// A place on the earth: latitude and longitude in degrees on WGS84, north and east
// positive. The flights' fixes, the OpenAir outlines and the map all speak of places
// in it.
struct GeoPoint {
    double latitude { 0 };
    double longitude { 0 };
};

namespace geo {

// std::numbers::pi to the last digit (GeoPoint.cpp checks), written out because Qt's
// moc, which reads this header through the map's, cannot parse <numbers>.
inline constexpr double pi = 3.14159265358979323846;

// Multiplied before divided, as the program has always worked them out, so that no
// figure moves in its last binary digit.
constexpr double radians(double degrees) { return degrees * pi / 180.0; }
constexpr double degrees(double radians) { return radians * 180.0 / pi; }

// Two figures of the earth are in use, on purpose:
// - The WGS84 ellipsoid (GeographicLib) for whatever a pilot reads as a length: a
//   flight's track and take-off-to-landing distance, its contest legs.
// - A sphere of the mean radius where a sphere is enough and the formulas must stay
//   short: the OpenAir arcs and circles (a chord of at most a kilometre) and the local
//   flat measure of the airspace check. The converter's sets were always made on it,
//   so changing it would move every tessellated point.
// Web Mercator has a sphere of its own, of the equatorial radius (WebMercator.h).
inline constexpr double meanEarthRadiusMetres = 6371008.8; // IUGG R1 of WGS84
inline constexpr double wgs84EquatorialRadiusMetres = 6378137.0;

// The length of the shortest path between two places on the WGS84 ellipsoid
// (GeographicLib's geodesic inverse problem).
double geodesicDistanceMetres(GeoPoint from, GeoPoint to);

} // namespace geo

} // namespace corvex
