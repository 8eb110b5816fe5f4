// core-bench terrain: lookups of the ground along a ten-hour track and a hillshade,
// over 1" SRTM tiles the benchmark writes itself (the shared test data holds none).

#include "TerrainBench.h"

#include "terrain/Hillshade.h"
#include "terrain/TerrainTiles.h"

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

namespace corvex::bench {

namespace {

constexpr int postsPerSide = 3601;

// Hills and valleys of a few hundred metres to a few kilometres across.
double madeGround(double latitude, double longitude)
{
    return 1500 + 700 * std::sin(latitude * 23.0) * std::cos(longitude * 17.0) + 300 * std::sin(latitude * 170.0 + longitude * 90.0)
        + 80 * std::cos(latitude * 900.0 - longitude * 700.0);
}

void writeTile(const std::string& folder, int south, int west)
{
    char name[32];
    std::snprintf(name, sizeof name, "N%02dE%03d.hgt", south, west);
    std::vector<char> bytes;
    bytes.reserve(static_cast<std::size_t>(postsPerSide) * postsPerSide * 2);
    for (int row = 0; row < postsPerSide; ++row)
        for (int column = 0; column < postsPerSide; ++column) {
            const auto post = static_cast<std::uint16_t>(static_cast<std::int16_t>(
                std::lround(madeGround(south + 1 - row / 3600.0, west + column / 3600.0))));
            bytes.push_back(static_cast<char>(post >> 8));
            bytes.push_back(static_cast<char>(post & 0xff));
        }
    std::ofstream(folder + "/" + name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

double seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double peakMegabytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

} // namespace

int benchTerrain(const std::string& folder, std::size_t fixes)
{
    std::filesystem::create_directories(folder);
    // Two rows of three tiles, 45N to 47N and 6E to 9E: 156 MB of files.
    auto start = std::chrono::steady_clock::now();
    for (int south = 45; south <= 46; ++south)
        for (int west = 6; west <= 8; ++west)
            writeTile(folder, south, west);
    std::printf("terrain: 6 tiles of 1\" written in %.2f s\n", seconds(start));

    // Ten hours, a fix a second, round a triangle over every tile and back and forth.
    const GeoPoint corners[] { { 45.2, 6.2 }, { 46.8, 7.5 }, { 45.4, 8.8 }, { 45.2, 6.2 } };
    std::vector<GeoPoint> track;
    for (std::size_t i = 0; i < fixes; ++i) {
        const double along = 3.0 * static_cast<double>(i) / static_cast<double>(fixes);
        const int leg = std::min(2, static_cast<int>(along));
        const double share = along - leg;
        track.push_back({ corners[leg].latitude + (corners[leg + 1].latitude - corners[leg].latitude) * share,
            corners[leg].longitude + (corners[leg + 1].longitude - corners[leg].longitude) * share });
    }

    start = std::chrono::steady_clock::now();
    const terrain::TerrainTiles tiles(folder);
    const double scan = seconds(start);
    const auto lookUp = [&] {
        std::size_t answered = 0;
        double sum = 0;
        for (const GeoPoint& fix : track)
            if (const auto elevation = tiles.elevationAt(fix)) {
                ++answered;
                sum += *elevation;
            }
        return std::pair { answered, sum };
    };
    start = std::chrono::steady_clock::now();
    const auto [coldAnswered, coldSum] = lookUp();
    const double cold = seconds(start);
    start = std::chrono::steady_clock::now();
    const auto [warmAnswered, warmSum] = lookUp();
    const double warm = seconds(start);
    std::printf("terrain: scan of the folder %.1f ms (%s)\n", scan * 1e3, terrain::terrainSummaryText(tiles.summary()).c_str());
    std::printf("terrain: %zu lookups cold %.1f ms (%zu answered, %zu tiles read, %.0f MB held), warm %.2f ms (%.0f ns a lookup); "
                "mean %.0f m\n",
        track.size(), cold * 1e3, coldAnswered, tiles.loadedTiles(), static_cast<double>(tiles.loadedBytes()) / (1 << 20),
        warm * 1e3, warm * 1e9 / static_cast<double>(track.size()), warmAnswered ? warmSum / static_cast<double>(warmAnswered) : 0.0);
    if (coldAnswered != warmAnswered || coldSum != warmSum) {
        std::fprintf(stderr, "terrain: the warm answers differ from the cold ones\n");
        return 1;
    }

    start = std::chrono::steady_clock::now();
    const terrain::ReliefImage relief = terrain::hillshade(tiles, { 45.0, 6.0, 47.0, 9.0 }, 1280, 800);
    const double shade = seconds(start);
    std::size_t drawn = 0;
    for (std::uint8_t alpha : relief.alpha)
        drawn += alpha != 0;
    std::printf("terrain: hillshade 1280x800 of 45N-47N 6E-9E in %.1f ms (%zu pixels drawn); peak %.0f MB\n", shade * 1e3, drawn,
        peakMegabytes());
    return 0;
}

void writeBenchTile(const std::string& folder, int south, int west) { writeTile(folder, south, west); }

} // namespace corvex::bench
