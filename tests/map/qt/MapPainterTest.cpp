#include "MapTestSupport.h"

#include "map/ImageDifference.h"
#include "map/qt/MapPainter.h"
#include "map/qt/OverlayLayer.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace corvex {
namespace {

using testing::colorNear;
using testing::makeOverlay;
using testing::makeSquare;
using testing::pixelFor;

const QSize imageSize(400, 300);

// A view around the equator and the prime meridian, 40° wide.
MapRect equatorView()
{
    const MapPoint northWest = mapPointForCoordinate({ 15, -20 });
    const double width = mapPointForCoordinate({ 0, 20 }).x - northWest.x;
    return { northWest.x, northWest.y, width, width * imageSize.height() / imageSize.width() };
}

// Overlays in an overlay layer, styled from a list, painted alone over the offline
// geography.
class Scene {
public:
    Scene(const MapOverlays& overlays, std::vector<MapOverlayStyle> styles)
    {
        layer.addOverlays(overlays);
        layer.setStyleAt([this, styles = std::move(styles)](std::size_t index) {
            ++styleQuestions;
            return index < styles.size() ? styles[index] : MapOverlayStyle {};
        });
    }

    QImage paint(const MapRect& visible = equatorView())
    {
        QImage image(imageSize, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        MapPainter().paint(painter, imageSize, visible, { &layer });
        return image;
    }

    OverlayLayer layer;
    int styleQuestions { 0 };
};

QImage paintScene(const MapOverlays& overlays, const std::vector<MapOverlayStyle>& styles, const MapRect& visible = equatorView())
{
    return Scene(overlays, styles).paint(visible);
}

QColor blend(QColor under, const MapColor& over)
{
    const auto mix = [&](int base, double top) { return static_cast<int>(std::lround(base * (1 - over.alpha) + 255 * top * over.alpha)); };
    return QColor(mix(under.red(), over.red), mix(under.green(), over.green), mix(under.blue(), over.blue));
}

TEST(MapPainter, TranslucentPolygonBlendsInsideAndStrokesItsEdge)
{
    const MapColor fill { 1, 0, 0, 0.2 };
    const auto square = makeSquare(MapOverlay::Kind::Polygon, -5, -5, 5, 5);
    const QImage background = paintScene({}, {});
    const QImage painted = paintScene({ square }, { { MapColor { 1, 0, 0, 1 }, fill, 3.0 } });

    const MapRect visible = equatorView();
    // Inside, away from the graticule's line through the centre.
    const QPoint inside = pixelFor(mapPointForCoordinate({ 2.5, 2.5 }), visible, painted);
    EXPECT_TRUE(colorNear(painted.pixelColor(inside), blend(background.pixelColor(inside), fill)))
        << painted.pixelColor(inside).name().toStdString();

    const QPoint westEdge = pixelFor(mapPointForCoordinate({ 2.5, -5 }), visible, painted);
    EXPECT_TRUE(colorNear(painted.pixelColor(westEdge), QColor(255, 0, 0))) << painted.pixelColor(westEdge).name().toStdString();

    const QPoint outside = pixelFor(mapPointForCoordinate({ 2.5, -10 }), visible, painted);
    EXPECT_EQ(painted.pixelColor(outside), background.pixelColor(outside));
}

TEST(MapPainter, UnstyledLineIsThinAndDark)
{
    const auto line = makeOverlay(MapOverlay::Kind::Polyline, { { 2.5, -10 }, { 2.5, 10 } });
    const QImage painted = paintScene({ line }, {});
    const QPoint onLine = pixelFor(mapPointForCoordinate({ 2.5, 3 }), equatorView(), painted);
    const QColor color = painted.pixelColor(onLine);
    EXPECT_LT(color.lightness(), 150) << color.name().toStdString();
    // One pixel wide: three pixels off the line is the background again.
    EXPECT_GT(painted.pixelColor(onLine + QPoint(0, 3)).lightness(), 190);
}

TEST(MapPainter, LaterOverlaysPaintOverEarlierOnes)
{
    const MapColor blue { 0, 0, 1, 1 };
    const MapColor green { 0, 1, 0, 1 };
    const auto first = makeSquare(MapOverlay::Kind::Polygon, -5, -5, 5, 5);
    const auto second = makeSquare(MapOverlay::Kind::Polygon, 0, 0, 10, 10);
    const QImage painted = paintScene({ first, second }, { { blue, blue, 1.0 }, { green, green, 1.0 } });
    const QPoint shared = pixelFor(mapPointForCoordinate({ 2.5, 2.5 }), equatorView(), painted);
    EXPECT_TRUE(colorNear(painted.pixelColor(shared), QColor(0, 255, 0)));
    const QPoint firstOnly = pixelFor(mapPointForCoordinate({ -2.5, -2.5 }), equatorView(), painted);
    EXPECT_TRUE(colorNear(painted.pixelColor(firstOnly), QColor(0, 0, 255)));
}

// Enough overlays that a redraw paints them in runs on several threads: the runs'
// images must still stack in the list's order, a translucent fill of a later run
// blending over the opaque ones of an earlier run.
TEST(MapPainter, ManyOverlaysStackInOrderWhenPaintedInParallel)
{
    MapOverlays overlays;
    std::vector<MapOverlayStyle> styles;
    const MapColor red { 1, 0, 0, 1 };
    const MapColor halfBlue { 0, 0, 1, 0.5 };
    for (int i = 0; i < 300; ++i) {
        overlays.push_back(makeSquare(MapOverlay::Kind::Polygon, -5, -5, 5, 5));
        styles.push_back({ red, red, 3.0 });
    }
    styles.back() = { MapColor { 0, 1, 0, 1 }, halfBlue, 3.0 };
    Scene scene(overlays, styles);
    const QImage painted = scene.paint();
    EXPECT_EQ(scene.layer.lastDrawnOverlayCount(), 300u);

    const QPoint inside = pixelFor(mapPointForCoordinate({ 2.5, 2.5 }), equatorView(), painted);
    EXPECT_TRUE(colorNear(painted.pixelColor(inside), blend(QColor(255, 0, 0), halfBlue)))
        << painted.pixelColor(inside).name().toStdString();
    const QPoint edge = pixelFor(mapPointForCoordinate({ 2.5, -5 }), equatorView(), painted);
    EXPECT_TRUE(colorNear(painted.pixelColor(edge), QColor(0, 255, 0))) << painted.pixelColor(edge).name().toStdString();
}

TEST(MapPainter, OverlaysOutsideTheViewAreNeitherStyledNorPainted)
{
    const MapColor red { 1, 0, 0, 1 };
    const auto farAway = makeSquare(MapOverlay::Kind::Polygon, 40, 100, 50, 110);
    const auto empty = makeOverlay(MapOverlay::Kind::Polyline, {});
    const auto inView = makeOverlay(MapOverlay::Kind::Polyline, { { 1, 1 }, { 2, 2 } });
    const QImage background = paintScene({}, {});
    Scene outside({ farAway, empty }, { { red, red, 2.0 } });
    EXPECT_EQ(outside.paint(), background);
    EXPECT_EQ(outside.styleQuestions, 0);

    Scene mixed({ farAway, inView, empty }, {});
    mixed.paint();
    EXPECT_EQ(mixed.styleQuestions, 1);
    EXPECT_EQ(mixed.layer.lastDrawnOverlayCount(), 1u);
}

TEST(MapPainter, OverlayImageIsReusedUntilTheOverlaysOrTheViewChange)
{
    Scene scene({ makeSquare(MapOverlay::Kind::Polygon, -5, -5, 5, 5) }, {});
    MapRect zoomed = equatorView();
    zoomed.width /= 2;
    zoomed.height /= 2;
    struct Step {
        const char* name;
        std::function<void()> change;
        MapRect visible;
        std::size_t drawn;
        int styleQuestions; // so far
    };
    const Step steps[] = {
        { "first paint", [] { }, equatorView(), 1, 1 },
        { "same view: the kept image", [] { }, equatorView(), 0, 1 },
        { "restyled: asked again", [&] { scene.layer.restyle(); }, equatorView(), 1, 2 },
        { "zoomed: drawn anew, styles kept", [] { }, zoomed, 1, 2 },
        { "an overlay added", [&] { scene.layer.addOverlays({ makeSquare(MapOverlay::Kind::Polygon, 0, 0, 1, 1) }); }, zoomed, 2, 3 },
        { "all removed", [&] { scene.layer.removeAllOverlays(); }, zoomed, 0, 3 },
    };
    for (const Step& step : steps) {
        step.change();
        scene.paint(step.visible);
        EXPECT_EQ(scene.layer.lastDrawnOverlayCount(), step.drawn) << step.name;
        EXPECT_EQ(scene.styleQuestions, step.styleQuestions) << step.name;
    }
}

TEST(MapPainter, MoveByWholePixelsPaintsOnlyTheUncoveredStripsAndMatchesAFullPaint)
{
    // Rings and lines all over the view, many crossing the strips' edges.
    MapOverlays overlays;
    std::vector<MapOverlayStyle> styles;
    for (int row = 0; row < 6; ++row) {
        for (int column = 0; column < 10; ++column) {
            const double south = -12 + row * 4.3;
            const double west = -22 + column * 4.4;
            const bool ring = (row + column) % 2 == 0;
            overlays.push_back(ring ? makeSquare(MapOverlay::Kind::Polygon, south, west, south + 3.7, west + 5.1)
                                    : makeOverlay(MapOverlay::Kind::Polyline, { { south, west }, { south + 4.1, west + 3.3 } }));
            styles.push_back({ MapColor { 0.1 * row, 0.1 * column, 0.5, 1 }, MapColor { 1, 0, 0, 0.3 }, 1.5 });
        }
    }
    const MapRect start = equatorView();
    const double unitsPerPixel = start.width / imageSize.width();
    const MapRect moved { start.x - 37 * unitsPerPixel, start.y + 23 * unitsPerPixel, start.width, start.height };

    Scene panning(overlays, styles);
    panning.paint(start);
    const std::size_t drawnFirst = panning.layer.lastDrawnOverlayCount();
    const QImage afterMove = panning.paint(moved);
    const QImage fresh = paintScene(overlays, styles, moved);
    EXPECT_LT(panning.layer.lastDrawnOverlayCount(), drawnFirst / 2);
    EXPECT_GT(panning.layer.lastDrawnOverlayCount(), 0u);
    EXPECT_EQ(afterMove, fresh);
}

// The lines our own coverage strokes against the painter's general stroker, on shapes
// like a set's: arcs and circles from under a pixel to 80 pixels across, sharp turns,
// open lines at many angles, fills under them. A line of one pixel or of three is the
// painter's either way, to the pixel; between, the two may differ only in antialiasing:
// at pixels beside an edge, by little. (`map-bench SET --compare` makes the same check on
// a whole set.)
TEST(MapPainter, OwnStrokesDifferFromThePaintersOnlyByAntialiasing)
{
    const auto circle = [](MapOverlay::Kind kind, double latitude, double longitude, double radius, int steps) {
        std::vector<GeoPoint> points;
        for (int step = 0; step <= steps; ++step) {
            const double angle = 2 * geo::pi * step / steps;
            points.push_back({ latitude + radius * std::sin(angle), longitude + radius * std::cos(angle) });
        }
        return makeOverlay(kind, std::move(points));
    };
    MapOverlays overlays {
        circle(MapOverlay::Kind::Polygon, 5, -12, 4, 120),
        circle(MapOverlay::Kind::Polygon, 6, -3, 1.2, 90),
        circle(MapOverlay::Kind::Polygon, 7, 3, 0.3, 72),
        circle(MapOverlay::Kind::Polygon, 7, 6, 0.05, 36),
        circle(MapOverlay::Kind::Polyline, -6, 10, 2, 60),
        // A star: turns of 36 degrees.
        makeOverlay(MapOverlay::Kind::Polygon, { { -2, -8 }, { -5.5, -12 }, { -8, -8 }, { -4, -8.5 }, { -6.5, -5.5 }, { -2, -8 } }),
        makeOverlay(MapOverlay::Kind::Polyline, { { -10, -18 }, { -9.3, 15 } }),
        makeOverlay(MapOverlay::Kind::Polyline, { { -12, -18 }, { 0, -14 }, { -11, -11 }, { 1, 18 } }),
        makeOverlay(MapOverlay::Kind::Polyline, { { 10, 12 }, { 10.04, 12.03 }, { 10.02, 12.07 } }),
    };
    struct Case {
        double width;
        bool identical;
        int largestDifference;
    };
    for (const Case c : { Case { 1.0, true, 0 }, Case { 1.5, false, 90 }, Case { 2.0, false, 90 }, Case { 3.0, true, 0 } }) {
        std::vector<MapOverlayStyle> styles;
        for (const auto& overlay : overlays) {
            if (overlay->kind() == MapOverlay::Kind::Polygon)
                styles.push_back({ MapColor { 1, 0, 0, 1 }, MapColor { 1, 0, 0, 0.2 }, c.width });
            else
                styles.push_back({ MapColor { 0.2, 0.2, 1, 1 }, std::nullopt, c.width });
        }
        Scene painters(overlays, styles);
        painters.layer.setWideLineStroking(OverlayLayer::WideLineStroking::Painter);
        Scene own(overlays, styles);
        const QImage reference = painters.paint();
        const QImage candidate = own.paint();
        const ImageDifference difference = compareImages(reinterpret_cast<const std::uint32_t*>(reference.constBits()),
            reinterpret_cast<const std::uint32_t*>(candidate.constBits()), reference.width(), reference.height(),
            static_cast<std::size_t>(reference.bytesPerLine() / 4));
        if (c.identical) {
            EXPECT_EQ(difference.differingPixels, 0u) << c.width;
            continue;
        }
        EXPECT_GT(difference.differingPixels, 0u) << c.width;
        EXPECT_LT(difference.differingPixels, difference.pixels / 25) << c.width;
        EXPECT_EQ(difference.differingAwayFromEdges, 0u) << c.width;
        EXPECT_LE(difference.largestChannelDifference, c.largestDifference)
            << c.width << " at " << difference.largestX << "," << difference.largestY;
    }
}

TEST(MapPainter, ScaleBarAndGraticuleSteps)
{
    struct ScaleCase {
        double metresPerPixel;
        double expected;
    };
    for (const ScaleCase& c : { ScaleCase { 1, 100 }, ScaleCase { 10, 1000 }, ScaleCase { 30, 2000 }, ScaleCase { 45, 5000 },
             ScaleCase { 0.001, 0 } }) {
        EXPECT_EQ(scaleBarMetres(c.metresPerPixel, 120), c.expected) << c.metresPerPixel;
    }
    struct StepCase {
        double degreesPerPixel;
        double expected;
    };
    for (const StepCase& c : { StepCase { 0.001, 1 }, StepCase { 0.05, 5 }, StepCase { 0.1, 10 }, StepCase { 1, 30 } })
        EXPECT_EQ(graticuleStep(c.degreesPerPixel, 70), c.expected) << c.degreesPerPixel;

    // The lines are the multiples of the step: the equator and the prime meridian are
    // always among them, however far the view reaches.
    struct ValuesCase {
        double low, high, step;
        std::vector<double> expected;
    };
    const ValuesCase values[] = {
        { -85, 85, 30, { -60, -30, 0, 30, 60 } },
        { -180, 180, 90, { -180, -90, 0, 90, 180 } },
        { -85, -20, 10, { -80, -70, -60, -50, -40, -30, -20 } },
        { 45.3, 46.7, 1, { 46 } },
        { 46.1, 46.9, 1, {} },
        { -0.5, 0.5, 5, { 0 } },
        { 10, 5, 5, {} },
    };
    for (const ValuesCase& c : values)
        EXPECT_EQ(graticuleValues(c.low, c.high, c.step), c.expected) << c.low << " to " << c.high << " by " << c.step;
}

} // namespace
} // namespace corvex

namespace corvex {
namespace {

MapRect viewOf(double north, double west, double south, double east)
{
    const MapPoint northWest = mapPointForCoordinate({ north, west });
    const MapPoint southEast = mapPointForCoordinate({ south, east });
    return { northWest.x, northWest.y, southEast.x - northWest.x, southEast.y - northWest.y };
}

// Pixels that are neither the sea nor the graticule's blue-grey: the coastlines and
// borders.
int geographyPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor color = image.pixelColor(x, y);
            // The sea and the graticule are bluish; the coastlines are greenish grey and
            // the borders purplish.
            if (color.blue() < color.green() || (color.red() > color.green() && color.blue() > color.green()))
                ++count;
        }
    }
    return count;
}

TEST(OfflineGeography, DrawsLandWithoutTilesOrNetwork)
{
    const QImage europe = paintScene({}, {}, viewOf(62, -12, 35, 30));
    const QImage atlantic = paintScene({}, {}, viewOf(45, -50, 30, -35));
    EXPECT_GT(geographyPixels(europe), 2000);
    EXPECT_LT(geographyPixels(atlantic), 20);
}

// The land is filled in a colour of its own, the sea and lakes left in the sea's, at
// every zoom and across ±180°: pixels away from the graticule's lines and the borders.
TEST(OfflineGeography, FillsLandApartFromTheSea)
{
    const double world = mapWorldSize;
    const MapPoint sahara = mapPointForCoordinate({ 26.5, 5.5 });
    const MapPoint victoria = mapPointForCoordinate({ -1.5, 32.7 });
    struct Case {
        const char* name;
        MapRect visible;
        GeoPoint at; // past +180° the longitude names the next copy of the world
        bool isLand;
    };
    const Case cases[] = {
        { "the world: Sahara", { 0, 0, world, world * 0.75 }, { 26.5, 5.5 }, true },
        { "the world: Pacific", { 0, 0, world, world * 0.75 }, { 12.3, -145.3 }, false },
        { "Europe: Baltic Sea", viewOf(62, -12, 35, 30), { 56.3, 18.6 }, false },
        { "Africa: Lake Victoria", viewOf(3, 29, -5, 37), { -1.3, 32.8 }, false },
        { "the closest zoom: Sahara", { sahara.x - 200, sahara.y - 150, 400, 300 }, { 26.5, 5.5 }, true },
        { "the closest zoom: Lake Victoria", { victoria.x - 200, victoria.y - 150, 400, 300 }, { -1.5, 32.7 }, false },
        { "Antarctica", viewOf(-60, -70, -84, 10), { -80.3, -40.7 }, true },
        { "Wrangel Island east of ±180°", viewOf(73, 175, 69, 185), { 71.3, 180.7 }, true },
        { "Chukchi Sea past ±180°", viewOf(73, 175, 69, 185), { 72.7, 183.3 }, false },
        { "east of the world's edge: Alaska", { world * 0.75, 0, world, world * 0.75 }, { 64.3, 205.3 }, true },
    };
    for (const Case& c : cases) {
        const QImage image = paintScene({}, {}, c.visible);
        const MapPoint at { (c.at.longitude + 180) / 360 * world, mapPointForCoordinate(c.at).y };
        const QColor color = image.pixelColor(pixelFor(at, c.visible, image));
        EXPECT_TRUE(colorNear(color, c.isLand ? QColor(240, 236, 222) : QColor(214, 228, 238))) << c.name << ": " << color.name().toStdString();
    }
}

} // namespace
} // namespace corvex
