#include "terrain/Hillshade.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvex::terrain {

ReliefImage hillshade(const TerrainTiles& terrain, const GeoBox& box, int width, int height)
{
    ReliefImage image;
    if (width <= 0 || height <= 0)
        return image;
    image.width = width;
    image.height = height;
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    image.grey.assign(pixels, 0);
    image.alpha.assign(pixels, 0);

    // The ground at every pixel's middle and a ring of one pixel round the image, so
    // that the pixels on its edge have their eight neighbours.
    const double lonStep = (box.east - box.west) / width;
    const double latStep = (box.north - box.south) / height;
    const int gridWidth = width + 2;
    const double nothing = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> ground(static_cast<std::size_t>(gridWidth) * static_cast<std::size_t>(height + 2), nothing);
    for (int y = -1; y <= height; ++y) {
        const double latitude = box.north - (y + 0.5) * latStep;
        for (int x = -1; x <= width; ++x) {
            const GeoPoint place { latitude, box.west + (x + 0.5) * lonStep };
            if (const auto elevation = terrain.elevationAt(place))
                ground[static_cast<std::size_t>(y + 1) * static_cast<std::size_t>(gridWidth) + static_cast<std::size_t>(x + 1)]
                    = *elevation;
        }
    }

    const double zenith = geo::radians(90.0 - 45.0);
    // The light's direction as an angle counterclockwise from the east.
    const double lightAngle = geo::radians(360.0 - 315.0 + 90.0);
    const double metresPerDegree = geo::meanEarthRadiusMetres * geo::pi / 180.0;
    const double cellHeight = latStep * metresPerDegree;
    for (int y = 0; y < height; ++y) {
        const double latitude = box.north - (y + 0.5) * latStep;
        const double cellWidth = lonStep * metresPerDegree * std::cos(geo::radians(latitude));
        for (int x = 0; x < width; ++x) {
            const auto at = [&](int dx, int dy) {
                return ground[static_cast<std::size_t>(y + 1 + dy) * static_cast<std::size_t>(gridWidth) + static_cast<std::size_t>(x + 1 + dx)];
            };
            const double centre = at(0, 0);
            if (std::isnan(centre))
                continue;
            // A neighbour without ground counts as level with the middle.
            const auto near = [&](int dx, int dy) {
                const double value = at(dx, dy);
                return std::isnan(value) ? centre : value;
            };
            const double a = near(-1, -1), b = near(0, -1), c = near(1, -1);
            const double d = near(-1, 0), f = near(1, 0);
            const double g = near(-1, 1), h = near(0, 1), i = near(1, 1);
            // East minus west, and south minus north (the rows run southward).
            const double dzdx = ((c + 2 * f + i) - (a + 2 * d + g)) / (8 * cellWidth);
            const double dzdy = ((g + 2 * h + i) - (a + 2 * b + c)) / (8 * cellHeight);
            const double slope = std::atan(std::hypot(dzdx, dzdy));
            const double aspect = std::atan2(dzdy, -dzdx);
            const double light = std::cos(zenith) * std::cos(slope) + std::sin(zenith) * std::sin(slope) * std::cos(lightAngle - aspect);
            const std::size_t pixel = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x);
            image.grey[pixel] = static_cast<std::uint8_t>(std::lround(std::clamp(light, 0.0, 1.0) * 255));
            image.alpha[pixel] = 255;
        }
    }
    return image;
}

} // namespace corvex::terrain
