#include "geo/GeoPoint.h"
#include "map/ImageDifference.h"
#include "map/StrokeCoverage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace corvex {
namespace {

// A pixel's exact share of a stroke, by 32×32 samples: what the painter's stroker and
// its area-exact fill give, less its mitred joins.
double sampledCoverage(const std::vector<MapPoint>& points, double width, int x, int y)
{
    const auto distanceToSegment = [](double px, double py, MapPoint a, MapPoint b) {
        const double dx = b.x - a.x;
        const double dy = b.y - a.y;
        const double t = std::clamp(((px - a.x) * dx + (py - a.y) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
        return std::hypot(px - a.x - t * dx, py - a.y - t * dy);
    };
    int inside = 0;
    for (int i = 0; i < 32; ++i) {
        for (int j = 0; j < 32; ++j) {
            const double px = x + (i + 0.5) / 32;
            const double py = y + (j + 0.5) / 32;
            double nearest = std::numeric_limits<double>::infinity();
            for (std::size_t k = 1; k < points.size(); ++k)
                nearest = std::min(nearest, distanceToSegment(px, py, points[k - 1], points[k]));
            inside += nearest <= width / 2;
        }
    }
    return inside / 1024.0;
}

TEST(StrokeCoverage, PixelsCloseToTheirExactShareOfTheStroke)
{
    // Long lines through the middle of the mask at several angles, and a closed ring of
    // many short segments (an airspace's arc at a small scale): every pixel within a
    // few hundredths of its exact share, the joins of the ring included (round joins,
    // as sampled here). Along a pixel row the share is exact.
    struct Case {
        const char* name;
        std::vector<MapPoint> points;
        double width;
        int largestError; // of 255
    };
    std::vector<MapPoint> ring;
    for (int step = 0; step <= 36; ++step) {
        const double angle = step * geo::pi / 18;
        ring.push_back({ 20 + 6 * std::cos(angle), 20 + 6 * std::sin(angle) });
    }
    const Case cases[] = {
        { "along a row", { { 3, 20.5 }, { 37, 20.5 } }, 1.5, 1 },
        { "along a column, width 2", { { 20.25, 3 }, { 20.25, 37 } }, 2.0, 1 },
        { "10 degrees", { { 3, 17 }, { 37, 23 } }, 1.5, 6 },
        { "30 degrees", { { 5, 11.3 }, { 35, 28.6 } }, 1.5, 12 },
        { "45 degrees", { { 4, 4.2 }, { 36, 36.2 } }, 1.5, 14 },
        { "60 degrees, width 1.2", { { 11, 4 }, { 29, 35.2 } }, 1.2, 12 },
        { "a ring of 36 segments", ring, 1.5, 13 },
    };
    for (const Case& c : cases) {
        StrokeCoverage coverage(0, 0, 40, 40);
        const bool closed = c.points.front().x == c.points.back().x && c.points.front().y == c.points.back().y;
        coverage.addPolyline(c.points, c.width, closed ? StrokeCoverage::Ends::Closed : StrokeCoverage::Ends::Open);
        int largest = 0;
        // Away from the open lines' ends (their flat caps are checked below).
        for (int y = 6; y < 34; ++y) {
            for (int x = 6; x < 34; ++x) {
                const int exact = static_cast<int>(std::lround(sampledCoverage(c.points, c.width, x, y) * 255));
                largest = std::max(largest, std::abs(coverage.coverageAt(x, y) - exact));
            }
        }
        EXPECT_LE(largest, c.largestError) << c.name;
    }
}

TEST(StrokeCoverage, EndsClipsAndDegenerateLines)
{
    struct Case {
        const char* name;
        std::vector<MapPoint> points;
        StrokeCoverage::Ends ends;
        std::vector<std::pair<int, int>> covered;
        std::vector<std::pair<int, int>> clear;
        int maskLeft = 0;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        // A flat end at x = 5 and x = 15: the columns beyond get nothing, a column
        // half a pixel past the end nothing either.
        { "open line ends flat", { { 5, 10.5 }, { 15, 10.5 } }, StrokeCoverage::Ends::Open, { { 5, 10 }, { 14, 10 } },
            { { 4, 10 }, { 15, 10 }, { 4, 9 } } },
        // The ring's closing side, from the last point back to the first, is drawn.
        { "closed ring closes", { { 5.5, 5.5 }, { 14.5, 5.5 }, { 14.5, 14.5 }, { 5.5, 14.5 } }, StrokeCoverage::Ends::Closed,
            { { 5, 10 }, { 10, 5 }, { 14, 10 }, { 10, 14 } }, { { 10, 10 } } },
        // The same points open: no side from the last point to the first.
        { "open ring stays open", { { 5.5, 5.5 }, { 14.5, 5.5 }, { 14.5, 14.5 }, { 5.5, 14.5 } }, StrokeCoverage::Ends::Open,
            { { 10, 5 }, { 10, 14 } }, { { 5, 10 } } },
        // A mask from column 10 (rows 0 to 19): what lies inside is drawn as usual, up
        // to its edges.
        { "clipped to the mask", { { 0, 15.5 }, { 40, 15.5 } }, StrokeCoverage::Ends::Open, { { 10, 15 }, { 29, 15 } },
            { { 9, 15 }, { 30, 15 } }, 10 },
        { "one point", { { 12, 12 } }, StrokeCoverage::Ends::Open, {}, {} },
        { "repeated points", { { 12, 12 }, { 12, 12 }, { 12, 12 } }, StrokeCoverage::Ends::Closed, {}, {} },
        { "not a number", { { nan, 12 }, { 20, nan } }, StrokeCoverage::Ends::Open, {}, {} },
        { "far outside", { { -1e9, -1e9 }, { -1e9 + 3, -1e9 } }, StrokeCoverage::Ends::Open, {}, {} },
        { "far across", { { -1e9, 5.5 }, { 1e9, 5.5 } }, StrokeCoverage::Ends::Open, { { 0, 5 }, { 19, 5 } }, { { 0, 7 } } },
    };
    for (const Case& c : cases) {
        StrokeCoverage coverage(c.maskLeft, 0, 20, 20);
        coverage.addPolyline(c.points, 1.5, c.ends);
        for (const auto& [x, y] : c.covered)
            EXPECT_GT(coverage.coverageAt(x, y), 128) << c.name << " at " << x << "," << y;
        for (const auto& [x, y] : c.clear)
            EXPECT_EQ(coverage.coverageAt(x, y), 0) << c.name << " at " << x << "," << y;
        if (c.covered.empty()) {
            EXPECT_EQ(coverage.coveredPixelCount(), 0u) << c.name;
        }
    }
}

TEST(StrokeCoverage, BlendsOnceWhereSegmentsOverlapAndClearsTheMask)
{
    // A zigzag of half-pixel segments covers its pixels many times over: each pixel
    // takes the colour once, as one filled outline would, and a second stroke after the
    // blend starts from a clear mask.
    std::vector<MapPoint> zigzag;
    for (int step = 0; step <= 40; ++step)
        zigzag.push_back({ 4 + step * 0.5, 8.5 + (step % 2) * 0.2 });
    const std::uint32_t white = 0xffffffffu;
    std::vector<std::uint32_t> pixels(32 * 16, white);
    StrokeCoverage coverage(0, 0, 32, 16);
    coverage.addPolyline(zigzag, 1.5, StrokeCoverage::Ends::Open);
    const int edge = coverage.coverageAt(12, 9);
    ASSERT_GT(edge, 0);
    ASSERT_LT(edge, 255);
    // Translucent red (premultiplied: alpha 0x80, red 0x80).
    coverage.blendInto(pixels.data(), 32 * 4, 0x80800000u);
    EXPECT_EQ(coverage.coverageAt(12, 9), 0);
    EXPECT_EQ(coverage.coveredPixelCount(), 0u);
    // source = colour × coverage, then source + white × (1 - source alpha), per channel.
    const auto scaled = [](int value, int by) { return (value * by + 127) / 255; };
    const int sourceAlpha = scaled(0x80, edge);
    const std::uint32_t blended = pixels[9 * 32 + 12];
    EXPECT_NEAR(static_cast<int>(blended >> 24), sourceAlpha + scaled(255, 255 - sourceAlpha), 1);
    EXPECT_NEAR(static_cast<int>((blended >> 8) & 0xff), scaled(255, 255 - sourceAlpha), 1);
    // On the line: the colour whole over white, 0x80800000 + 0x7f7f7f7f; off it, white.
    EXPECT_EQ(pixels[8 * 32 + 12], 0xffff7f7fu) << std::hex << pixels[8 * 32 + 12];
    EXPECT_EQ(pixels[15 * 32 + 31], white);
}

TEST(StrokeCoverage, SimplifyKeepsTheShapeWithinTheTolerance)
{
    struct Case {
        const char* name;
        std::vector<MapPoint> points;
        std::size_t largestKept; // at most this many points kept
        std::size_t fewestKept;
    };
    std::vector<MapPoint> straight;
    for (int step = 0; step <= 100; ++step)
        straight.push_back({ step * 0.3, 5 + step * 0.1 });
    std::vector<MapPoint> arc;
    for (int step = 0; step <= 180; ++step)
        arc.push_back({ 50 + 20 * std::cos(step * geo::pi / 90), 50 + 20 * std::sin(step * geo::pi / 90) });
    std::vector<MapPoint> zigzag;
    for (int step = 0; step <= 20; ++step)
        zigzag.push_back({ step * 1.0, (step % 2) * 0.5 });
    const Case cases[] = {
        { "a straight run", straight, 2, 2 },
        // A circle of 20 px: about 2.5 px chords stay within 0.1 px, some 50 of 181.
        { "a circle", arc, 70, 30 },
        { "a zigzag beyond the tolerance", zigzag, 21, 21 },
        // Out and back along one line: the turn is kept, or the stroke would stop short.
        { "out and back", { { 0, 0 }, { 5, 0 }, { 10, 0 }, { 5, 0.01 }, { 1, 0.02 } }, 3, 3 },
        { "one point", { { 1, 1 } }, 1, 1 },
    };
    for (const Case& c : cases) {
        const std::vector<std::size_t> kept = StrokeCoverage::simplify(c.points);
        EXPECT_LE(kept.size(), c.largestKept) << c.name;
        EXPECT_GE(kept.size(), c.fewestKept) << c.name;
        ASSERT_FALSE(kept.empty()) << c.name;
        EXPECT_EQ(kept.front(), 0u) << c.name;
        EXPECT_EQ(kept.back(), c.points.size() - 1) << c.name;
        // Every point left out lies within the tolerance (and a little for the turn
        // test) of the segment that replaced it.
        for (std::size_t segment = 1; segment < kept.size(); ++segment) {
            const MapPoint a = c.points[kept[segment - 1]];
            const MapPoint b = c.points[kept[segment]];
            for (std::size_t index = kept[segment - 1] + 1; index < kept[segment]; ++index) {
                const MapPoint p = c.points[index];
                const double dx = b.x - a.x;
                const double dy = b.y - a.y;
                const double lengthSquared = dx * dx + dy * dy;
                const double t = lengthSquared > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / lengthSquared, 0.0, 1.0) : 0;
                EXPECT_LE(std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy), StrokeCoverage::simplification * 1.5)
                    << c.name << " point " << index;
            }
        }
    }
}

TEST(ImageDifference, TellsEdgesFromFlatAreas)
{
    // White with a black column 2; one pixel changed beside the column (an edge), one
    // in the flat white, with alpha.
    std::vector<std::uint32_t> reference(36, 0xffffffffu);
    for (int y = 0; y < 6; ++y)
        reference[static_cast<std::size_t>(y * 6 + 2)] = 0xff000000u;
    std::vector<std::uint32_t> candidate = reference;
    candidate[3 * 6 + 3] = 0xffe0e0e0u;
    candidate[0 * 6 + 5] = 0x00ffffffu;
    const ImageDifference difference = compareImages(reference.data(), candidate.data(), 6, 6, 6);
    EXPECT_EQ(difference.differingPixels, 2u);
    EXPECT_EQ(difference.differingAwayFromEdges, 1u);
    EXPECT_EQ(difference.largestAwayFromEdges, 255);
    EXPECT_EQ(difference.largestChannelDifference, 255);
    EXPECT_EQ(compareImages(reference.data(), reference.data(), 6, 6, 6).differingPixels, 0u);
}

} // namespace
} // namespace corvex
