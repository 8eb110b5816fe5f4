#include "map/ui/MapView.h"

#include "map/qt/MapBaseLayer.h"
#include "map/qt/MapLayer.h"
#include "map/qt/MapPainter.h"
#include "map/qt/OverlayLayer.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QToolButton>
#include <QVariantAnimation>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// From one map unit per pixel (256-pixel tiles at zoom 20) to the whole world in 128
// pixels.
constexpr double minimumUnitsPerPixel = 1.0;
constexpr double maximumUnitsPerPixel = mapWorldSize / 128.0;
constexpr int animationMilliseconds = 250;

// The scale at which rect fits into a view of that size with margin pixels free around.
double fittingUnitsPerPixel(const MapRect& rect, QSize size, int margin)
{
    return unitsPerPixelFitting(rect, size.width(), size.height(), margin, minimumUnitsPerPixel, maximumUnitsPerPixel);
}

} // namespace

struct MapView::Private {
    OverlayLayer overlays;
    std::vector<std::shared_ptr<MapLayer>> layers;
    MapViewDelegate* delegate { nullptr };

    // The view is its centre and its scale, so that a resize keeps the centre.
    MapPoint centre { mapWorldSize / 2, mapWorldSize / 2 };
    double unitsPerPixel { mapWorldSize / 512.0 };

    // The rectangle last fitted (setVisibleMapRect, fitMapRect) and its margin, until the
    // user moves the map: a resize fits it again, so that a map filled before its window
    // is laid out still shows all of it.
    std::optional<MapRect> fittedRect;
    int fittedMargin { 0 };

    QVariantAnimation animation;
    MapPoint animationStartCentre;
    double animationStartUnitsPerPixel { 0 };
    MapPoint animationEndCentre;
    double animationEndUnitsPerPixel { 0 };

    MapType mapType { MapType::Standard };
    std::shared_ptr<MapBaseLayer> baseLayer;
    std::shared_ptr<MapLayer> groundLayer;
    MapPainter painter;

    std::optional<QPointF> dragOrigin;
    MapPoint dragOriginCentre;
    // The press has moved farther than a click may: the release is the end of a drag.
    bool dragged { false };

    QToolButton* zoomInButton { nullptr };
    QToolButton* zoomOutButton { nullptr };
};

MapView::MapView(QWidget* parent)
    : QWidget(parent)
    , d(std::make_unique<Private>())
{
    setMouseTracking(false);
    setMinimumSize(160, 120);
    setFocusPolicy(Qt::WheelFocus);

    d->overlays.setStyleAt([this](std::size_t index) {
        return d->delegate ? d->delegate->rendererForOverlay(*this, *d->overlays.overlays()[index]) : MapOverlayStyle {};
    });
    connect(&d->overlays, &MapLayer::changed, this, &MapView::layerChanged);

    d->zoomInButton = new QToolButton(this);
    d->zoomInButton->setText(QStringLiteral("+"));
    d->zoomInButton->setToolTip(tr("Zoom in"));
    d->zoomOutButton = new QToolButton(this);
    d->zoomOutButton->setText(QStringLiteral("−"));
    d->zoomOutButton->setToolTip(tr("Zoom out"));
    for (QToolButton* button : { d->zoomInButton, d->zoomOutButton })
        button->setFixedSize(28, 28);
    connect(d->zoomInButton, &QToolButton::clicked, this, [this] {
        zoomIn();
        emit userMovedView();
    });
    connect(d->zoomOutButton, &QToolButton::clicked, this, [this] {
        zoomOut();
        emit userMovedView();
    });

    d->animation.setDuration(animationMilliseconds);
    d->animation.setStartValue(0.0);
    d->animation.setEndValue(1.0);
    d->animation.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&d->animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        const double progress = value.toDouble();
        d->centre = { d->animationStartCentre.x + (d->animationEndCentre.x - d->animationStartCentre.x) * progress,
            d->animationStartCentre.y + (d->animationEndCentre.y - d->animationStartCentre.y) * progress };
        // Zooming geometrically looks even: each frame scales by the same factor.
        d->unitsPerPixel = d->animationStartUnitsPerPixel
            * std::pow(d->animationEndUnitsPerPixel / d->animationStartUnitsPerPixel, progress);
        update();
        emit visibleMapRectChanged();
    });
}

MapView::~MapView() = default;

void MapView::setDelegate(MapViewDelegate* delegate)
{
    d->delegate = delegate;
    redraw();
}

const MapOverlays& MapView::overlays() const
{
    return d->overlays.overlays();
}

std::optional<std::size_t> MapView::indexOfOverlay(const MapOverlay& overlay) const
{
    return d->overlays.indexOfOverlay(overlay);
}

void MapView::addOverlays(const MapOverlays& overlays)
{
    d->overlays.addOverlays(overlays);
}

void MapView::removeOverlays(const MapOverlays& overlays)
{
    d->overlays.removeOverlays(overlays);
}

void MapView::removeAllOverlays()
{
    d->overlays.removeAllOverlays();
}

const std::vector<std::shared_ptr<MapLayer>>& MapView::layers() const
{
    return d->layers;
}

void MapView::addLayer(std::shared_ptr<MapLayer> layer)
{
    if (!layer)
        return;
    removeLayer(layer);
    connect(layer.get(), &MapLayer::changed, this, &MapView::layerChanged);
    d->layers.push_back(std::move(layer));
    d->painter.invalidateCache();
    update();
}

void MapView::setGroundLayer(std::shared_ptr<MapLayer> layer)
{
    if (d->groundLayer)
        disconnect(d->groundLayer.get(), nullptr, this, nullptr);
    d->groundLayer = std::move(layer);
    if (d->groundLayer)
        connect(d->groundLayer.get(), &MapLayer::changed, this, &MapView::layerChanged);
    d->painter.invalidateCache();
    update();
}

void MapView::removeLayer(const std::shared_ptr<MapLayer>& layer)
{
    const auto found = std::find(d->layers.begin(), d->layers.end(), layer);
    if (found == d->layers.end())
        return;
    disconnect(layer.get(), nullptr, this, nullptr);
    d->layers.erase(found);
    d->painter.invalidateCache();
    update();
}

MapRect MapView::visibleMapRect() const
{
    const double width = std::max(1, this->width()) * d->unitsPerPixel;
    const double height = std::max(1, this->height()) * d->unitsPerPixel;
    return { d->centre.x - width / 2, d->centre.y - height / 2, width, height };
}

void MapView::setVisibleMapRect(const MapRect& rect, bool animated)
{
    fitMapRect(rect, 0, animated);
}

void MapView::fitMapRect(const MapRect& rect, int marginPixels, bool animated)
{
    if (rect.isNull())
        return;
    d->fittedRect = rect;
    d->fittedMargin = std::max(0, marginPixels);
    const MapPoint centre { rect.x + rect.width / 2, rect.y + rect.height / 2 };
    const double unitsPerPixel = fittingUnitsPerPixel(rect, size(), d->fittedMargin);
    d->animation.stop();
    if (!animated || !isVisible()) {
        d->centre = centre;
        d->unitsPerPixel = unitsPerPixel;
        update();
        emit visibleMapRectChanged();
        return;
    }
    d->animationStartCentre = d->centre;
    d->animationStartUnitsPerPixel = d->unitsPerPixel;
    d->animationEndCentre = centre;
    d->animationEndUnitsPerPixel = unitsPerPixel;
    d->animation.start();
}

void MapView::fitToLayer(const MapLayer& layer, int marginPixels, bool animated)
{
    fitMapRect(layer.boundingMapRect(), marginPixels, animated);
}

MapViewport MapView::viewport() const
{
    return MapViewport(std::max(1, width()), std::max(1, height()), visibleMapRect());
}

GeoPoint MapView::coordinateAt(QPointF position) const
{
    return viewport().coordinateAt({ position.x(), position.y() });
}

MapType MapView::mapType() const
{
    return d->mapType;
}

void MapView::setMapType(MapType type)
{
    d->mapType = type;
    if (d->baseLayer)
        d->baseLayer->setMapType(type);
    d->painter.invalidateCache();
    update();
}

void MapView::setBaseLayer(std::shared_ptr<MapBaseLayer> baseLayer)
{
    if (d->baseLayer)
        disconnect(d->baseLayer.get(), nullptr, this, nullptr);
    d->baseLayer = std::move(baseLayer);
    if (d->baseLayer) {
        d->baseLayer->setMapType(d->mapType);
        connect(d->baseLayer.get(), &MapLayer::changed, this, &MapView::layerChanged);
    }
    d->painter.invalidateCache();
    update();
}

void MapView::redraw()
{
    d->overlays.restyle();
}

void MapView::zoomIn()
{
    MapRect rect = visibleMapRect();
    setVisibleMapRect({ rect.x + rect.width / 4, rect.y + rect.height / 4, rect.width / 2, rect.height / 2 }, true);
}

void MapView::zoomOut()
{
    MapRect rect = visibleMapRect();
    setVisibleMapRect({ rect.x - rect.width / 2, rect.y - rect.height / 2, rect.width * 2, rect.height * 2 }, true);
}

void MapView::keepInView(MapPoint point)
{
    const std::optional<MapPoint> centre = followingCentre(visibleMapRect(), point);
    if (!centre)
        return;
    d->animation.stop();
    d->fittedRect.reset();
    d->centre = *centre;
    update();
    emit visibleMapRectChanged();
}

void MapView::paintEvent(QPaintEvent*)
{
    std::vector<MapLayer*> stack;
    stack.reserve(d->layers.size() + 2);
    if (d->baseLayer)
        stack.push_back(d->baseLayer.get());
    if (d->groundLayer)
        stack.push_back(d->groundLayer.get());
    stack.push_back(&d->overlays);
    for (const auto& layer : d->layers)
        stack.push_back(layer.get());
    QPainter painter(this);
    // A replay's gliders over the kept image of the rest: a frame costs them alone until
    // the view moves or another layer changes.
    d->painter.paintCached(painter, size(), devicePixelRatioF(), visibleMapRect(), stack);
}

void MapView::layerChanged()
{
    const auto* layer = qobject_cast<const MapLayer*>(sender());
    if (!layer || !layer->isLive())
        d->painter.invalidateCache();
    update();
}

void MapView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (d->fittedRect && !event->size().isEmpty()) {
        const MapRect rect = *d->fittedRect;
        d->animation.stop();
        d->centre = { rect.x + rect.width / 2, rect.y + rect.height / 2 };
        d->unitsPerPixel = fittingUnitsPerPixel(rect, size(), d->fittedMargin);
    }
    const int margin = 8;
    d->zoomInButton->move(width() - margin - d->zoomInButton->width(), margin);
    d->zoomOutButton->move(width() - margin - d->zoomOutButton->width(), margin + d->zoomInButton->height() + 4);
    emit visibleMapRectChanged();
}

void MapView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    d->animation.stop();
    d->fittedRect.reset();
    d->dragOrigin = event->position();
    d->dragOriginCentre = d->centre;
    d->dragged = false;
    setCursor(Qt::ClosedHandCursor);
}

void MapView::mouseMoveEvent(QMouseEvent* event)
{
    if (!d->dragOrigin) {
        if (event->buttons() == Qt::NoButton)
            emit pointerMoved(event->position());
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPointF moved = event->position() - *d->dragOrigin;
    if (moved.manhattanLength() > QApplication::startDragDistance())
        d->dragged = true;
    d->centre = { d->dragOriginCentre.x - moved.x() * d->unitsPerPixel, d->dragOriginCentre.y - moved.y() * d->unitsPerPixel };
    update();
    emit visibleMapRectChanged();
    if (d->dragged)
        emit userMovedView();
}

void MapView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!d->dragOrigin || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    d->dragOrigin.reset();
    unsetCursor();
    if (!d->dragged)
        emit mapClicked(coordinateAt(event->position()));
}

void MapView::wheelEvent(QWheelEvent* event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0) {
        event->ignore();
        return;
    }
    d->animation.stop();
    d->fittedRect.reset();
    // The point under the cursor stays under it.
    const QPointF position = event->position();
    const MapRect rect = visibleMapRect();
    const MapPoint anchor { rect.x + position.x() * d->unitsPerPixel, rect.y + position.y() * d->unitsPerPixel };
    const double unitsPerPixel = std::clamp(d->unitsPerPixel * std::pow(2.0, -steps / 2), minimumUnitsPerPixel, maximumUnitsPerPixel);
    d->unitsPerPixel = unitsPerPixel;
    d->centre = { anchor.x - (position.x() - width() / 2.0) * unitsPerPixel,
        anchor.y - (position.y() - height() / 2.0) * unitsPerPixel };
    update();
    emit visibleMapRectChanged();
    emit userMovedView();
    event->accept();
}

void MapView::leaveEvent(QEvent* event)
{
    emit pointerLeft();
    QWidget::leaveEvent(event);
}

} // namespace corvex
