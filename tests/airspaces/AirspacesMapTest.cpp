#include "airspaces/AirspacesMap.h"

#include "airspaces/AirspaceDetails.h"
#include "airspaces/OpenAirConversion.h"
#include "support/CapturingLogSink.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

using namespace corvex;
using corvex::testing::CapturingLogSink;

namespace {

void putLittleEndian(Bytes& bytes, std::size_t offset, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

struct Segment {
    std::vector<Point2d> points;
    std::vector<std::uint16_t> endIndices; // none: one closed ring
};

// A set in the instrument's format with nothing in the header but the segment count.
Airspaces setOf(const std::vector<Segment>& segments)
{
    Bytes bytes(airspacesFormat::headerSize, 0);
    putLittleEndian(bytes, airspacesFormat::segmentCountOffset, static_cast<std::uint32_t>(segments.size()), 4);
    for (const Segment& segment : segments) {
        const std::size_t start = bytes.size();
        const std::size_t size = airspacesFormat::segmentHeaderSize + 2 * segment.endIndices.size() + 8 * segment.points.size();
        bytes.resize(start + size, 0);
        putLittleEndian(bytes, start, static_cast<std::uint32_t>(size), 4);
        putLittleEndian(bytes, start + 42, static_cast<std::uint32_t>(segment.points.size()), 2);
        putLittleEndian(bytes, start + 44, static_cast<std::uint32_t>(segment.endIndices.size()), 2);
        std::size_t at = start + airspacesFormat::segmentHeaderSize;
        for (std::uint16_t index : segment.endIndices) {
            putLittleEndian(bytes, at, index, 2);
            at += 2;
        }
        for (const Point2d& point : segment.points) {
            putLittleEndian(bytes, at, static_cast<std::uint32_t>(point.x), 4);
            putLittleEndian(bytes, at + 4, static_cast<std::uint32_t>(point.y), 4);
            at += 8;
        }
    }
    CapturingLogSink log;
    auto set = Airspaces::initWithDataInInternalFormat(std::move(bytes), log);
    EXPECT_TRUE(set);
    return *set;
}

constexpr std::int32_t half = 1 << 23;

// A ring around (2^23, 2^23), an open line of two points with a line of no points after
// it (end indices 1 then 0), and a second ring further east.
Airspaces mixedSet()
{
    return setOf({
        { { { half, half }, { half + 1000, half }, { half + 1000, half + 1000 } }, {} },
        { { { half - 5000, half - 5000 }, { half - 4000, half - 4500 } }, { 1, 0 } },
        { { { half + 9000, half + 2000 }, { half + 9500, half + 2000 }, { half + 9500, half + 2600 }, { half + 9000, half + 2600 } },
            {} },
    });
}

MapColor color255(int red, int green, int blue)
{
    return { red / 255.0, green / 255.0, blue / 255.0, 1.0 };
}

const MapColor red { 1, 0, 0, 1 };

} // namespace

TEST(AirspacesMap, InverseMercatorKeepsTheTruncatedConstants)
{
    struct Case {
        std::int32_t x, y;
        double latitude, longitude;
    };
    // The truncated 2π and π leave the last binary digits off the exact projection:
    // x = 0 is not quite -180°.
    const Case cases[] = {
        { 0, 0, 85.05112885924835, -179.99999999999997 },
        { half, half, 0.0, 0.0 },
        { 1 << 24, 1 << 24, -85.05112885924835, 179.99999999999997 },
    };
    for (const Case& c : cases) {
        const GeoPoint coordinate = inverseMercator(c.x, c.y);
        EXPECT_EQ(coordinate.latitude, c.latitude) << c.x << "," << c.y;
        EXPECT_EQ(coordinate.longitude, c.longitude) << c.x << "," << c.y;
    }
    // Beyond the world square (the format's coordinates are signed) the maths still
    // gives finite degrees.
    const GeoPoint outside = inverseMercator(-1, (1 << 24) + 5);
    EXPECT_LT(outside.longitude, -179.9999);
    EXPECT_LT(outside.latitude, -85.05);
}

TEST(AirspacesMap, ModeZeroColoursFollowTheIndexHash)
{
    struct Case {
        std::size_t index;
        MapColor color;
    };
    const Case cases[] = {
        { 0, color255(0, 0, 0) },
        { 1, color255(167, 27, 37) },
        { 2, color255(152, 146, 167) },
    };
    const MapOverlay line(MapOverlay::Kind::Polyline, { { 1, 1 }, { 2, 2 } });
    for (const Case& c : cases) {
        const MapOverlayStyle style = airspacesOverlayStyle(line, c.index, 0);
        EXPECT_EQ(style.strokeColor, c.color) << c.index;
        EXPECT_EQ(style.lineWidth, 1.0);
        EXPECT_FALSE(style.fillColor);
    }
    EXPECT_EQ(hash(0), 0u);
    // The index hashes as 32 bits: one past the largest wraps to black.
    EXPECT_EQ(airspacesOverlayStyle(line, std::size_t { 1 } << 32, 0).strokeColor, color255(0, 0, 0));
}

TEST(AirspacesMap, StylesByModeAndKind)
{
    const MapOverlay line(MapOverlay::Kind::Polyline, { { 1, 1 }, { 2, 2 } });
    const MapOverlay area(MapOverlay::Kind::Polygon, { { 1, 1 }, { 2, 2 }, { 1, 2 }, { 1, 1 } });
    struct Case {
        int mode;
        std::optional<MapColor> lineStroke;
        std::optional<double> lineWidth;
    };
    const Case cases[] = {
        { 1, MapColor { 0.2, 0.2, 1.0, 1.0 }, 1.5 },
        { 2, red, 1.5 },
        { 3, std::nullopt, std::nullopt },
        { -1, std::nullopt, std::nullopt },
    };
    for (const Case& c : cases) {
        const MapOverlayStyle lineStyle = airspacesOverlayStyle(line, 7, c.mode);
        EXPECT_EQ(lineStyle.strokeColor, c.lineStroke) << c.mode;
        EXPECT_EQ(lineStyle.lineWidth, c.lineWidth) << c.mode;
        EXPECT_FALSE(lineStyle.fillColor) << c.mode;
    }
    // A polygon is always drawn the same, whatever the mode says, even one left over
    // from mode 2 until the overlays are built again.
    for (int mode : { 0, 1, 2, 3 }) {
        const MapOverlayStyle areaStyle = airspacesOverlayStyle(area, 5, mode);
        EXPECT_EQ(areaStyle.strokeColor, red) << mode;
        EXPECT_EQ(areaStyle.fillColor, (MapColor { 1, 0, 0, 0.2 })) << mode;
        EXPECT_EQ(areaStyle.lineWidth, 1.5) << mode;
    }
    for (std::size_t index : { 0, 1, 1000 })
        EXPECT_EQ(getColorForPolylineWithIndex(index), red);
}

TEST(AirspacesMap, OverlaysOnePerPolylineRingsBecomePolygonsInModeTwo)
{
    const Airspaces set = mixedSet();
    ASSERT_EQ(set.globalPolylines().size(), 4u);
    using Kind = MapOverlay::Kind;
    struct Case {
        int mode;
        std::vector<Kind> kinds;
    };
    const Case cases[] = {
        { 0, { Kind::Polyline, Kind::Polyline, Kind::Polyline, Kind::Polyline } },
        { 1, { Kind::Polyline, Kind::Polyline, Kind::Polyline, Kind::Polyline } },
        { 2, { Kind::Polygon, Kind::Polyline, Kind::Polyline, Kind::Polygon } },
        { 3, { Kind::Polyline, Kind::Polyline, Kind::Polyline, Kind::Polyline } },
    };
    for (const Case& c : cases) {
        const MapOverlays overlays = generateMapkitPolylines(set, c.mode);
        ASSERT_EQ(overlays.size(), c.kinds.size()) << c.mode;
        for (std::size_t i = 0; i < overlays.size(); ++i)
            EXPECT_EQ(overlays[i]->kind(), c.kinds[i]) << c.mode << " #" << i;
        // The ring keeps its repeated first point as either kind; the line of no
        // points keeps its place.
        EXPECT_EQ(overlays[0]->coordinates().size(), 4u);
        EXPECT_EQ(overlays[1]->coordinates().size(), 2u);
        EXPECT_TRUE(overlays[2]->coordinates().empty());
        EXPECT_EQ(overlays[3]->coordinates().size(), 5u);
    }

    const MapOverlays overlays = generateMapkitPolylines(set, 0);
    const GeoPoint first = overlays[0]->coordinates().front();
    EXPECT_EQ(first.latitude, 0.0);
    EXPECT_EQ(first.longitude, 0.0);
    const GeoPoint last = overlays[0]->coordinates().back();
    EXPECT_EQ(last.latitude, first.latitude);
    EXPECT_EQ(last.longitude, first.longitude);
    // West and north of the centre: negative longitude, positive latitude.
    EXPECT_LT(overlays[1]->coordinates()[0].longitude, 0.0);
    EXPECT_GT(overlays[1]->coordinates()[0].latitude, 0.0);

    // Mode 2 then mode 0: the polygons turn back into lines with per-index colours.
    const MapOverlays again = generateMapkitPolylines(set, 0);
    EXPECT_EQ(again[0]->kind(), Kind::Polyline);
    EXPECT_EQ(airspacesOverlayStyle(*again[1], 1, 0).strokeColor, color255(167, 27, 37));
}

TEST(AirspacesMap, FittingCoversEveryPointAndPassesOverEmptyOverlays)
{
    EXPECT_TRUE(fittingMapRect({}).isNull());
    const auto empty = std::make_shared<const MapOverlay>(MapOverlay::Kind::Polyline, std::vector<GeoPoint> {});
    EXPECT_TRUE(fittingMapRect({ empty, empty }).isNull());

    const Airspaces set = mixedSet();
    MapOverlays overlays = generateMapkitPolylines(set, 2);
    // A leading overlay without points must not pin the rectangle to the null origin.
    overlays.insert(overlays.begin(), empty);
    const MapRect fitted = fittingMapRect(overlays);
    ASSERT_FALSE(fitted.isNull());
    double minX = mapWorldSize, minY = mapWorldSize, maxX = 0, maxY = 0;
    for (const auto& overlay : overlays) {
        for (const MapPoint& point : overlay->points()) {
            minX = std::min(minX, point.x);
            minY = std::min(minY, point.y);
            maxX = std::max(maxX, point.x);
            maxY = std::max(maxY, point.y);
        }
    }
    // The union of the bounds is the box of all the points, to the rounding of the
    // projection.
    const double tolerance = 1e-6 * mapWorldSize / (1 << 24);
    EXPECT_NEAR(fitted.x, minX, tolerance);
    EXPECT_NEAR(fitted.y, minY, tolerance);
    EXPECT_NEAR(fitted.x + fitted.width, maxX, tolerance);
    EXPECT_NEAR(fitted.y + fitted.height, maxY, tolerance);
    // The set's units are 16 map units each: the two rings lie 9500 + 5000 set units
    // apart from west to east.
    EXPECT_NEAR(fitted.width, 14500.0 * 16, 1.0);
}

TEST(AirspacesMap, LimitsAreWrittenTheWayChartsWriteThem)
{
    const std::pair<const char*, const char*> cases[] = {
        { "GND", "SFC" },
        { "SFC", "SFC" },
        { "1500 ft AGL", "1500 ft AGL" },
        { "4500 ft", "4500 ft" },
        { "4500 MSL", "4500 ft" },
        { "FL 125", "FL 125" },
        { "FL95", "FL 95" },
        { "UNL", "UNL" },
        { "NOTAM", "NOTAM" },
    };
    for (const auto& [written, shown] : cases) {
        const auto altitude = openair::parseAltitude(written);
        ASSERT_TRUE(altitude) << written;
        EXPECT_EQ(altitudeText(*altitude), shown) << written;
    }
}

// Every outline of a converted set finds the airspace it came from, identical circles
// in file order; the text of another file finds none of them.
TEST(AirspacesMap, DetailsOfEachOutlineFromTheOpenAirTextItCameFrom)
{
    CapturingLogSink log;
    const std::string text = corvex::testing::readTestFile("openair/openair.txt");
    auto bytes = openair::convertToInternalFormat(text, { "openair.txt", "", {} });
    ASSERT_TRUE(std::holds_alternative<Bytes>(bytes));
    const auto set = Airspaces::initWithDataInInternalFormat(std::get<Bytes>(bytes), log);
    ASSERT_TRUE(set);
    const AirspaceDetails details = AirspaceDetails::forSet(*set, text);
    EXPECT_EQ(details.matched(), set->globalPolylines().size());
    const std::pair<std::size_t, const char*> rows[] = {
        { 0, "Radio-Test 1 (AR with MHz) · class C · 1000 ft–2000 ft" },
        { 1, "Radio-Test 2 (AF without MHz) · class C · 1000 ft–2000 ft" },
        { 2, "Circle-Test · class C · 1000 ft–2000 ft" },
    };
    for (const auto& [index, shown] : rows)
        EXPECT_EQ(details.describe(index), std::optional<std::string>(shown)) << index;
    EXPECT_EQ(details.describe(set->globalPolylines().size()), std::nullopt);

    const AirspaceDetails other = AirspaceDetails::forSet(*set, corvex::testing::readTestFile("openair/Switzerland.txt"));
    EXPECT_EQ(other.matched(), 0u);
    EXPECT_EQ(other.describe(0), std::nullopt);
}
