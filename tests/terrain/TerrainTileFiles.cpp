#include "TerrainTileFiles.h"

#include <cpl_conv.h>
#include <gdal.h>
#include <ogr_srs_api.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace corvex::test {

std::string writeHgtTile(const std::string& folder, int south, int west, int size, const GroundFunction& ground)
{
    char name[32];
    std::snprintf(name, sizeof name, "%c%02d%c%03d.hgt", south < 0 ? 'S' : 'N', std::abs(south), west < 0 ? 'W' : 'E', std::abs(west));
    const std::string path = folder + "/" + name;
    std::vector<char> bytes;
    bytes.reserve(static_cast<std::size_t>(size) * static_cast<std::size_t>(size) * 2);
    for (int row = 0; row < size; ++row) {
        const double latitude = south + 1 - static_cast<double>(row) / (size - 1);
        for (int column = 0; column < size; ++column) {
            const double longitude = west + static_cast<double>(column) / (size - 1);
            const auto height = ground(latitude, longitude);
            const std::int16_t post = height ? static_cast<std::int16_t>(std::lround(*height)) : std::int16_t { -32768 };
            const auto word = static_cast<std::uint16_t>(post);
            bytes.push_back(static_cast<char>(word >> 8));
            bytes.push_back(static_cast<char>(word & 0xff));
        }
    }
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

void writeGeoTiffTile(const std::string& path, int south, int west, int postsPerDegree, const GroundFunction& ground, double nodata)
{
    GDALAllRegister();
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    GDALDatasetH dataset = driver ? GDALCreate(driver, path.c_str(), postsPerDegree, postsPerDegree, 1, GDT_Float32, nullptr) : nullptr;
    if (!dataset)
        throw std::runtime_error("GDAL cannot write " + path);
    const double step = 1.0 / postsPerDegree;
    std::array<double, 6> transform { static_cast<double>(west), step, 0, static_cast<double>(south + 1), 0, -step };
    GDALSetGeoTransform(dataset, transform.data());
    OGRSpatialReferenceH wgs84 = OSRNewSpatialReference(nullptr);
    OSRSetWellKnownGeogCS(wgs84, "WGS84");
    GDALSetSpatialRef(dataset, wgs84);
    OSRDestroySpatialReference(wgs84);
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    GDALSetRasterNoDataValue(band, nodata);
    std::vector<float> posts;
    for (int row = 0; row < postsPerDegree; ++row)
        for (int column = 0; column < postsPerDegree; ++column) {
            const auto height = ground(south + 1 - (row + 0.5) * step, west + (column + 0.5) * step);
            posts.push_back(static_cast<float>(height.value_or(nodata)));
        }
    const CPLErr written = GDALRasterIO(band, GF_Write, 0, 0, postsPerDegree, postsPerDegree, posts.data(), postsPerDegree,
        postsPerDegree, GDT_Float32, 0, 0);
    GDALClose(dataset);
    if (written != CE_None)
        throw std::runtime_error("GDAL cannot write the posts of " + path);
}

} // namespace corvex::test
