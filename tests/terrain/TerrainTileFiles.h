#pragma once

#include <functional>
#include <optional>
#include <string>

namespace corvex::test {

// The ground of a test, metres at a latitude and longitude; nothing for a void post.
using GroundFunction = std::function<std::optional<double>(double latitude, double longitude)>;

// An SRTM tile written byte by byte: big-endian 16-bit posts, rows from the north, the
// corners on whole degrees (`size` 1201 for 3", 3601 for 1"), named after its
// south-west corner ("N45E006.hgt"); a void is -32768. Gives the path.
std::string writeHgtTile(const std::string& folder, int south, int west, int size, const GroundFunction& ground);

// A GeoTIFF of 32-bit floats through GDAL, as the Copernicus tiles are laid out: one
// degree from (south, west), `postsPerDegree` cells a side, each post in the middle of
// its cell, on WGS84 latitude and longitude; a void is written as `nodata`.
void writeGeoTiffTile(const std::string& path, int south, int west, int postsPerDegree, const GroundFunction& ground,
    double nodata = -9999);

} // namespace corvex::test
