#include "geo/GeoPoint.h"

#include <GeographicLib/Geodesic.hpp>

#include <numbers>

namespace corvex::geo {

static_assert(pi == std::numbers::pi);

double geodesicDistanceMetres(GeoPoint from, GeoPoint to)
{
    double metres = 0;
    GeographicLib::Geodesic::WGS84().Inverse(from.latitude, from.longitude, to.latitude, to.longitude, metres);
    return metres;
}

} // namespace corvex::geo
