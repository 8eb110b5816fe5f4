#include "MapTestSupport.h"
#include "TemporaryFolder.h"
#include "TerrainTileFiles.h"

#include "map/qt/ContestLayer.h"
#include "map/qt/GliderLayer.h"
#include "map/qt/LegendImage.h"
#include "map/qt/LegendLayer.h"
#include "map/qt/MapPainter.h"
#include "map/qt/MarkersLayer.h"
#include "map/qt/ReliefLayer.h"
#include "map/qt/TrackLayer.h"
#include "map/qt/WindLayer.h"
#include "map/qt/ZoneLayer.h"
#include "terrain/TerrainTiles.h"

#include <QPainter>
#include <QSignalSpy>

#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

namespace corvex {
namespace {

using testing::colorNear;

const QSize imageSize(400, 200);

// 100 pixels a degree of longitude, the equator across the middle, from 0° east.
MapRect viewFrom(double west)
{
    const MapPoint northWest = mapPointForCoordinate({ 0, west });
    const double unitsPerPixel = (mapPointForCoordinate({ 0, west + 1 }).x - northWest.x) / 100;
    return { northWest.x, northWest.y - 100 * unitsPerPixel, 400 * unitsPerPixel, 200 * unitsPerPixel };
}

QImage paintLayers(const std::vector<MapLayer*>& layers, const MapRect& visible)
{
    QImage image(imageSize, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    MapPainter().paint(painter, imageSize, visible, layers);
    return image;
}

QColor toQColor(const MapColor& color)
{
    return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green), static_cast<float>(color.blue));
}

// 2001 fixes along the equator from 1° to 3° east, a tenth of a pixel apart: low and
// climbing up to 2°, high and sinking after.
std::shared_ptr<const TrackPoints> equatorTrack()
{
    auto track = std::make_shared<TrackPoints>();
    for (int i = 0; i <= 2000; ++i) {
        const bool second = i >= 1000;
        track->push_back({ { 0, 1 + i * 0.001 }, second ? 2000.0 : 1000.0, i, second ? -3.0 : 3.0 });
    }
    return track;
}

TEST(TrackLayer, DrawsRunsOfOneColourWhereTheFixesAreAndOnlyWhatIsInView)
{
    TrackLayer layer;
    layer.setTrack(equatorTrack());
    struct Case {
        const char* name;
        TrackColoring coloring;
        double west;
        std::size_t polylines;
        // The colour buckets expected at 1.5° and 2.5° east; -1 where no track shows.
        int bucketAtOneAndAHalf;
        int bucketAtTwoAndAHalf;
    };
    const Case cases[] = {
        { "whole track by altitude", TrackColoring::Altitude, 0, 2, 0, 15 },
        { "whole track by climb", TrackColoring::Climb, 0, 2, 8, 2 },
        { "only the first half in view", TrackColoring::Altitude, -2.2, 1, 0, -1 },
        { "only the second half in view", TrackColoring::Altitude, 2.1, 1, -1, 15 },
        { "the track out of view", TrackColoring::Altitude, 10, 0, -1, -1 },
    };
    for (const Case& c : cases) {
        layer.setColoring(c.coloring);
        const MapRect visible = viewFrom(c.west);
        const QImage background = paintLayers({}, visible);
        const QImage image = paintLayers({ &layer }, visible);
        EXPECT_EQ(layer.lastPolylineCount(), c.polylines) << c.name;
        for (const auto& [longitude, bucket] : { std::pair { 1.5, c.bucketAtOneAndAHalf }, std::pair { 2.5, c.bucketAtTwoAndAHalf } }) {
            const double x = (longitude - c.west) * 100;
            if (x < 0 || x >= imageSize.width())
                continue;
            const QColor shown = image.pixelColor(static_cast<int>(x), 100);
            if (bucket < 0)
                EXPECT_EQ(shown, background.pixelColor(static_cast<int>(x), 100)) << c.name << " at " << longitude;
            else
                EXPECT_TRUE(colorNear(shown, toQColor(layer.colorScale().colorOfBucket(static_cast<std::size_t>(bucket)))))
                    << c.name << " at " << longitude << ": " << shown.name().toStdString();
        }
    }

    // One colour for a flight among others: both halves in it, the ramp back without it.
    layer.setColoring(TrackColoring::Altitude);
    const QColor single(30, 100, 220);
    for (const bool one : { true, false }) {
        layer.setSingleColour(one ? std::optional<QColor>(single) : std::nullopt);
        const QImage image = paintLayers({ &layer }, viewFrom(0));
        EXPECT_EQ(colorNear(image.pixelColor(150, 100), single), one);
        EXPECT_EQ(colorNear(image.pixelColor(250, 100), single), one);
        EXPECT_EQ(layer.lastPolylineCount(), one ? 1u : 2u) << "one run of one colour";
    }

    // Thinned to about a pixel: the first and the last fix kept, the rest at least a
    // pixel apart.
    const ThinnedTrack& thinned = layer.thinnedTrack();
    ASSERT_FALSE(thinned.indices.empty());
    EXPECT_EQ(thinned.indices.front(), 0u);
    EXPECT_EQ(thinned.indices.back(), 2000u);
    // A tenth of a pixel a fix: every tenth or eleventh kept, as the steps' rounding
    // falls.
    EXPECT_GE(thinned.indices.size(), 2000u / 11);
    EXPECT_LE(thinned.indices.size(), 2000u / 10 + 1);
}

TEST(TrackLayer, BoundsFollowTheTrack)
{
    TrackLayer layer;
    EXPECT_TRUE(layer.boundingMapRect().isNull());
    layer.setTrack(equatorTrack());
    const MapRect bounds = layer.boundingMapRect();
    EXPECT_DOUBLE_EQ(bounds.x, mapPointForCoordinate({ 0, 1 }).x);
    EXPECT_DOUBLE_EQ(bounds.x + bounds.width, mapPointForCoordinate({ 0, 3 }).x);
    EXPECT_EQ(bounds.height, 0);
    EXPECT_EQ(layer.buckets().size(), 2001u);

    layer.setTrack(nullptr);
    EXPECT_TRUE(layer.boundingMapRect().isNull());
    paintLayers({ &layer }, viewFrom(0));
    EXPECT_EQ(layer.lastPolylineCount(), 0u);
}

TEST(MarkersLayer, ShowsTakeOffLandingCursorAndPointsInOrder)
{
    const auto track = equatorTrack();
    MarkersLayer layer;
    layer.setPoints({ { MapMarker::Kind::Landing, { 0.5, 1.2 }, "TP1" } });
    layer.setTakeOff(track->front().position);
    layer.setLanding(track->back().position);
    layer.setCursorTrack(track);

    struct Case {
        std::optional<std::size_t> cursorIndex;
        std::size_t expectedMarkers;
    };
    for (const Case& c : { Case { std::nullopt, 3 }, Case { 500, 4 }, Case { 2001, 3 } }) {
        layer.setCursorIndex(c.cursorIndex);
        const std::vector<MapMarker> markers = layer.markers();
        ASSERT_EQ(markers.size(), c.expectedMarkers);
        EXPECT_EQ(markers[0].kind, MapMarker::Kind::Point);
        EXPECT_EQ(markers[0].label, "TP1");
        EXPECT_EQ(markers[1].kind, MapMarker::Kind::TakeOff);
        EXPECT_EQ(markers[2].kind, MapMarker::Kind::Landing);
        if (c.expectedMarkers == 4) {
            EXPECT_EQ(markers[3].kind, MapMarker::Kind::Cursor);
            EXPECT_DOUBLE_EQ(markers[3].position.longitude, (*track)[500].position.longitude);
        }
    }

    // The cursor moves: its bounds are left out, the others' are not.
    const MapRect bounds = layer.boundingMapRect();
    EXPECT_DOUBLE_EQ(bounds.x, mapPointForCoordinate({ 0, 1 }).x);
    EXPECT_DOUBLE_EQ(bounds.x + bounds.width, mapPointForCoordinate({ 0, 3 }).x);
    EXPECT_DOUBLE_EQ(bounds.y, mapPointForCoordinate({ 0.5, 0 }).y);

    // Drawn where they are (take-off green, landing red), found where they are drawn.
    layer.setCursorIndex(500);
    const MapViewport viewport(imageSize.width(), imageSize.height(), viewFrom(0));
    const QImage image = paintLayers({ &layer }, viewport.visible());
    const QColor takeOff = image.pixelColor(100, 101);
    const QColor landing = image.pixelColor(300, 100);
    EXPECT_GT(takeOff.green(), takeOff.red() + 60) << takeOff.name().toStdString();
    EXPECT_GT(landing.red(), landing.green() + 60) << landing.name().toStdString();
    EXPECT_EQ(layer.markerAt(viewport, { 102, 99 }), 1u);
    EXPECT_EQ(layer.markerAt(viewport, { 151, 100 }), 3u);
    EXPECT_EQ(layer.markerAt(viewport, { 120, 50 }), 0u);
    EXPECT_EQ(layer.markerAt(viewport, { 200, 180 }), std::nullopt);
}

// A layer that counts its paints (under the gliders: kept as an image).
class CountingLayer final : public MapLayer {
public:
    void paint(QPainter& painter, const MapViewport&) override
    {
        ++paints;
        painter.fillRect(QRectF(0, 0, 20, 20), Qt::black);
    }
    int paints { 0 };
};

TEST(GliderLayer, ArrowAlongTheHeadingTrailBehindAndOnlyWhileFlying)
{
    // One glider east along the equator from 1° (the equator track, a fix a second),
    // another 1,000 s later on the same line going west: 100 pixels a degree.
    const auto east = equatorTrack();
    auto west = std::make_shared<TrackPoints>(*east);
    std::reverse(west->begin(), west->end());
    for (std::size_t i = 0; i < west->size(); ++i)
        (*west)[i].time = static_cast<std::int64_t>(i) + 1000;
    GliderLayer layer;
    QSignalSpy changed(&layer, &MapLayer::changed);
    layer.setGliders({ { east, QColor(200, 0, 0), "Red", 0 }, { west, QColor(0, 0, 200), "Blue", 0 } });
    EXPECT_TRUE(layer.isLive());
    layer.setTime(500);
    EXPECT_EQ(changed.count(), 2);

    struct Case {
        double time;
        std::optional<double> redLongitude;
        std::optional<double> blueLongitude;
    };
    const Case cases[] = {
        { -1, std::nullopt, std::nullopt },
        { 500, 1.5, std::nullopt },
        { 1500, 2.5, 2.5 },
        { 2000, 3.0, 2.0 },
        { 2500, std::nullopt, 1.5 },
    };
    for (const Case& c : cases) {
        layer.setTime(c.time);
        for (const auto& [glider, longitude] : { std::pair { std::size_t { 0 }, c.redLongitude }, { std::size_t { 1 }, c.blueLongitude } }) {
            const auto point = layer.gliderMapPoint(glider);
            ASSERT_EQ(point.has_value(), longitude.has_value()) << c.time << " glider " << glider;
            if (point) {
                EXPECT_NEAR(point->x, mapPointForCoordinate({ 0, *longitude }).x, 1e-3) << c.time;
            }
        }
    }
    EXPECT_FALSE(layer.gliderMapPoint(2));

    // At 1,500 s red at 2.5° heading east, blue at 2.5° heading west: each arrow's tip
    // ahead of it, its trail (120 s: 0.12°, 12 pixels) behind it in its colour.
    layer.setGliders({ { east, QColor(200, 0, 0), "Red", 0 } });
    layer.setTime(1500);
    const QImage image = paintLayers({ &layer }, viewFrom(0));
    const auto reddish = [&](int x, int y) {
        const QColor colour = image.pixelColor(x, y);
        return colour.red() > colour.green() + 80 && colour.red() > colour.blue() + 80;
    };
    EXPECT_TRUE(reddish(250 + 5, 100)) << "the arrow's tip, east of the glider";
    EXPECT_TRUE(reddish(250 - 10, 100)) << "the trail behind";
    EXPECT_FALSE(reddish(250 - 30, 100)) << "no trail beyond two minutes";
    EXPECT_FALSE(reddish(250 + 20, 100)) << "nothing ahead of the arrow";
    EXPECT_FALSE(reddish(250, 100 - 14)) << "the arrow points east, not north";
    // The time shift moves a glider along its own track.
    layer.setGliders({ { east, QColor(200, 0, 0), "Red", -500 } });
    layer.setTime(1500);
    ASSERT_TRUE(layer.gliderMapPoint(0));
    EXPECT_NEAR(layer.gliderMapPoint(0)->x, mapPointForCoordinate({ 0, 2.0 }).x, 1e-3);
}

TEST(MapPainter, LiveLayerOverTheKeptImageOfTheOthers)
{
    const auto track = equatorTrack();
    CountingLayer under;
    GliderLayer gliders;
    gliders.setGliders({ { track, QColor(200, 0, 0), {}, 0 } });
    MapPainter painter;
    QImage image(imageSize, QImage::Format_ARGB32_Premultiplied);
    MapRect panned = viewFrom(0);
    panned.x += panned.width / 10;
    struct Step {
        const char* name;
        std::function<void()> change;
        MapRect visible;
        bool renewed;
        int paints; // of the layer under, so far
    };
    const Step steps[] = {
        { "first frame", [] { }, viewFrom(0), true, 1 },
        { "the glider moved: the kept image", [&] { gliders.setTime(900); }, viewFrom(0), false, 1 },
        { "again", [&] { gliders.setTime(1000); }, viewFrom(0), false, 1 },
        { "the view moved", [] { }, panned, true, 2 },
        { "another layer changed", [&] { painter.invalidateCache(); }, panned, true, 3 },
        { "the glider hidden: drawn whole", [&] { gliders.setVisible(false); }, panned, false, 4 },
        { "shown again", [&] { gliders.setVisible(true); }, panned, true, 5 },
    };
    for (const Step& step : steps) {
        step.change();
        QPainter framePainter(&image);
        painter.paintCached(framePainter, imageSize, 1.0, step.visible, { &under, &gliders });
        framePainter.end();
        EXPECT_EQ(painter.lastPaintRenewedCache(), step.renewed) << step.name;
        EXPECT_EQ(under.paints, step.paints) << step.name;
    }
    // A kept frame looks as a whole paint does.
    gliders.setTime(1200);
    QImage kept(imageSize, QImage::Format_ARGB32_Premultiplied);
    QImage whole(imageSize, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter keptPainter(&kept);
        painter.paintCached(keptPainter, imageSize, 1.0, panned, { &under, &gliders });
        QPainter wholePainter(&whole);
        MapPainter().paint(wholePainter, imageSize, panned, { &under, &gliders });
    }
    EXPECT_FALSE(painter.lastPaintRenewedCache());
    EXPECT_EQ(kept, whole);
}

// The legs lie over the track wherever they cross it, solid; the closing gap dashed.
TEST(ContestLayer, LegsOverTheTrackAndTheGapDashed)
{
    TrackLayer track;
    track.setTrack(equatorTrack());
    ContestLayer contest;
    contest.setRoute({ { { { -0.5, 1.5 }, "1" }, { { 0.5, 2.0 }, "2" }, { { -0.5, 2.5 }, "3" } }, true,
        GeoPoint { -0.6, 1.4 }, GeoPoint { -0.6, 2.6 } });
    ASSERT_EQ(contest.legs().size(), 3u);
    const QImage image = paintLayers({ &track, &contest }, viewFrom(0));
    const QColor leg(150, 20, 150);
    const MapViewport viewport(imageSize.width(), imageSize.height(), viewFrom(0));
    const auto pixelAt = [&](GeoPoint place) {
        const PixelPoint pixel = viewport.pixelFor(place);
        return QPoint(static_cast<int>(std::lround(pixel.x)), static_cast<int>(std::lround(pixel.y)));
    };
    // Where the legs cross the equator, at 1.75° and 2.25° east.
    for (const double longitude : { 1.75, 2.25 })
        EXPECT_TRUE(colorNear(image.pixelColor(pixelAt({ 0, longitude })), leg, 40))
            << longitude << " " << image.pixelColor(pixelAt({ 0, longitude })).name().toStdString();
    struct Line {
        const char* what;
        double latitude;
        int fromX, toX;
        bool dashed;
    };
    for (const Line& line : { Line { "the leg from 3 to 1", -0.5, 165, 235, false }, Line { "the closing gap", -0.6, 150, 250, true } }) {
        const int y = pixelAt({ line.latitude, 2.0 }).y();
        int onLeg = 0;
        for (int x = line.fromX; x <= line.toX; ++x)
            onLeg += colorNear(image.pixelColor(x, y), leg, 40);
        const int length = line.toX - line.fromX + 1;
        if (line.dashed) {
            EXPECT_GT(onLeg, length / 4) << line.what;
            EXPECT_LT(onLeg, length * 3 / 4) << line.what;
        } else {
            EXPECT_EQ(onLeg, length) << line.what;
        }
    }
    const MapRect bounds = contest.boundingMapRect();
    EXPECT_DOUBLE_EQ(bounds.x, mapPointForCoordinate({ 0, 1.5 }).x);
    EXPECT_DOUBLE_EQ(bounds.x + bounds.width, mapPointForCoordinate({ 0, 2.5 }).x);
}

// Areas' labels stay in the view, never cover one another and keep off the lines
// given where they can; a labels-only layer draws no outline; a stretch shows in its
// colour over whatever lies below.
TEST(ZoneLayer, LabelsInViewAndApartStretchesOnTop)
{
    const MapColor red { 0.8, 0.1, 0.1, 1 };
    const MapColor clear { 0.8, 0.1, 0.1, 0 };
    const auto square = [](double south, double west, double side) {
        return std::vector<GeoPoint> { { south, west }, { south + side, west }, { south + side, west + side }, { south, west + side } };
    };
    ZoneLayer zones;
    // Five labels for one square of 100 pixels (50 to 150 down): inside at its top and
    // at its bottom, outside over and under it, and none.
    std::vector<ZoneLayer::Area> areas;
    for (const char* name : { "FIRST", "SECOND", "THIRD", "FOURTH", "FIFTH" })
        areas.push_back({ square(-0.5, 0.5, 1.0), red, clear, std::string(name) + "\nD, GND-FL95" });
    areas.push_back({ square(-0.5, 3.5, 2.0), red, clear, "HALF OUT\nR, GND-FL60" }); // reaches past the view's east edge
    areas.push_back({ square(5.0, 0.5, 0.5), red, clear, "FAR\nE" }); // north of the view
    zones.setAreas(std::move(areas));
    zones.setStretches({ { { { 0, 1.0 }, { 0, 3.0 } }, MapColor { 0.9, 0.5, 0.0, 1 }, GeoPoint { 0, 2.0 }, "deepest" } });
    const QImage image = paintLayers({ &zones }, viewFrom(0));
    const auto& boxes = zones.lastLabelBoxes();
    ASSERT_EQ(boxes.size(), 7u);
    struct Place {
        double top, bottom; // bounds the label's box lies within
    };
    const Place places[] = { { 50, 100 }, { 100, 150 }, { 0, 50 }, { 150, 200 } };
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_GE(boxes[i].top(), places[i].top) << i;
        EXPECT_LE(boxes[i].bottom(), places[i].bottom) << i;
    }
    EXPECT_TRUE(boxes[4].isEmpty()) << "left out rather than written over the others";
    EXPECT_FALSE(boxes[5].isEmpty());
    EXPECT_TRUE(QRectF(0, 0, imageSize.width(), imageSize.height()).contains(boxes[5])) << "pushed inside the view";
    EXPECT_TRUE(boxes[6].isEmpty());
    EXPECT_TRUE(colorNear(image.pixelColor(150, 100), QColor(230, 128, 0), 30)) << image.pixelColor(150, 100).name().toStdString();

    // A line across the square's top sends the first label to the bottom.
    zones.setKeepClear({ { { 0.3, 0.0 }, { 0.3, 2.0 } } });
    paintLayers({ &zones }, viewFrom(0));
    EXPECT_GT(zones.lastLabelBoxes()[0].top(), 100);

    // The outlines under a track, the labels over it: the labels-only layer draws no edge.
    const int westEdge = 50; // 0.5° east
    zones.setAreaParts(ZoneLayer::AreaParts::Labels);
    zones.setStretches({});
    const QImage labelsOnly = paintLayers({ &zones }, viewFrom(0));
    const QImage background = paintLayers({}, viewFrom(0));
    EXPECT_EQ(labelsOnly.pixelColor(westEdge, 140), background.pixelColor(westEdge, 140));
    EXPECT_TRUE(colorNear(image.pixelColor(westEdge, 140), QColor(204, 26, 26), 60)) << image.pixelColor(westEdge, 140).name().toStdString();
}

// A wind arrow points where the air goes, longer for a stronger wind, centred on its
// place; the legend's swatches stay along the view's bottom wherever the map is.
TEST(WindLayer, ArrowsPointDownwindAndTheLegendStaysAlongTheBottom)
{
    EXPECT_EQ(WindLayer::lengthPixels(0), WindLayer::shortestPixels);
    EXPECT_EQ(WindLayer::lengthPixels(200), WindLayer::longestPixels);
    EXPECT_LT(WindLayer::lengthPixels(10), WindLayer::lengthPixels(20));

    const QColor arrowColour(13, 38, 115);
    struct Case {
        double towards;
        QPoint head; // inside the arrow's tip, 40 km/h: 28 pixels from the place
        QPoint behind; // beyond the tip: nothing drawn
    };
    const Case cases[] = {
        { 90, { 224, 100 }, { 236, 100 } },
        { 0, { 200, 76 }, { 200, 64 } },
        { 225, { 182, 118 }, { 172, 128 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.towards);
        WindLayer wind;
        wind.setArrows({ { { 0, 2.0 }, c.towards, 40, "", 1 } });
        const QImage image = paintLayers({ &wind }, viewFrom(0));
        const QImage background = paintLayers({}, viewFrom(0));
        EXPECT_TRUE(colorNear(image.pixelColor(c.head), arrowColour, 40)) << image.pixelColor(c.head).name().toStdString();
        EXPECT_EQ(image.pixelColor(c.behind), background.pixelColor(c.behind));
    }

    LegendLayer legend;
    legend.setLegend("Climb (m/s)", { { { 0.9, 0.1, 0.1, 1 }, "+1" }, { { 0.1, 0.1, 0.9, 1 }, "-1" } });
    for (const double west : { 0.0, 50.0 }) {
        const QImage image = paintLayers({ &legend }, viewFrom(west));
        const QRectF box = legend.lastBox();
        ASSERT_FALSE(box.isEmpty());
        EXPECT_EQ(box.left(), LegendLayer::leftEdge);
        EXPECT_EQ(box.bottom(), imageSize.height() - LegendLayer::bottomGap);
        // The lowest value on the left: the last entry's swatch, then the first's.
        const int y = static_cast<int>(box.top()) + 7;
        const int right = static_cast<int>(box.right()) - 22; // the middle of the last swatch
        EXPECT_TRUE(colorNear(image.pixelColor(right, y), QColor(230, 26, 26), 10)) << image.pixelColor(right, y).name().toStdString();
        EXPECT_TRUE(colorNear(image.pixelColor(right - 16, y), QColor(26, 26, 230), 10))
            << image.pixelColor(right - 16, y).name().toStdString();
    }
    legend.setLegend({}, {});
    paintLayers({ &legend }, viewFrom(0));
    EXPECT_TRUE(legend.lastBox().isEmpty());

    // The climb legend alone, as a KMZ carries it: the box cut out, the strongest sink
    // on the left and the strongest climb on the right in the map's climb steps, the
    // same picture through PNG.
    const QImage climb = climbLegendImage();
    ASSERT_FALSE(climb.isNull());
    QImage fromPng;
    ASSERT_TRUE(fromPng.loadFromData(climbLegendPng(), "PNG"));
    EXPECT_EQ(fromPng.convertToFormat(climb.format()), climb);
    EXPECT_LT(climb.height(), 60);
    const auto stepColour = [](std::size_t step) {
        const ClimbStepColour colour = climbStepColour(step);
        return QColor::fromRgbF(float(colour.red), float(colour.green), float(colour.blue));
    };
    const int swatchRow = 8, lastSwatch = climb.width() - 27, firstSwatch = lastSwatch - 16 * int(climbStepCount - 1);
    EXPECT_TRUE(colorNear(climb.pixelColor(lastSwatch, swatchRow), stepColour(climbStepCount - 1), 10))
        << climb.pixelColor(lastSwatch, swatchRow).name().toStdString();
    EXPECT_TRUE(colorNear(climb.pixelColor(firstSwatch, swatchRow), stepColour(0), 10))
        << climb.pixelColor(firstSwatch, swatchRow).name().toStdString();
}

} // namespace
} // namespace corvex

namespace corvex {
namespace {

// One 3" tile at 45N 6E with a cone of 2000 m at 45.5N 6.75E on a plain of 400 m; east
// of 7E no tile. The view: 6.5E to 7.5E across 400 pixels, 45.5N in the middle.
TEST(ReliefLayer, ShadesWhereTilesCoverKeepsTheImageThroughAPanAndComputesBesideTheWindow)
{
    testing::TemporaryFolder folder("corvex-relief");
    test::writeHgtTile(folder.path(), 45, 6, 1201, [](double latitude, double longitude) -> std::optional<double> {
        return 400 + std::max(0.0, 2000 - 40000 * std::hypot(latitude - 45.5, longitude - 6.75));
    });
    const auto tiles = std::make_shared<const terrain::TerrainTiles>(folder.path());
    const MapPoint west = mapPointForCoordinate({ 45.5, 6.5 });
    const double unitsPerPixel = (mapPointForCoordinate({ 45.5, 7.5 }).x - west.x) / 400;
    const MapRect view { west.x, west.y - 100 * unitsPerPixel, 400 * unitsPerPixel, 200 * unitsPerPixel };
    const MapViewport viewport(imageSize.width(), imageSize.height(), view);
    const QPoint cone = testing::pixelFor(mapPointForCoordinate({ 45.5, 6.75 }), view, QImage(imageSize, QImage::Format_ARGB32));

    ReliefLayer relief;
    const QImage plain = paintLayers({}, view);
    EXPECT_EQ(paintLayers({ &relief }, view), plain) << "no terrain, no relief";
    relief.setTerrain(tiles);
    relief.prepare(viewport);
    EXPECT_TRUE(relief.isPreparedFor(viewport));
    const QImage shaded = paintLayers({ &relief }, view);
    // Lit from the north-west: that slope brighter than the south-east one.
    const auto lightness = [&](const QImage& image, int dx, int dy) { return QColor(image.pixel(cone + QPoint(dx, dy))).lightness(); };
    EXPECT_GT(lightness(shaded, -6, -6), lightness(shaded, 6, 6) + 25);
    EXPECT_NE(shaded.pixel(20, 100), plain.pixel(20, 100)) << "the plain is shaded too";
    for (const int x : { 210, 300, 399 })
        for (const int y : { 0, 100, 199 })
            EXPECT_EQ(shaded.pixel(x, y), plain.pixel(x, y)) << "no tile east of 7E: " << x << "," << y;

    // A pan of 30 pixels west draws the kept image moved, computing nothing meanwhile;
    // once the view stays, its own shading comes from the worker.
    const MapRect panned { view.x - 30 * unitsPerPixel, view.y, view.width, view.height };
    const std::size_t computed = relief.computeCount();
    QSignalSpy ready(&relief, &ReliefLayer::reliefReady);
    const QImage moved = paintLayers({ &relief }, panned);
    EXPECT_EQ(relief.computeCount(), computed);
    EXPECT_EQ(moved.pixel(cone + QPoint(30 - 6, -6)), shaded.pixel(cone + QPoint(-6, -6)));
    ASSERT_TRUE(ready.wait(10000));
    EXPECT_EQ(relief.computeCount(), computed + 1);
    EXPECT_TRUE(relief.isPreparedFor(MapViewport(imageSize.width(), imageSize.height(), panned)));
    EXPECT_TRUE(colorNear(paintLayers({ &relief }, panned).pixel(cone + QPoint(30 - 6, -6)), shaded.pixel(cone + QPoint(-6, -6)), 2));

    // A view far from every tile asks for nothing.
    const MapPoint far = mapPointForCoordinate({ 45.5, 20 });
    const MapRect away { far.x, far.y, view.width, view.height };
    EXPECT_EQ(paintLayers({ &relief }, away), paintLayers({}, away));
    EXPECT_FALSE(ready.wait(ReliefLayer::settleMilliseconds * 3));
    EXPECT_FALSE(relief.isComputing());
}

} // namespace
} // namespace corvex
