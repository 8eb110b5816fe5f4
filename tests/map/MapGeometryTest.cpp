#include "map/MapGeometry.h"
#include "map/MapMarkers.h"
#include "map/MapProjection.h"

#include <gtest/gtest.h>

namespace corvex {
namespace {

constexpr double edgeLatitude = 85.0511287798066;

TEST(MapGeometry, KnownPointsBothWays)
{
    struct Case {
        GeoPoint coordinate;
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
        const GeoPoint back = coordinateForMapPoint(c.point);
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
    for (const GeoPoint coordinate : { GeoPoint { 46.5, 7.25 }, GeoPoint { 60.1, 24.9 }, GeoPoint { -33.9, 151.2 } }) {
        const GeoPoint back = coordinateForMapPoint(mapPointForCoordinate(coordinate));
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

// Outlines on both sides of ±180° (a small made-up ring round Fiji) are one piece: no
// step longer than half the world, the first point in place, the bounds the piece's.
TEST(MapGeometry, OutlinesAcrossTheAntimeridianAreOnePiece)
{
    const double degree = mapWorldSize / 360;
    struct Case {
        const char* name;
        std::vector<GeoPoint> coordinates;
        double west, east; // the bounds, in degrees east of -180°
    };
    const Case cases[] = {
        { "Fiji from the west", { { -16, 177 }, { -16, 179.5 }, { -17, -179 }, { -18.5, -178.5 }, { -18.5, 178 } }, 357, 361.5 },
        { "Fiji from the east", { { -17, -179 }, { -18.5, -178.5 }, { -18.5, 178 }, { -16, 177 } }, -3, 1.5 },
        { "there and back twice", { { 0, 179 }, { 0, -179 }, { 1, 179 }, { 1, -179 } }, 359, 361 },
        { "half the world east and back", { { 0, -90 }, { 0, 89 }, { 0, -90 } }, 90, 269 },
    };
    for (const Case& c : cases) {
        const MapOverlay overlay(MapOverlay::Kind::Polygon, c.coordinates);
        EXPECT_DOUBLE_EQ(overlay.points().front().x, mapPointForCoordinate(c.coordinates.front()).x) << c.name;
        EXPECT_NEAR(overlay.boundingMapRect().x / degree, c.west, 1e-6) << c.name;
        EXPECT_NEAR((overlay.boundingMapRect().x + overlay.boundingMapRect().width) / degree, c.east, 1e-6) << c.name;
    }
    // Every x names a place: the plane repeats east and west.
    EXPECT_NEAR(coordinateForMapPoint({ 361 * degree, 0 }).longitude, -179, 1e-9);
    EXPECT_NEAR(coordinateForMapPoint({ -361 * degree, 0 }).longitude, 179, 1e-9);
}

// Pieces unite the short way round, and a view meets the copies of the world it shows.
TEST(MapGeometry, PiecesUniteAcrossTheWorldsEdgeAndViewsMeetItsCopies)
{
    const double degree = mapWorldSize / 360;
    const auto span = [&](double west, double east) { return MapRect { west * degree, 100, (east - west) * degree, 50 }; };
    struct UnionCase {
        const char* name;
        MapRect a, b;
        double west, east; // of the union, in degrees east of -180°
    };
    const UnionCase unions[] = {
        { "mainland and Chatham Islands", span(346, 358.5), span(3.2, 4.2), 346, 364.2 },
        { "Alps and Pyrenees", span(185, 196), span(178, 183), 178, 196 },
        { "just under half the world apart", span(10, 20), span(180, 189), 10, 189 },
    };
    for (const UnionCase& c : unions) {
        const MapRect united = c.a.unitedAcrossWorld(c.b);
        EXPECT_NEAR(united.x / degree, c.west, 1e-6) << c.name;
        EXPECT_NEAR((united.x + united.width) / degree, c.east, 1e-6) << c.name;
    }
    EXPECT_TRUE(MapRect::null().unitedAcrossWorld(MapRect::null()).isNull());

    struct CopiesCase {
        const char* name;
        MapRect content, visible;
        std::vector<int> expected;
    };
    const CopiesCase copies[] = {
        { "a view across the east edge", MapRect::null(), span(350, 370), { 0, 1 } },
        { "three worlds", MapRect::null(), span(-200, 560), { -1, 0, 1 } },
        { "an island east of the edge", span(2, 3), span(350, 370), { 1 } },
        { "an unwrapped piece", span(357, 361.5), span(-10, 10), { -1 } },
        { "content out of sight", span(100, 101), span(350, 370), {} },
        { "many worlds: the middle ones", MapRect::null(), span(-3600, 3600), { -8, -7, -6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7 } },
    };
    for (const CopiesCase& c : copies)
        EXPECT_EQ(worldCopiesMeeting(c.content, c.visible), c.expected) << c.name;
}

TEST(MapProjection, ViewportPlacesPointsAndFitsRectanglesWithAMargin)
{
    // 400 × 200 pixels showing 800 × 400 units from (1000, 2000): two units a pixel.
    const MapViewport viewport(400, 200, { 1000, 2000, 800, 400 });
    ASSERT_TRUE(viewport.isValid());
    const PixelPoint pixel = viewport.pixelFor(MapPoint { 1100, 2050 });
    EXPECT_DOUBLE_EQ(pixel.x, 50);
    EXPECT_DOUBLE_EQ(pixel.y, 25);
    const MapPoint back = viewport.mapPointAt({ 50, 25 });
    EXPECT_DOUBLE_EQ(back.x, 1100);
    EXPECT_DOUBLE_EQ(back.y, 2050);
    const MapRect grown = viewport.mapRectWithMargin(10);
    EXPECT_DOUBLE_EQ(grown.x, 980);
    EXPECT_DOUBLE_EQ(grown.width, 840);
    EXPECT_FALSE(MapViewport(0, 200, { 0, 0, 1, 1 }).isValid());
    EXPECT_FALSE(MapViewport(400, 200, MapRect::null()).isValid());

    struct Case {
        MapRect bounds;
        double margin;
        double expected; // units per pixel of a 400 × 200 area, from 1 to 1000
    };
    const Case cases[] = {
        { { 0, 0, 800, 100 }, 0, 2 },     // the width decides
        { { 0, 0, 100, 800 }, 0, 4 },     // the height decides
        { { 0, 0, 800, 100 }, 100, 4 },   // 200 pixels left across
        { { 0, 0, 800, 100 }, 300, 2 },   // no room left: the margin is dropped
        { { 5, 5, 0, 0 }, 20, 1 },        // a point: the closest zoom
        { { 0, 0, 1e9, 10 }, 0, 1000 },   // the farthest zoom
        { MapRect::null(), 0, 1 },
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(unitsPerPixelFitting(c.bounds, 400, 200, c.margin, 1, 1000), c.expected)
            << c.bounds.width << " x " << c.bounds.height << ", margin " << c.margin;
    }
    const MapRect fitted = mapRectFitting({ 100, 100, 800, 100 }, 400, 200, 100, 1, 1000);
    EXPECT_DOUBLE_EQ(fitted.x + fitted.width / 2, 500);
    EXPECT_DOUBLE_EQ(fitted.y + fitted.height / 2, 150);
    EXPECT_DOUBLE_EQ(fitted.width, 1600);
    EXPECT_TRUE(mapRectFitting(MapRect::null(), 400, 200, 0, 1, 1000).isNull());
}

TEST(MapMarkers, HitTakesTheNearestWithinTheRadiusAndTheTopOneOfAPlace)
{
    // A view 1° of longitude per 100 pixels around the equator.
    const MapPoint west = mapPointForCoordinate({ 0, 0 });
    const MapPoint east = mapPointForCoordinate({ 0, 4 });
    const double unitsPerPixel = (east.x - west.x) / 400;
    const MapViewport viewport(400, 200, { west.x, west.y - 100 * unitsPerPixel, 400 * unitsPerPixel, 200 * unitsPerPixel });
    const std::vector<MapMarker> markers {
        { MapMarker::Kind::Point, { 0, 1 }, "A" },
        { MapMarker::Kind::Point, { 0, 1.1 }, "B" },
        { MapMarker::Kind::TakeOff, { 0, 3 }, {} },
        { MapMarker::Kind::Cursor, { 0, 3 }, {} },
    };
    const PixelPoint a = viewport.pixelFor(markers[0].position);
    EXPECT_NEAR(a.x, 100, 1e-6);
    EXPECT_NEAR(a.y, 100, 1e-6);
    struct Case {
        PixelPoint pixel;
        double radius;
        std::optional<std::size_t> expected;
    };
    const Case cases[] = {
        { { 100, 100 }, 10, 0 },
        { { 104, 103 }, 10, 0 },        // 5 pixels from A, 7.6 from B
        { { 106, 100 }, 10, 1 },        // nearer B
        { { 100, 111 }, 10, std::nullopt },
        { { 300, 100 }, 10, 3 },        // the cursor is drawn over the take-off
        { { 200, 100 }, 90, 1 },        // far from all but B within a wide radius
    };
    for (const Case& c : cases)
        EXPECT_EQ(markerAt(markers, viewport, c.pixel, c.radius), c.expected) << c.pixel.x << ", " << c.pixel.y;
    EXPECT_EQ(markerAt(markers, MapViewport(), { 100, 100 }, 10), std::nullopt);
    EXPECT_EQ(markerAt({}, viewport, { 100, 100 }, 10), std::nullopt);
}

} // namespace
} // namespace corvex
