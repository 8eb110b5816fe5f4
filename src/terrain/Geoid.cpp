#include "terrain/Geoid.h"

#include "terrain/GdalAccess.h"

#include <gdal.h>

#include <algorithm>
#include <array>
#include <limits>
#include <cmath>
#include <filesystem>

namespace corvex::terrain {

Result<Geoid, std::string> Geoid::load(const std::string& gridPath)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(gridPath, error))
        return Failure { "the geoid grid " + gridPath + " was not found (it comes with the package proj-data)" };
    detail::ensureGdal();
    detail::QuietGdalErrors quiet;
    GDALDatasetH dataset = GDALOpenEx(gridPath.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
    if (!dataset)
        return Failure { "the geoid grid " + gridPath + " does not read: " + quiet.lastMessage("not a grid GDAL reads") };
    Geoid geoid;
    geoid.m_width = GDALGetRasterXSize(dataset);
    geoid.m_height = GDALGetRasterYSize(dataset);
    std::array<double, 6> transform {};
    const bool georeferenced = GDALGetGeoTransform(dataset, transform.data()) == CE_None;
    bool ok = georeferenced && GDALGetRasterCount(dataset) >= 1 && geoid.m_width >= 2 && geoid.m_height >= 2
        && transform[1] > 0 && transform[5] < 0 && transform[2] == 0 && transform[4] == 0;
    if (ok) {
        geoid.m_lonStep = transform[1];
        geoid.m_latStep = transform[5];
        geoid.m_firstLongitude = transform[0] + transform[1] / 2;
        geoid.m_firstLatitude = transform[3] + transform[5] / 2;
        geoid.m_columnsRound = static_cast<int>(std::lround(360.0 / geoid.m_lonStep));
        // The wrap needs the grid to go round the whole world.
        ok = geoid.m_columnsRound <= geoid.m_width && std::abs(geoid.m_columnsRound * geoid.m_lonStep - 360.0) < 1e-6;
    }
    if (ok) {
        geoid.m_posts.resize(static_cast<std::size_t>(geoid.m_width) * static_cast<std::size_t>(geoid.m_height));
        ok = GDALRasterIO(GDALGetRasterBand(dataset, 1), GF_Read, 0, 0, geoid.m_width, geoid.m_height, geoid.m_posts.data(),
                 geoid.m_width, geoid.m_height, GDT_Float32, 0, 0)
            == CE_None;
    }
    GDALClose(dataset);
    if (!ok)
        return Failure { "the geoid grid " + gridPath + " is not a world grid on latitude and longitude: "
            + quiet.lastMessage("unexpected georeference") };
    return geoid;
}

double Geoid::undulation(GeoPoint place) const
{
    if (!std::isfinite(place.latitude) || !std::isfinite(place.longitude))
        return std::numeric_limits<double>::quiet_NaN();
    const double row = std::clamp((place.latitude - m_firstLatitude) / m_latStep, 0.0, m_height - 1.0);
    double column = std::fmod((place.longitude - m_firstLongitude) / m_lonStep, m_columnsRound);
    if (column < 0)
        column += m_columnsRound;
    const int row0 = std::min(static_cast<int>(row), m_height - 2);
    const int column0 = static_cast<int>(column) % m_columnsRound;
    const int column1 = (column0 + 1) % m_columnsRound;
    const double across = column - std::floor(column);
    const double down = row - row0;
    const auto post = [this](int c, int r) {
        return static_cast<double>(m_posts[static_cast<std::size_t>(r) * static_cast<std::size_t>(m_width) + static_cast<std::size_t>(c)]);
    };
    const double north = post(column0, row0) + (post(column1, row0) - post(column0, row0)) * across;
    const double south = post(column0, row0 + 1) + (post(column1, row0 + 1) - post(column0, row0 + 1)) * across;
    return north + (south - north) * down;
}

} // namespace corvex::terrain
