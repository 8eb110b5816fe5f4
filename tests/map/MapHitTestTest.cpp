#include "map/MapHitTest.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace corvex {
namespace {

constexpr double unitsPerDegree = mapWorldSize / 360;

std::shared_ptr<const MapOverlay> square(MapOverlay::Kind kind, double south, double west, double north, double east)
{
    return std::make_shared<const MapOverlay>(
        kind, std::vector<GeoPoint> { { south, west }, { north, west }, { north, east }, { south, east }, { south, west } });
}

// Near the equator a degree of latitude is about a degree of longitude on the plane.
MapPoint at(double latitude, double longitude) { return mapPointForCoordinate({ latitude, longitude }); }

TEST(MapHitTest, EdgesWithinTheToleranceThenTheSmallestAreaAroundThePoint)
{
    using Kind = MapOverlay::Kind;
    const MapOverlays overlays {
        square(Kind::Polygon, 0, 0, 10, 10), // 0: a large area
        square(Kind::Polygon, 2, 2, 4, 4), // 1: nested in it
        std::make_shared<const MapOverlay>(Kind::Polyline, std::vector<GeoPoint> { { 6, 6 }, { 6, 9 }, { 8, 9 } }), // 2: a line
        square(Kind::Polygon, 20, 20, 22, 22), // 3: and the same place twice
        square(Kind::Polygon, 20, 20, 22, 22), // 4
        nullptr, // 5: a gap in the list
    };
    const double tolerance = 0.05 * unitsPerDegree;
    struct Case {
        const char* what;
        MapPoint point;
        std::optional<std::size_t> expected;
    };
    const Case cases[] = {
        { "inside the large area only", at(7, 3), 0 },
        { "inside the nested one: the smallest wins", at(3, 3), 1 },
        { "outside everything", at(15, 15), std::nullopt },
        { "just outside the large one's edge", at(5, 10.03), 0 },
        { "beyond the tolerance from its edge", at(5, 10.08), std::nullopt },
        { "in the large one, at the nested one's edge from outside", at(3, 4.04), 1 },
        { "on the line", at(6.02, 7), 2 },
        { "in the bend of the line: a line encloses nothing", at(7, 8.5), 0 },
        { "two alike: the one drawn last", at(21, 21), 4 },
        { "at a corner", at(10.03, 10.03), 0 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(overlayAtMapPoint(overlays, c.point, tolerance), c.expected) << c.what;

    // Rings drawn as lines are areas when the caller says so.
    const MapOverlays rings { square(Kind::Polyline, 0, 0, 10, 10) };
    EXPECT_EQ(overlayAtMapPoint(rings, at(5, 5), tolerance), std::nullopt);
    EXPECT_EQ(overlayAtMapPoint(rings, at(5, 5), tolerance, [](std::size_t) { return true; }), 0u);
    EXPECT_EQ(overlayAtMapPoint({}, at(5, 5), tolerance), std::nullopt);
}

} // namespace
} // namespace corvex
