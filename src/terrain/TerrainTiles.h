#pragma once

#include "geo/GeoPoint.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvex::terrain {

// A box of latitude and longitude, degrees, south-west to north-east.
struct GeoBox {
    double south { 0 };
    double west { 0 };
    double north { 0 };
    double east { 0 };
};

struct UnreadableTile {
    std::string path;
    std::string reason;
};

// What a terrain folder holds, for people: the tiles that read, the box they cover
// together (their outer edges), and each file that looked like a tile but did not read.
struct TerrainSummary {
    std::string folder;
    // Set when the folder itself cannot be used: it is missing, or not a folder.
    std::optional<std::string> folderProblem;
    std::size_t tiles { 0 };
    std::optional<GeoBox> covered;
    std::vector<UnreadableTile> unreadable;
};

// One line: "4 tiles covering 45°N to 47°N, 6°E to 8°E", then the unreadable files by
// name; the command line and the preferences window both show it.
std::string terrainSummaryText(const TerrainSummary& summary);

// The elevation of the ground from a folder of tiles (and its sub-folders): SRTM
// `.hgt` files (1" of 3601x3601 posts, 3" of 1201x1201, named as N45E006.hgt) and
// GeoTIFFs (`.tif`, `.tiff`, such as the 1" tiles of Copernicus GLO-30), all on
// latitude and longitude. A tile's extent is its own georeference as GDAL reads it,
// never its name. The heights are the tiles' own: metres above the geoid (EGM96 for
// SRTM, EGM2008 for Copernicus, within a metre or two of each other).
//
// The folder is scanned once, when the object is made; the posts of a tile are read
// on its first lookup and kept, least recently used first out once the kept posts
// pass the memory bound (a tile in use stays until its lookup ends). Lookups may come
// from several threads at once.
class TerrainTiles {
public:
    // Twenty 1" SRTM tiles (16-bit posts), or ten 1" GeoTIFFs of floats.
    static constexpr std::size_t defaultMemoryLimitBytes = std::size_t { 520 } << 20;

    explicit TerrainTiles(const std::string& folder, std::size_t memoryLimitBytes = defaultMemoryLimitBytes);
    ~TerrainTiles();
    TerrainTiles(const TerrainTiles&) = delete;
    TerrainTiles& operator=(const TerrainTiles&) = delete;

    // Metres above the geoid, bilinear between the four posts around the place;
    // nothing where no tile covers it or where one of the four is a void (-32768 or
    // the tile's nodata value). Across the edge of two tiles the posts of both serve
    // where their grids meet, so the surface is continuous there; where no tile beside
    // it has posts on the tile's grid (none there, another spacing), the half cell
    // beyond a tile's last posts takes the values on its edge.
    std::optional<double> elevationAt(GeoPoint place) const;

    // The scan, with the files that failed when their posts were read since.
    TerrainSummary summary() const;
    // How many tiles' posts are held, and their bytes: the cache, for the tests and the
    // benchmark.
    std::size_t loadedTiles() const;
    std::size_t loadedBytes() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Where the terrain tiles are. The most specific choice wins: the command line's
// --terrain, then $CORVEX_TERRAIN, then the preference `terrainFolder`; nothing when
// none is given (the program then works without terrain).
struct TerrainFolderChoice {
    std::optional<std::string> commandLine;
    std::optional<std::string> preference;
    // Reads the environment; the process's own when empty.
    std::function<std::optional<std::string>(const char* name)> environment;
};

std::optional<std::string> terrainFolder(const TerrainFolderChoice& choice);

} // namespace corvex::terrain
