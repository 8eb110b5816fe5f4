#include "map/qt/WindLayer.h"

#include "geo/GeoPoint.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <vector>

namespace corvex {

double WindLayer::lengthPixels(double speedKmh)
{
    const double fraction = std::clamp(speedKmh / longestAtKmh, 0.0, 1.0);
    return shortestPixels + fraction * (longestPixels - shortestPixels);
}

WindLayer::WindLayer(QObject* parent)
    : MapLayer(parent)
{
}

WindLayer::~WindLayer() = default;

void WindLayer::setArrows(std::vector<Arrow> arrows)
{
    m_arrows = std::move(arrows);
    emit changed();
}

void WindLayer::paint(QPainter& painter, const MapViewport& viewport)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    const MapRect shown = viewport.mapRectWithMargin(longestPixels + 40);
    const QFontMetricsF metrics(painter.font());
    // Thermals of one climb often lie close together: a label that would cover one
    // already written is left out, the arrow still drawn.
    std::vector<QRectF> labels;
    for (const Arrow& arrow : m_arrows) {
        const MapPoint point = mapPointForCoordinate(arrow.position);
        if (!shown.intersects({ point.x, point.y, 0, 0 }))
            continue;
        const PixelPoint pixel = viewport.pixelFor(point);
        // Centred on the thermal: its tail upwind, its head downwind. North is up and
        // the map's y grows southward.
        const double length = lengthPixels(arrow.speedKmh);
        const double radians = geo::radians(arrow.towardsDegrees);
        const QPointF along(std::sin(radians), -std::cos(radians));
        const QPointF across(-along.y(), along.x());
        const QPointF centre(pixel.x, pixel.y);
        const QPointF tail = centre - along * (length / 2);
        const QPointF head = centre + along * (length / 2);
        const double alpha = 0.45 + 0.55 * std::clamp(arrow.confidence, 0.0, 1.0);
        const QColor colour = QColor::fromRgbF(0.05f, 0.15f, 0.45f, float(alpha));
        // A white edge under the arrow keeps it readable over any track colour.
        QPainterPath shaft;
        shaft.moveTo(tail);
        shaft.lineTo(head - along * 6);
        QPainterPath tip;
        tip.moveTo(head);
        tip.lineTo(head - along * 10 + across * 5);
        tip.lineTo(head - along * 10 - across * 5);
        tip.closeSubpath();
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(255, 255, 255, 200), 5, Qt::SolidLine, Qt::RoundCap));
        painter.drawPath(shaft);
        painter.setPen(QPen(QColor(255, 255, 255, 200), 2.5));
        painter.drawPath(tip);
        painter.setPen(QPen(colour, 2.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawPath(shaft);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        painter.drawPath(tip);
        if (arrow.label.empty())
            continue;
        const QString text = QString::fromStdString(arrow.label);
        QRectF box(QPointF(), QSizeF(metrics.horizontalAdvance(text) + 6, metrics.height() + 2));
        // Beyond the tail, away from the arrow.
        box.moveCenter(tail - along * (box.width() / 2 * std::abs(along.x()) + box.height() / 2 * std::abs(along.y()) + 3));
        if (std::any_of(labels.begin(), labels.end(), [&](const QRectF& other) { return other.intersects(box); }))
            continue;
        labels.push_back(box);
        painter.setBrush(QColor(255, 255, 255, 200));
        painter.drawRoundedRect(box, 2, 2);
        painter.setPen(colour);
        painter.drawText(box, Qt::AlignCenter, text);
    }
}

MapRect WindLayer::boundingMapRect() const
{
    MapRect bounds = MapRect::null();
    for (const Arrow& arrow : m_arrows) {
        const MapPoint point = mapPointForCoordinate(arrow.position);
        bounds = bounds.united({ point.x, point.y, 0, 0 });
    }
    return bounds;
}

} // namespace corvex
