#include "map/qt/MapPainter.h"

#include "map/MapProjection.h"
#include "map/qt/MapLayer.h"
#include "map/qt/OfflineGeography.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// How far beyond a layer's bounds its drawing may reach: a marker's label, 400 pixels.
constexpr double copyMarginPixels = 400;

void paintScaleBar(QPainter& painter, const MapViewport& viewport)
{
    const double metresPerPixel = viewport.metresPerPixel();
    if (!(metresPerPixel > 0))
        return;
    const double metres = scaleBarMetres(metresPerPixel, std::min(120.0, viewport.width() / 3.0));
    if (metres <= 0)
        return;
    const double length = metres / metresPerPixel;
    const QString label = metres >= 1000 ? QStringLiteral("%1 km").arg(metres / 1000) : QStringLiteral("%1 m").arg(metres);

    const QPointF origin(10, viewport.height() - 12);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetricsF metrics(painter.font());
    painter.fillRect(QRectF(origin.x() - 4, origin.y() - metrics.height() - 6, std::max(length, metrics.horizontalAdvance(label)) + 8,
                         metrics.height() + 12),
        QColor(255, 255, 255, 170));
    painter.setPen(QPen(QColor(40, 40, 40), 2));
    painter.drawLine(origin, origin + QPointF(length, 0));
    painter.drawLine(origin, origin + QPointF(0, -5));
    painter.drawLine(origin + QPointF(length, 0), origin + QPointF(length, -5));
    painter.drawText(origin + QPointF(2, -6), label);
    painter.restore();
}

// The tile server's licence asks for its text wherever its tiles are shown.
void paintAttribution(QPainter& painter, QSize size, const QString& text)
{
    if (text.isEmpty())
        return;
    painter.save();
    QFont font = painter.font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    const double width = metrics.horizontalAdvance(text) + 8;
    const QRectF box(size.width() - width, size.height() - metrics.height() - 4, width, metrics.height() + 4);
    painter.fillRect(box, QColor(255, 255, 255, 190));
    painter.setPen(QColor(50, 50, 50));
    painter.drawText(box, Qt::AlignCenter, text);
    painter.restore();
}

} // namespace

void mapPointsToPixels(const std::vector<MapPoint>& points, QSize size, const MapRect& visible, std::vector<QPointF>& out)
{
    // Two multiplications and two subtractions per point, which a QTransform per point
    // would not beat.
    const double scaleX = size.width() / visible.width;
    const double scaleY = size.height() / visible.height;
    constexpr double minimumStep = 0.5;
    out.clear();
    for (std::size_t index = 0; index < points.size(); ++index) {
        const QPointF point((points[index].x - visible.x) * scaleX, (points[index].y - visible.y) * scaleY);
        if (!out.empty() && index + 1 < points.size()) {
            const QPointF& last = out.back();
            if (std::abs(point.x() - last.x()) < minimumStep && std::abs(point.y() - last.y()) < minimumStep)
                continue;
        }
        out.push_back(point);
    }
}

double scaleBarMetres(double metresPerPixel, double maximumPixels)
{
    const double maximumMetres = metresPerPixel * maximumPixels;
    if (!(maximumMetres >= 1))
        return 0;
    const double power = std::pow(10.0, std::floor(std::log10(maximumMetres)));
    for (const double factor : { 5.0, 2.0, 1.0 }) {
        if (factor * power <= maximumMetres)
            return factor * power;
    }
    return power;
}

double graticuleStep(double degreesPerPixel, double minimumPixels)
{
    for (const double step : { 1.0, 5.0, 10.0 }) {
        if (step / degreesPerPixel >= minimumPixels)
            return step;
    }
    return 30.0;
}

std::vector<double> graticuleValues(double low, double high, double step)
{
    std::vector<double> values;
    if (!(step > 0) || !(low <= high))
        return values;
    // Counted in whole steps so that no sum of steps drifts off a round value.
    for (auto k = static_cast<long>(std::ceil(low / step - 1e-9)); k * step <= high + 1e-9; ++k)
        values.push_back(k * step);
    return values;
}

void MapPainter::paintLayers(QPainter& painter, const MapViewport& viewport, const std::vector<MapLayer*>& layers,
    QStringList* attributions)
{
    const MapRect& visible = viewport.visible();
    for (MapLayer* layer : layers) {
        if (!layer || !layer->isVisible())
            continue;
        // A layer draws its content where it lies in the plane; where the view shows
        // more than one world, or the area across ±180°, each copy of the world that
        // shows some of the content is drawn through the view moved by whole worlds.
        // The margin keeps strokes, symbols and labels just beyond the content's edge;
        // a layer over the whole world (the tiles) needs none. A layer with nothing in
        // view is still painted once, so that what it says of its last paint holds.
        const MapRect bounds = layer->boundingMapRect();
        std::vector<int> copies
            = worldCopiesMeeting(bounds, bounds.isNull() ? visible : viewport.mapRectWithMargin(copyMarginPixels));
        if (copies.empty())
            copies.push_back(0);
        for (const int copy : copies) {
            painter.save();
            const MapViewport copyViewport(viewport.width(), viewport.height(), shiftedByWorlds(visible, -copy));
            layer->paint(painter, copyViewport);
            painter.restore();
            const QString attribution = layer->shownAttribution();
            if (attributions && !attribution.isEmpty() && !attributions->contains(attribution))
                attributions->push_back(attribution);
        }
    }
}

void MapPainter::paint(QPainter& painter, QSize size, const MapRect& visible, const std::vector<MapLayer*>& layers)
{
    const MapViewport viewport(size.width(), size.height(), visible);
    if (size.isEmpty() || !viewport.isValid())
        return;

    painter.save();
    painter.setClipRect(QRect(QPoint(0, 0), size));
    paintOfflineGeography(painter, size, visible);
    QStringList attributions;
    paintLayers(painter, viewport, layers, &attributions);
    paintScaleBar(painter, viewport);
    paintAttribution(painter, size, attributions.join(QStringLiteral(" · ")));
    painter.restore();
}

void MapPainter::paintCached(QPainter& painter, QSize size, double devicePixelRatio, const MapRect& visible,
    const std::vector<MapLayer*>& layers)
{
    m_cacheRenewed = false;
    std::vector<MapLayer*> kept;
    std::vector<MapLayer*> live;
    for (MapLayer* layer : layers) {
        if (layer && layer->isVisible())
            (layer->isLive() ? live : kept).push_back(layer);
    }
    const MapViewport viewport(size.width(), size.height(), visible);
    if (live.empty() || size.isEmpty() || !viewport.isValid()) {
        m_cacheValid = false;
        m_cache = QImage();
        paint(painter, size, visible, layers);
        return;
    }
    const QSize pixels(static_cast<int>(std::ceil(size.width() * devicePixelRatio)),
        static_cast<int>(std::ceil(size.height() * devicePixelRatio)));
    if (!m_cacheValid || m_cache.size() != pixels || m_cache.devicePixelRatio() != devicePixelRatio
        || !m_cacheRect.originEquals(visible) || m_cacheRect.width != visible.width || m_cacheRect.height != visible.height) {
        m_cache = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        m_cache.setDevicePixelRatio(devicePixelRatio);
        QPainter cachePainter(&m_cache);
        cachePainter.setFont(painter.font());
        cachePainter.setClipRect(QRect(QPoint(0, 0), size));
        paintOfflineGeography(cachePainter, size, visible);
        m_cacheAttributions.clear();
        paintLayers(cachePainter, viewport, kept, &m_cacheAttributions);
        cachePainter.end();
        m_cacheRect = visible;
        m_cacheValid = true;
        m_cacheRenewed = true;
    }
    painter.save();
    painter.setClipRect(QRect(QPoint(0, 0), size));
    painter.drawImage(QPointF(0, 0), m_cache);
    QStringList attributions = m_cacheAttributions;
    paintLayers(painter, viewport, live, &attributions);
    paintScaleBar(painter, viewport);
    paintAttribution(painter, size, attributions.join(QStringLiteral(" · ")));
    painter.restore();
}

} // namespace corvex
