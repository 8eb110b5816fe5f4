#include "map/MapGeometry.h"

#include <gtest/gtest.h>

namespace corvex {
namespace {

constexpr double edgeLatitude = 85.0511287798066;

TEST(MapGeometry, KnownPointsBothWays)
{
    struct Case {
        Coordinate coordinate;
        MapPoint point;
    };
    const Case cases[] = {
        { { 0, 0 }, { mapWorldSize / 2, mapWorldSize / 2 } },
        { { 0, -180 }, { 0, mapWorldSize / 2 } },
        { { 0, 180 }, { mapWorldSize, mapWorldSize / 2 } },
        { { edgeLatitude, -180 }, { 0, 0 } },
        { { -edgeLatitude, 180 }, { mapWorldSize, mapWorldSize } },
        { { 0, 90 }, { mapWorldSize * 0.75, mapWorldSize / 2 } },
    };
    for (const Case& c : cases) {
        const MapPoint point = mapPointForCoordinate(c.coordinate);
        EXPECT_NEAR(point.x, c.point.x, 1e-3) << c.coordinate.latitude << ", " << c.coordinate.longitude;
        EXPECT_NEAR(point.y, c.point.y, 1e-3) << c.coordinate.latitude << ", " << c.coordinate.longitude;
        const Coordinate back = coordinateForMapPoint(c.point);
        EXPECT_NEAR(back.latitude, c.coordinate.latitude, 1e-9);
        EXPECT_NEAR(back.longitude, c.coordinate.longitude, 1e-9);
    }
}

TEST(MapGeometry, LatitudeBeyondTheSquareStaysOnItsEdge)
{
    EXPECT_NEAR(mapPointForCoordinate({ 90, 0 }).y, 0, 1e-3);
    EXPECT_NEAR(mapPointForCoordinate({ -89.9, 0 }).y, mapWorldSize, 1e-3);
}

TEST(MapGeometry, RoundTripKeepsEuropeanCoordinates)
{
    for (const Coordinate coordinate : { Coordinate { 46.5, 7.25 }, Coordinate { 60.1, 24.9 }, Coordinate { -33.9, 151.2 } }) {
        const Coordinate back = coordinateForMapPoint(mapPointForCoordinate(coordinate));
        EXPECT_NEAR(back.latitude, coordinate.latitude, 1e-9);
        EXPECT_NEAR(back.longitude, coordinate.longitude, 1e-9);
    }
}

TEST(MapGeometry, UnionAndIntersection)
{
    const MapRect a { 10, 20, 30, 40 };
    const MapRect b { 50, 0, 10, 10 };
    const MapRect united = a.united(b);
    EXPECT_EQ(united.x, 10);
    EXPECT_EQ(united.y, 0);
    EXPECT_EQ(united.width, 50);
    EXPECT_EQ(united.height, 60);

    EXPECT_TRUE(MapRect::null().isNull());
    const MapRect fromNull = MapRect::null().united(a);
    EXPECT_TRUE(fromNull.originEquals(a));
    EXPECT_EQ(fromNull.width, a.width);
    EXPECT_TRUE(a.united(MapRect::null()).originEquals(a));
    EXPECT_TRUE(MapRect::null().united(MapRect::null()).isNull());

    EXPECT_FALSE(a.intersects(b));
    EXPECT_TRUE(a.intersects({ 39, 59, 5, 5 }));
    // A vertical line has no width and still crosses the rectangle.
    EXPECT_TRUE(a.intersects({ 20, 0, 0, 100 }));
    EXPECT_FALSE(a.intersects(MapRect::null()));
    EXPECT_FALSE(MapRect::null().intersects(a));
}

TEST(MapGeometry, OverlayBoundsItsPoints)
{
    const MapOverlay overlay(MapOverlay::Kind::Polygon, { { 10, -10 }, { -10, 10 }, { 0, 0 } });
    ASSERT_EQ(overlay.points().size(), 3u);
    const MapRect& bounds = overlay.boundingMapRect();
    const MapPoint northWest = mapPointForCoordinate({ 10, -10 });
    const MapPoint southEast = mapPointForCoordinate({ -10, 10 });
    EXPECT_DOUBLE_EQ(bounds.x, northWest.x);
    EXPECT_DOUBLE_EQ(bounds.y, northWest.y);
    EXPECT_DOUBLE_EQ(bounds.x + bounds.width, southEast.x);
    EXPECT_DOUBLE_EQ(bounds.y + bounds.height, southEast.y);

    const MapOverlay empty(MapOverlay::Kind::Polyline, {});
    EXPECT_TRUE(empty.boundingMapRect().isNull());
    EXPECT_TRUE(empty.points().empty());
}

} // namespace
} // namespace corvex
