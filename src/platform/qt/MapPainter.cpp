#include "platform/qt/MapPainter.h"

#include "platform/qt/MapBaseLayer.h"
#include "platform/qt/OfflineGeography.h"

#include <QPainter>
#include <QPainterPath>
#include <QPointF>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace corvex {

namespace {

constexpr double earthCircumferenceMetres = 40075016.686;

QColor toQColor(const MapColor& color)
{
    return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
        static_cast<float>(color.blue), static_cast<float>(color.alpha));
}

void paintScaleBar(QPainter& painter, QSize size, const MapRect& visible)
{
    const double centreLatitude = coordinateForMapPoint({ 0, visible.y + visible.height / 2 }).latitude;
    const double metresPerPixel = visible.width / mapWorldSize * earthCircumferenceMetres
        * std::cos(centreLatitude * std::numbers::pi / 180.0) / size.width();
    if (!(metresPerPixel > 0))
        return;
    const double metres = scaleBarMetres(metresPerPixel, std::min(120.0, size.width() / 3.0));
    if (metres <= 0)
        return;
    const double length = metres / metresPerPixel;
    const QString label = metres >= 1000 ? QStringLiteral("%1 km").arg(metres / 1000) : QStringLiteral("%1 m").arg(metres);

    const QPointF origin(10, size.height() - 12);
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

void MapPainter::invalidateOverlays()
{
    ++m_generation;
}

void MapPainter::paint(QPainter& painter, QSize size, const MapRect& visible, const MapOverlays& overlays,
    const StyleAt& styleAt, MapBaseLayer* baseLayer)
{
    m_lastDrawnOverlayCount = 0;
    if (size.isEmpty() || visible.isNull() || !(visible.width > 0) || !(visible.height > 0))
        return;

    painter.save();
    painter.setClipRect(QRect(QPoint(0, 0), size));
    paintOfflineGeography(painter, size, visible);
    const bool tilesShown = baseLayer && baseLayer->paint(painter, size, visible);

    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const CacheKey key { visible, size, overlays.data(), overlays.size(), ratio, m_generation };
    if (!m_overlayImageValid || !(key == m_overlayKey)) {
        m_overlayImage = QImage(size * ratio, QImage::Format_ARGB32_Premultiplied);
        m_overlayImage.setDevicePixelRatio(ratio);
        m_overlayImage.fill(Qt::transparent);
        QPainter overlayPainter(&m_overlayImage);
        paintOverlays(overlayPainter, size, visible, overlays, styleAt);
        m_overlayKey = key;
        m_overlayImageValid = true;
    } else {
        m_lastDrawnOverlayCount = m_cachedDrawnOverlayCount;
    }
    painter.drawImage(QPointF(0, 0), m_overlayImage);

    paintScaleBar(painter, size, visible);
    if (tilesShown)
        paintAttribution(painter, size, baseLayer->attribution());
    painter.restore();
}

void MapPainter::paintOverlays(QPainter& painter, QSize size, const MapRect& visible, const MapOverlays& overlays,
    const StyleAt& styleAt)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    // A stroke reaches half its width (and a join a little more) beyond the outline, so an
    // overlay just outside the view may still show its edge.
    const double marginX = 4 * visible.width / size.width();
    const double marginY = 4 * visible.height / size.height();
    const MapRect culling { visible.x - marginX, visible.y - marginY, visible.width + 2 * marginX,
        visible.height + 2 * marginY };

    std::vector<QPointF> points;
    std::size_t drawn = 0;
    for (std::size_t index = 0; index < overlays.size(); ++index) {
        const MapOverlay* overlay = overlays[index].get();
        if (!overlay || !overlay->boundingMapRect().intersects(culling))
            continue;
        ++drawn;
        const MapOverlayStyle style = styleAt ? styleAt(index) : MapOverlayStyle {};
        QPen pen(toQColor(style.strokeColor.value_or(defaultStrokeColor)), style.lineWidth.value_or(defaultLineWidth));
        pen.setJoinStyle(Qt::RoundJoin);
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);

        mapPointsToPixels(overlay->points(), size, visible, points);
        const int count = static_cast<int>(points.size());
        if (overlay->kind() == MapOverlay::Kind::Polygon) {
            painter.setBrush(style.fillColor ? QBrush(toQColor(*style.fillColor)) : QBrush(Qt::NoBrush));
            painter.drawPolygon(points.data(), count, Qt::WindingFill);
        } else if (count == 1) {
            painter.drawPoint(points.front());
        } else {
            painter.drawPolyline(points.data(), count);
        }
    }
    m_lastDrawnOverlayCount = drawn;
    m_cachedDrawnOverlayCount = drawn;
}

} // namespace corvex
