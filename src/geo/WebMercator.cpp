#include "geo/WebMercator.h"

#include <algorithm>
#include <cmath>

namespace corvex::geo {

MercatorPoint webMercator(GeoPoint point)
{
    // atanh keeps the digits of a small sine that log((1 + s) / (1 - s)) rounds off near
    // the equator; the sets the converter made were always computed so.
    const double latitude = std::clamp(point.latitude, -webMercatorLatitudeLimit, webMercatorLatitudeLimit);
    const double x = point.longitude / 360.0 + 0.5;
    const double y = 0.5 - std::atanh(std::sin(radians(latitude))) / (2 * pi);
    return { x, y };
}

GeoPoint fromWebMercator(MercatorPoint point)
{
    const double x = (point.x >= 0 && point.x <= 1) ? point.x : point.x - std::floor(point.x);
    const double longitude = x * 360.0 - 180.0;
    const double latitude = degrees(std::atan(std::sinh((0.5 - point.y) * 2.0 * pi)));
    return { latitude, longitude };
}

} // namespace corvex::geo
