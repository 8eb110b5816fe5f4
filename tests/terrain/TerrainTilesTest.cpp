#include "TerrainTileFiles.h"

#include "TemporaryFolder.h"
#include "terrain/Hillshade.h"
#include "terrain/TerrainTiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <thread>

namespace corvex::terrain {
namespace {

// A tilted plain (rising east and north) with a cone of 2500 m at 45.5N 6.5E, voids
// at the post nearest 45.5N 7.5E and at the GeoTIFF post nearest 46.504N 6.504E.
std::optional<double> ground(double latitude, double longitude)
{
    if (std::hypot(latitude - 45.5, longitude - 7.5) < 1e-6 || std::hypot(latitude - 46.504, longitude - 6.504) < 0.001)
        return std::nullopt;
    const double cone = std::max(0.0, 2500 - 20000 * std::hypot(latitude - 45.5, longitude - 6.5));
    return 500 + 100 * (longitude - 6) + 50 * (latitude - 45) + cone;
}

// What an SRTM tile of `postsPerDegree` must give: bilinear between the posts on the
// whole world's grid of that spacing, each post rounded to the metre as the file holds
// it; nothing beside a void.
std::optional<double> fromSrtmPosts(double latitude, double longitude, int postsPerDegree)
{
    const double column = longitude * postsPerDegree;
    const double row = latitude * postsPerDegree;
    const double west = std::floor(column);
    const double south = std::floor(row);
    double value[2][2];
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
            const auto post = ground((south + dy) / postsPerDegree, (west + dx) / postsPerDegree);
            if (!post)
                return std::nullopt;
            value[dy][dx] = static_cast<double>(std::lround(*post));
        }
    const double across = column - west;
    const double up = row - south;
    const double southRow = value[0][0] + (value[0][1] - value[0][0]) * across;
    const double northRow = value[1][0] + (value[1][1] - value[1][0]) * across;
    return southRow + (northRow - southRow) * up;
}

class TerrainTilesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = std::make_unique<testing::TemporaryFolder>("corvex-terrain");
        const std::string& path = folder->path();
        test::writeHgtTile(path, 45, 6, 1201, ground);
        test::writeHgtTile(path, 45, 7, 1201, ground);
        test::writeHgtTile(path, 44, 7, 3601, ground);
        test::writeGeoTiffTile(path + "/N46E006.tif", 46, 6, 120, ground);
        std::filesystem::create_directory(path + "/more");
        test::writeGeoTiffTile(path + "/more/N46E007.tiff", 46, 7, 120, ground);
        // Unreadable: an .hgt cut short, a GeoTIFF of noise, one cut after its header.
        std::ofstream(path + "/N47E006.hgt", std::ios::binary) << std::string(1000, '\x01');
        std::ofstream(path + "/broken.tif", std::ios::binary) << "II*\0this is no tiff at all";
        test::writeGeoTiffTile(path + "/N47E007.tif", 47, 7, 120, ground);
        std::filesystem::resize_file(path + "/N47E007.tif", 4000);
        std::ofstream(path + "/readme.txt") << "not a tile";
    }
    static void TearDownTestSuite() { folder.reset(); }

    static inline std::unique_ptr<testing::TemporaryFolder> folder;
};

TEST_F(TerrainTilesTest, ElevationsAreBilinearBetweenPostsAcrossTilesAndNothingWhereThereIsNone)
{
    enum class Expect { SrtmPosts, Ground, Nothing };
    struct Case {
        const char* what;
        double latitude;
        double longitude;
        Expect expect;
        double tolerance { 0.01 };
        int postsPerDegree { 1200 };
        // Where the expected value is taken, when not at the place itself.
        std::optional<double> expectedLongitude {};
    };
    const Case cases[] {
        { "cone top, on a post", 45.5, 6.5, Expect::Ground, 0.01 },
        { "cone flank between posts", 45.5123, 6.4871, Expect::SrtmPosts },
        { "cone flank, against the true cone", 45.4890, 6.5177, Expect::Ground, 0.6 },
        { "plain at the cone's foot", 45.1, 6.9, Expect::Ground, 0.6 },
        { "on the edge of two .hgt tiles", 45.3, 7.0, Expect::SrtmPosts },
        { "just west of the edge", 45.3, 7.0 - 1e-9, Expect::SrtmPosts },
        { "just east of the edge", 45.3, 7.0 + 1e-9, Expect::SrtmPosts },
        { "on the tiles' south-west corner", 45.0, 6.0, Expect::SrtmPosts },
        { "a void among the four posts", 45.5001, 7.5001, Expect::Nothing },
        { "two posts from the void", 45.5 + 2.0 / 1200 + 1e-4, 7.5, Expect::SrtmPosts },
        { "1\" tile", 44.4321, 7.6543, Expect::SrtmPosts, 0.01, 3600 },
        { "1\" tile beside a 3\" one", 45.0, 7.25, Expect::SrtmPosts },
        { "half a post beyond the last tile to the east", 45.3, 8.0003, Expect::SrtmPosts, 0.01, 1200, 8.0 },
        { "no tile there", 44.5, 6.5, Expect::Nothing },
        { "far from every tile", -33.9, 18.4, Expect::Nothing },
        { "GeoTIFF", 46.7, 6.3, Expect::Ground, 0.001 },
        { "edge of two GeoTIFFs that share no posts", 46.7, 7.0, Expect::Ground, 0.001 },
        { "GeoTIFF nodata among the four posts", 46.505, 6.505, Expect::Nothing },
        { "between an .hgt and a GeoTIFF", 46.002, 6.7, Expect::Ground, 0.6 },
        { "in an unreadable GeoTIFF's place", 47.5, 7.5, Expect::Nothing },
        { "in an unreadable .hgt's place", 47.5, 6.5, Expect::Nothing },
        { "not a place", std::nan(""), 6.5, Expect::Nothing },
    };
    const TerrainTiles tiles(folder->path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto elevation = tiles.elevationAt({ c.latitude, c.longitude });
        switch (c.expect) {
        case Expect::Nothing:
            EXPECT_FALSE(elevation.has_value()) << *elevation;
            break;
        case Expect::Ground:
            ASSERT_TRUE(elevation.has_value());
            EXPECT_NEAR(*elevation, *ground(c.latitude, c.longitude), c.tolerance);
            break;
        case Expect::SrtmPosts:
            ASSERT_TRUE(elevation.has_value());
            EXPECT_NEAR(*elevation, *fromSrtmPosts(c.latitude, c.expectedLongitude.value_or(c.longitude), c.postsPerDegree),
                c.tolerance);
            break;
        }
    }
}

TEST_F(TerrainTilesTest, SummaryNamesTheCoveredBoxAndEveryUnreadableFile)
{
    const TerrainTiles tiles(folder->path());
    EXPECT_FALSE(tiles.elevationAt({ 47.5, 7.5 }));
    const TerrainSummary summary = tiles.summary();
    EXPECT_EQ(summary.tiles, 5u);
    ASSERT_TRUE(summary.covered);
    EXPECT_NEAR(summary.covered->south, 44, 0.001);
    EXPECT_NEAR(summary.covered->north, 47, 0.001);
    EXPECT_NEAR(summary.covered->west, 6, 0.001);
    EXPECT_NEAR(summary.covered->east, 8, 0.001);
    std::vector<std::string> unreadable;
    for (const auto& file : summary.unreadable) {
        unreadable.push_back(std::filesystem::path(file.path).filename().string());
        EXPECT_FALSE(file.reason.empty()) << file.path;
    }
    std::sort(unreadable.begin(), unreadable.end());
    EXPECT_EQ(unreadable, (std::vector<std::string> { "N47E006.hgt", "N47E007.tif", "broken.tif" }));
    const std::string text = terrainSummaryText(summary);
    EXPECT_EQ(text.rfind("5 tiles covering 44\u00b0N to 47\u00b0N, 6\u00b0E to 8\u00b0E; unreadable: ", 0), 0u) << text;
    EXPECT_NE(text.find("N47E006.hgt ("), std::string::npos) << text;
}

TEST_F(TerrainTilesTest, FolderProblemsAreSaid)
{
    const testing::TemporaryFolder empty("corvex-terrain-empty");
    const struct {
        std::string folder;
        std::string text;
    } cases[] {
        { empty.path(), "no tiles in " + empty.path() },
        { empty.path() + "/missing", empty.path() + "/missing does not exist" },
        { folder->path() + "/readme.txt", folder->path() + "/readme.txt is not a folder" },
    };
    for (const auto& c : cases) {
        const TerrainTiles tiles(c.folder);
        EXPECT_EQ(terrainSummaryText(tiles.summary()), c.text);
        EXPECT_FALSE(tiles.elevationAt({ 45.5, 6.5 }));
    }
}

TEST_F(TerrainTilesTest, MemoryBoundKeepsTheRecentTileAndAnswersStayTheSame)
{
    const TerrainTiles unbounded(folder->path());
    // Room for one 3" tile (2.9 MB), not two; the 1" tile alone is larger still.
    const TerrainTiles bounded(folder->path(), 4u << 20);
    const GeoPoint places[] { { 45.5, 6.6 }, { 45.5, 7.6 }, { 45.2, 6.2 }, { 44.5, 7.5 }, { 45.7, 7.1 } };
    for (int round = 0; round < 2; ++round)
        for (const GeoPoint& place : places) {
            EXPECT_EQ(bounded.elevationAt(place), unbounded.elevationAt(place));
            EXPECT_EQ(bounded.loadedTiles(), 1u);
        }
    EXPECT_EQ(unbounded.loadedTiles(), 3u);
}

TEST_F(TerrainTilesTest, LookupsFromSeveralThreadsAgreeWithOneThread)
{
    std::mt19937 random(7);
    // Clear of the large 1" tile, which would have every thread read it again and again.
    std::uniform_real_distribution<double> latitude(45.05, 47.1), longitude(5.9, 8.1);
    std::vector<GeoPoint> places(4000);
    for (GeoPoint& place : places)
        place = { latitude(random), longitude(random) };
    // West to east for half the threads, east to west for the others: the cache, with
    // room for one 3" tile, changes hands under them without reading a tile each time.
    std::sort(places.begin(), places.end(), [](GeoPoint a, GeoPoint b) { return a.longitude < b.longitude; });
    std::vector<std::optional<double>> expected;
    {
        const TerrainTiles tiles(folder->path());
        for (const GeoPoint& place : places)
            expected.push_back(tiles.elevationAt(place));
    }
    const TerrainTiles shared(folder->path(), 4u << 20);
    std::vector<std::vector<std::optional<double>>> answers(4);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < answers.size(); ++t)
        threads.emplace_back([&, t] {
            for (std::size_t i = 0; i < places.size(); ++i)
                answers[t].push_back(shared.elevationAt(places[t % 2 ? places.size() - 1 - i : i]));
            if (t % 2)
                std::reverse(answers[t].begin(), answers[t].end());
        });
    for (std::thread& thread : threads)
        thread.join();
    for (const auto& answer : answers)
        EXPECT_EQ(answer, expected);
    EXPECT_LE(shared.loadedBytes(), 4u << 20);
}

TEST(TerrainFolderTest, CommandLineThenEnvironmentThenPreference)
{
    const struct {
        std::optional<std::string> commandLine, environment, preference, expected;
    } cases[] {
        { "/cli", "/env", "/pref", "/cli" },
        { std::nullopt, "/env", "/pref", "/env" },
        { "", "", "/pref", "/pref" },
        { std::nullopt, std::nullopt, "", std::nullopt },
    };
    for (const auto& c : cases) {
        TerrainFolderChoice choice { c.commandLine, c.preference, [&](const char* name) {
                                        EXPECT_STREQ(name, "CORVEX_TERRAIN");
                                        return c.environment;
                                    } };
        EXPECT_EQ(terrainFolder(choice), c.expected);
    }
}

TEST_F(TerrainTilesTest, HillshadeLightsTheNorthWestFlankAndLeavesUncoveredGroundClear)
{
    const TerrainTiles tiles(folder->path());
    // 0.01° a pixel, from 6.2E to 8.2E: the last 20 columns have no tile.
    const ReliefImage relief = hillshade(tiles, { 45.3, 6.2, 45.7, 8.2 }, 200, 40);
    ASSERT_EQ(relief.grey.size(), 200u * 40u);
    const auto pixel = [&](double latitude, double longitude) {
        const auto x = static_cast<std::size_t>((longitude - 6.2) / 0.01);
        const auto y = static_cast<std::size_t>((45.7 - latitude) / 0.01);
        return std::pair { relief.grey[y * 200 + x], relief.alpha[y * 200 + x] };
    };
    const auto [northWest, northWestAlpha] = pixel(45.56, 6.44);
    const auto [southEast, southEastAlpha] = pixel(45.44, 6.56);
    const auto [plain, plainAlpha] = pixel(45.5, 7.3);
    EXPECT_EQ(northWestAlpha, 255);
    EXPECT_GT(northWest, 200);
    EXPECT_LT(southEast, 160);
    EXPECT_NEAR(plain, 180, 2);
    EXPECT_EQ(plainAlpha, 255);
    EXPECT_EQ(southEastAlpha, 255);
    for (double longitude : { 8.02, 8.1, 8.19 })
        EXPECT_EQ(pixel(45.5, longitude).second, 0) << longitude;
}

} // namespace
} // namespace corvex::terrain
