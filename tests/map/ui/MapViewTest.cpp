#include "MapTestSupport.h"
#include "QtTestHelpers.h"

#include "map/qt/MapBaseLayer.h"
#include "map/qt/MapLayer.h"
#include "map/ui/MapView.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/QtHttpClient.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <map>

namespace corvex {
namespace {

using testing::makeOverlay;
using testing::makeSquare;
using testing::waitUntil;

class CountingDelegate final : public MapViewDelegate {
public:
    MapOverlayStyle rendererForOverlay(const MapView& mapView, const MapOverlay& overlay) override
    {
        ++questions[&overlay];
        lastIndex = mapView.indexOfOverlay(overlay);
        return { MapColor { 1, 0, 0, 1 }, std::nullopt, 2.0 };
    }
    std::map<const MapOverlay*, int> questions;
    std::optional<std::size_t> lastIndex;
};

// A layer that covers a rectangle and draws nothing.
class BoundsLayer final : public MapLayer {
public:
    void paint(QPainter&, const MapViewport&) override
    {
        if (painted)
            painted->push_back(this);
    }
    MapRect boundingMapRect() const override { return bounds; }
    MapRect bounds = MapRect::null();
    std::vector<const MapLayer*>* painted = nullptr; // the order of the paints
};

MapOverlays someOverlays(int count)
{
    MapOverlays overlays;
    for (int index = 0; index < count; ++index)
        overlays.push_back(makeSquare(MapOverlay::Kind::Polygon, index, index, index + 1, index + 1));
    return overlays;
}

TEST(MapView, OverlaysKeepTheirOrderThroughAddAndRemove)
{
    MapView view;
    const MapOverlays first = someOverlays(5);
    const MapOverlays second = someOverlays(3);
    view.addOverlays(first);
    view.addOverlays(second);
    ASSERT_EQ(view.overlays().size(), 8u);
    EXPECT_EQ(view.indexOfOverlay(*second[0]), 5u);

    view.removeOverlays({ first[1], first[3], second[2] });
    const MapOverlays expected { first[0], first[2], first[4], second[0], second[1] };
    EXPECT_EQ(view.overlays(), expected);
    for (std::size_t index = 0; index < expected.size(); ++index)
        EXPECT_EQ(view.indexOfOverlay(*expected[index]), index);
    EXPECT_EQ(view.indexOfOverlay(*first[1]), std::nullopt);

    // Added again, a removed overlay goes to the end.
    view.addOverlays({ first[1] });
    EXPECT_EQ(view.indexOfOverlay(*first[1]), 5u);

    view.removeAllOverlays();
    EXPECT_TRUE(view.overlays().empty());
    EXPECT_EQ(view.indexOfOverlay(*first[0]), std::nullopt);
}

TEST(MapView, DelegateIsAskedOncePerOverlayUntilRedraw)
{
    MapView view;
    view.resize(400, 300);
    CountingDelegate delegate;
    view.setDelegate(&delegate);
    const MapOverlays overlays = someOverlays(3);
    view.addOverlays(overlays);
    view.setVisibleMapRect(overlays[0]->boundingMapRect().united(overlays[2]->boundingMapRect()), false);

    view.grab();
    view.grab();
    ASSERT_EQ(delegate.questions.size(), 3u);
    for (const auto& overlay : overlays)
        EXPECT_EQ(delegate.questions[overlay.get()], 1);
    EXPECT_EQ(delegate.lastIndex, 2u);

    view.redraw();
    view.grab();
    for (const auto& overlay : overlays)
        EXPECT_EQ(delegate.questions[overlay.get()], 2);
}

TEST(MapView, VisibleRectFitsTheRectangleAroundItsCentre)
{
    MapView view;
    view.resize(400, 200);
    struct Case {
        MapRect rect;
        double expectedWidth;
        double expectedHeight;
    };
    // Tall rectangles widen to the view's shape, wide ones heighten.
    for (const Case& c : { Case { { 1e6, 2e6, 4e5, 4e5 }, 8e5, 4e5 }, Case { { 5e6, 5e6, 8e6, 1e6 }, 8e6, 4e6 } }) {
        view.setVisibleMapRect(c.rect, false);
        const MapRect visible = view.visibleMapRect();
        EXPECT_DOUBLE_EQ(visible.x + visible.width / 2, c.rect.x + c.rect.width / 2);
        EXPECT_DOUBLE_EQ(visible.y + visible.height / 2, c.rect.y + c.rect.height / 2);
        EXPECT_DOUBLE_EQ(visible.width, c.expectedWidth);
        EXPECT_DOUBLE_EQ(visible.height, c.expectedHeight);
    }

    const MapRect before = view.visibleMapRect();
    view.setVisibleMapRect(MapRect::null(), false);
    EXPECT_TRUE(view.visibleMapRect().originEquals(before));

    // Fitted before the window is laid out, the rectangle is fitted again on the resize.
    view.show();
    view.resize(200, 400);
    EXPECT_DOUBLE_EQ(view.visibleMapRect().width, 8e6);
    EXPECT_DOUBLE_EQ(view.visibleMapRect().height, 16e6);
}

TEST(MapView, AnimatedMoveEndsAtTheFittedRectangle)
{
    MapView view;
    view.resize(400, 200);
    view.show();
    int changes = 0;
    QObject::connect(&view, &MapView::visibleMapRectChanged, [&] { ++changes; });
    const MapRect target { 1e7, 1e7, 8e5, 4e5 };
    view.setVisibleMapRect(target, true);
    ASSERT_TRUE(waitUntil([&] {
        const MapRect visible = view.visibleMapRect();
        return std::abs(visible.x - target.x) < 1e-3 && std::abs(visible.width - target.width) < 1e-3;
    }, 3000));
    EXPECT_GT(changes, 1);
}

TEST(MapView, WheelZoomKeepsThePointUnderTheCursorAndDragPans)
{
    MapView view;
    view.resize(400, 200);
    view.setVisibleMapRect({ 1e7, 1e7, 8e5, 4e5 }, false);
    const QPointF cursor(100, 50);
    const auto planePoint = [&](QPointF position) {
        const MapRect visible = view.visibleMapRect();
        return MapPoint { visible.x + position.x() * visible.width / view.width(),
            visible.y + position.y() * visible.height / view.height() };
    };
    const MapPoint before = planePoint(cursor);
    QWheelEvent wheel(cursor, view.mapToGlobal(cursor), QPoint(), QPoint(0, 240), Qt::NoButton, Qt::NoModifier,
        Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &wheel);
    EXPECT_DOUBLE_EQ(view.visibleMapRect().width, 4e5);
    const MapPoint after = planePoint(cursor);
    EXPECT_NEAR(after.x, before.x, 1e-6);
    EXPECT_NEAR(after.y, before.y, 1e-6);

    // Dragging 50 pixels right moves the view 50 pixels' worth west.
    const MapRect beforeDrag = view.visibleMapRect();
    const double unitsPerPixel = beforeDrag.width / view.width();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(200, 100), view.mapToGlobal(QPointF(200, 100)), Qt::LeftButton,
        Qt::LeftButton, Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, QPointF(250, 100), view.mapToGlobal(QPointF(250, 100)), Qt::NoButton, Qt::LeftButton,
        Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(250, 100), view.mapToGlobal(QPointF(250, 100)), Qt::LeftButton,
        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &press);
    QApplication::sendEvent(&view, &move);
    QApplication::sendEvent(&view, &release);
    EXPECT_NEAR(view.visibleMapRect().x, beforeDrag.x - 50 * unitsPerPixel, 1e-6);
    EXPECT_DOUBLE_EQ(view.visibleMapRect().y, beforeDrag.y);
}

TEST(MapView, KeepInViewRecentresOnlyOutsideTheMiddleAndOnlyTheUserMovesTheView)
{
    MapView view;
    view.resize(400, 200);
    view.setVisibleMapRect({ 1e7, 1e7, 8e5, 4e5 }, false);
    QSignalSpy userMoved(&view, &MapView::userMovedView);
    struct Case {
        MapPoint point;
        MapPoint centre;
    };
    const Case cases[] = {
        { { 1e7 + 5e5, 1e7 + 2.5e5 }, { 1e7 + 4e5, 1e7 + 2e5 } }, // in the middle: stays
        { { 1e7 + 6.5e5, 1e7 + 2e5 }, { 1e7 + 6.5e5, 1e7 + 2e5 } }, // past it: centred on it
        { { 1e7 + 6.5e5, 1e7 + 2.5e5 }, { 1e7 + 6.5e5, 1e7 + 2e5 } },
    };
    for (const Case& c : cases) {
        view.keepInView(c.point);
        const MapRect visible = view.visibleMapRect();
        EXPECT_DOUBLE_EQ(visible.x + visible.width / 2, c.centre.x);
        EXPECT_DOUBLE_EQ(visible.y + visible.height / 2, c.centre.y);
        EXPECT_DOUBLE_EQ(visible.width, 8e5) << "the scale is kept";
    }
    view.zoomIn();
    EXPECT_EQ(userMoved.count(), 0) << "programs' moves are not the user's";

    QWheelEvent wheel(QPointF(100, 50), view.mapToGlobal(QPointF(100, 50)), QPoint(), QPoint(0, 120), Qt::NoButton,
        Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &wheel);
    EXPECT_EQ(userMoved.count(), 1);
    // A click is no move; a drag is.
    const auto drag = [&](QPointF to) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(200, 100), view.mapToGlobal(QPointF(200, 100)), Qt::LeftButton,
            Qt::LeftButton, Qt::NoModifier);
        QMouseEvent move(QEvent::MouseMove, to, view.mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, to, view.mapToGlobal(to), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &press);
        QApplication::sendEvent(&view, &move);
        QApplication::sendEvent(&view, &release);
    };
    drag(QPointF(200, 100));
    EXPECT_EQ(userMoved.count(), 1);
    drag(QPointF(260, 100));
    EXPECT_GE(userMoved.count(), 2);
    const int beforeButton = static_cast<int>(userMoved.count());
    for (QToolButton* button : view.findChildren<QToolButton*>())
        if (button->toolTip() == "Zoom out")
            button->click();
    EXPECT_EQ(userMoved.count(), beforeButton + 1);
}

TEST(MapView, MapTypeReachesTheBaseLayerWhicheverComesFirst)
{
    QTemporaryDir folder;
    PreferencesStore preferences(folder.filePath("settings.conf"));
    QtHttpClient client;
    MapView view;
    view.setMapType(MapType::Hybrid);
    auto layer = std::make_shared<MapBaseLayer>(client, preferences, MapBaseLayer::Options { folder.path(), "CorvexVario/test" });
    view.setBaseLayer(layer);
    EXPECT_EQ(layer->mapType(), MapType::Hybrid);
    view.setMapType(MapType::Satellite);
    EXPECT_EQ(view.mapType(), MapType::Satellite);
    EXPECT_EQ(layer->mapType(), MapType::Satellite);
}

TEST(MapView, LayersStackInOrderAndFitToOneWithAMargin)
{
    MapView view;
    view.resize(400, 200);
    auto lower = std::make_shared<BoundsLayer>();
    auto upper = std::make_shared<BoundsLayer>();
    view.addLayer(lower);
    view.addLayer(upper);
    view.addLayer(nullptr);
    EXPECT_EQ(view.layers(), (std::vector<std::shared_ptr<MapLayer>> { lower, upper }));
    // Added again, a layer goes to the top; removed, it is gone.
    view.addLayer(lower);
    EXPECT_EQ(view.layers(), (std::vector<std::shared_ptr<MapLayer>> { upper, lower }));
    view.removeLayer(upper);
    EXPECT_EQ(view.layers(), (std::vector<std::shared_ptr<MapLayer>> { lower }));
    // The ground layer (the relief) is painted under the added ones, and is none of them.
    std::vector<const MapLayer*> painted;
    auto ground = std::make_shared<BoundsLayer>();
    ground->painted = lower->painted = &painted;
    view.setGroundLayer(ground);
    view.grab();
    EXPECT_EQ(painted, (std::vector<const MapLayer*> { ground.get(), lower.get() }));
    EXPECT_EQ(view.layers(), (std::vector<std::shared_ptr<MapLayer>> { lower }));
    view.setGroundLayer(nullptr);
    painted.clear();
    view.grab();
    EXPECT_EQ(painted, (std::vector<const MapLayer*> { lower.get() }));
    lower->painted = nullptr;

    // Nothing to fit to: the view stays.
    const MapRect before = view.visibleMapRect();
    view.fitToLayer(*lower);
    EXPECT_TRUE(view.visibleMapRect().originEquals(before));

    // 4° wide and 1° high: the width decides, the margin left free at the ends.
    const MapPoint northWest = mapPointForCoordinate({ 46, 6 });
    const MapPoint southEast = mapPointForCoordinate({ 45, 10 });
    lower->bounds = { northWest.x, northWest.y, southEast.x - northWest.x, southEast.y - northWest.y };
    for (const int margin : { 0, 24, 40 }) {
        view.fitToLayer(*lower, margin);
        const MapViewport viewport = view.viewport();
        const PixelPoint west = viewport.pixelFor(GeoPoint { 45, 6 });
        const PixelPoint east = viewport.pixelFor(GeoPoint { 45.5, 10 });
        EXPECT_NEAR(west.x, margin, 1e-6) << margin;
        EXPECT_NEAR(east.x, 400 - margin, 1e-6) << margin;
        const PixelPoint north = viewport.pixelFor(GeoPoint { 46, 6 });
        EXPECT_GT(north.y, margin) << margin;
        EXPECT_NEAR(view.coordinateAt(QPointF(200, 100)).longitude, 8, 1e-9) << margin;
    }

    // Fitted with the default margin, nothing of the content lies under the zoom buttons
    // or the scale bar, whichever way the content is shaped.
    view.show();
    for (const QSize size : { QSize(400, 200), QSize(200, 400) }) {
        view.resize(size);
        view.fitToLayer(*lower);
        const MapViewport viewport = view.viewport();
        const PixelPoint topLeft = viewport.pixelFor(GeoPoint { 46, 6 });
        const PixelPoint bottomRight = viewport.pixelFor(GeoPoint { 45, 10 });
        const QRectF content(QPointF(topLeft.x, topLeft.y), QPointF(bottomRight.x, bottomRight.y));
        for (const QToolButton* button : view.findChildren<QToolButton*>())
            EXPECT_FALSE(content.intersects(QRectF(button->geometry()))) << size.width() << "×" << size.height();
        const QRectF scaleBar(0, size.height() - 36, 130, 36);
        EXPECT_FALSE(content.intersects(scaleBar)) << size.width() << "×" << size.height();
    }
}

// A set round Fiji fitted across ±180°: each piece is drawn where it lies, whichever
// copy of the world holds it, nothing in the sea between, and a click east of the line
// names a western longitude.
TEST(MapView, FitsAndShowsASetAcrossTheAntimeridian)
{
    MapView view;
    view.resize(400, 300);
    CountingDelegate delegate;
    view.setDelegate(&delegate);
    const auto fiji = makeOverlay(MapOverlay::Kind::Polyline, { { -16, 177 }, { -16, 179.5 }, { -16.5, -179 }, { -18.5, 178 } });
    const auto island = makeSquare(MapOverlay::Kind::Polyline, -21.5, -175.5, -20.5, -174.5);
    for (const MapOverlays& overlays : { MapOverlays { fiji, island }, MapOverlays { island, fiji } }) {
        view.removeAllOverlays();
        view.addOverlays(overlays);
        view.fitMapRect(overlays[0]->boundingMapRect().unitedAcrossWorld(overlays[1]->boundingMapRect()), 20, false);
        const MapRect visible = view.visibleMapRect();
        EXPECT_LT(visible.width, mapWorldSize / 30);
        const QImage image = view.grab().toImage();
        const auto redAt = [&](GeoPoint coordinate) {
            MapPoint point = mapPointForCoordinate(coordinate);
            point.x += std::round((visible.x + visible.width / 2 - point.x) / mapWorldSize) * mapWorldSize;
            const PixelPoint pixel = view.viewport().pixelFor(point);
            const QColor color = image.pixelColor(static_cast<int>(pixel.x), static_cast<int>(pixel.y));
            return color.red() > 200 && color.green() < 80;
        };
        EXPECT_TRUE(redAt({ -16, 178.25 }));
        EXPECT_TRUE(redAt({ -16.25, -179.75 }));
        EXPECT_TRUE(redAt({ -21, -175.5 }));
        EXPECT_FALSE(redAt({ -19.5, 180 }));
        const PixelPoint east = view.viewport().pixelFor(MapPoint { std::round(visible.x / mapWorldSize + 0.5) * mapWorldSize, 0 });
        EXPECT_NEAR(view.coordinateAt(QPointF(east.x + 10, 150)).longitude, -180 + 10 * visible.width / 400 * 360 / mapWorldSize, 1e-6);
    }
}

TEST(MapView, ClickGivesTheCoordinateUnderTheCursorADragDoesNot)
{
    MapView view;
    view.resize(400, 200);
    view.setVisibleMapRect({ 1e7, 1e7, 8e5, 4e5 }, false);
    std::vector<GeoPoint> clicks;
    QObject::connect(&view, &MapView::mapClicked, [&](GeoPoint coordinate) { clicks.push_back(coordinate); });
    const auto press = [&](QPointF from, QPointF to) {
        QMouseEvent down(QEvent::MouseButtonPress, from, view.mapToGlobal(from), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent move(QEvent::MouseMove, to, view.mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QMouseEvent up(QEvent::MouseButtonRelease, to, view.mapToGlobal(to), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &down);
        if (from != to)
            QApplication::sendEvent(&view, &move);
        QApplication::sendEvent(&view, &up);
    };
    const GeoPoint underCursor = view.coordinateAt(QPointF(100, 50));
    press(QPointF(100, 50), QPointF(100, 50));
    // A hand's tremble is still a click, on the place it was pressed on.
    press(QPointF(100, 50), QPointF(101, 51));
    press(QPointF(100, 50), QPointF(160, 50));
    ASSERT_EQ(clicks.size(), 2u);
    for (const GeoPoint& click : clicks) {
        EXPECT_NEAR(click.latitude, underCursor.latitude, 1e-9);
        EXPECT_NEAR(click.longitude, underCursor.longitude, 1e-9);
    }
}

} // namespace
} // namespace corvex
