#include "terrain/Geoid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <fstream>
#include <iterator>
#include <vector>

namespace corvex::terrain {
namespace {

// The grid file read by hand, apart from GDAL: a header of four big-endian doubles
// (south-west post's latitude and longitude, the steps) and two big-endian integers
// (rows, columns), then big-endian float rows from the south.
struct RawGrid {
    std::vector<unsigned char> bytes;

    std::uint64_t bigEndian(std::size_t at, int size) const
    {
        std::uint64_t value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 | bytes.at(at + static_cast<std::size_t>(i));
        return value;
    }
    template<typename T>
    T number(std::size_t at) const
    {
        const auto word = static_cast<std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>>(bigEndian(at, sizeof(T)));
        T value;
        std::memcpy(&value, &word, sizeof value);
        return value;
    }
    int rows() const { return static_cast<int>(bigEndian(32, 4)); }
    int columns() const { return static_cast<int>(bigEndian(36, 4)); }
    // The post at a latitude and longitude on the grid's posts.
    double post(double latitude, double longitude) const
    {
        const auto row = static_cast<std::size_t>(std::lround((latitude - number<double>(0)) / number<double>(16)));
        const auto column = static_cast<std::size_t>(std::lround(std::fmod(longitude - number<double>(8) + 720, 360) / number<double>(24)));
        return number<float>(40 + (row * static_cast<std::size_t>(columns()) + column) * 4);
    }
};

TEST(GeoidTest, UndulationFollowsTheGridBilinearlyAndRoundTheWorld)
{
    const auto geoid = Geoid::load();
    ASSERT_TRUE(geoid) << geoid.error();
    std::ifstream file(Geoid::defaultGridPath, std::ios::binary);
    const RawGrid raw { { std::istreambuf_iterator<char>(file), {} } };
    ASSERT_EQ(raw.bytes.size(), 40u + 721u * 1440u * 4u);
    ASSERT_EQ(raw.columns(), 1440);
    ASSERT_EQ(raw.rows(), 721);

    // On the posts: the grid's own values.
    const GeoPoint posts[] { { 0, 0 }, { 45, 6 }, { -30.25, 150.5 }, { 89.75, -179.75 }, { -90, 0 }, { 27.5, 86.75 } };
    for (const GeoPoint& post : posts)
        EXPECT_NEAR(geoid->undulation(post), raw.post(post.latitude, post.longitude), 1e-4) << post.latitude << " " << post.longitude;

    // Between posts: the mean of the four around the middle of a cell, and the wrap
    // across 180° (the last column beside the first).
    const auto mean = [&](double south, double west) {
        return (raw.post(south, west) + raw.post(south, west + 0.25) + raw.post(south + 0.25, west)
                   + raw.post(south + 0.25, west + 0.25))
            / 4;
    };
    EXPECT_NEAR(geoid->undulation({ 45.125, 6.125 }), mean(45, 6), 1e-4);
    EXPECT_NEAR(geoid->undulation({ -10.125, 179.875 }), mean(-10.25, 179.75), 1e-4);
    EXPECT_NEAR(geoid->undulation({ -10.125, -180.125 }), mean(-10.25, 179.75), 1e-4);
    EXPECT_NEAR(geoid->undulation({ 45, 366 }), geoid->undulation({ 45, 6 }), 1e-9);

    // EGM96 at places people quote, to a metre and a half.
    const struct {
        GeoPoint place;
        double metres;
    } published[] {
        { { 0, 0 }, 17.16 },
        { { 45, 6 }, 52.2 }, // the western Alps
        { { 27.988, 86.925 }, -28.7 }, // Mount Everest's summit
        { { 4.75, 78.75 }, -107.0 }, // the geoid's deepest, south of India
    };
    for (const auto& known : published)
        EXPECT_NEAR(geoid->undulation(known.place), known.metres, 1.5) << known.place.latitude << " " << known.place.longitude;
    EXPECT_TRUE(std::isnan(geoid->undulation({ std::nan(""), 0 })));
}

TEST(GeoidTest, MissingOrForeignGridIsAClearError)
{
    const auto missing = Geoid::load("/nonexistent/egm96_15.gtx");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().find("proj-data"), std::string::npos) << missing.error();
    const auto foreign = Geoid::load("/etc/hostname");
    ASSERT_FALSE(foreign);
    EXPECT_NE(foreign.error().find("/etc/hostname"), std::string::npos) << foreign.error();
}

} // namespace
} // namespace corvex::terrain
