#include "platform/qt/OfflineGeography.h"

#include "platform/qt/MapPainter.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

const QColor outsideColor(226, 226, 222);
const QColor seaColor(214, 228, 238);
const QColor graticuleColor(168, 186, 200);
const QColor labelColor(90, 110, 128);

// Mercator stretches latitude without bound; the square ends here.
constexpr double graticuleLatitudeLimit = 85.0;

QString degreesLabel(double degrees, char positive, char negative)
{
    const long rounded = std::lround(degrees);
    if (rounded == 0)
        return QStringLiteral("0°");
    return QStringLiteral("%1°%2").arg(std::abs(rounded)).arg(QChar(rounded > 0 ? positive : negative));
}

void paintGraticule(QPainter& painter, QSize size, const MapRect& visible, double scaleX, double scaleY)
{
    const Coordinate topLeft = coordinateForMapPoint({ visible.x, visible.y });
    const Coordinate bottomRight = coordinateForMapPoint({ visible.x + visible.width, visible.y + visible.height });
    const double step = graticuleStep(visible.width / mapWorldSize * 360.0 / size.width(), 70.0);

    const double west = std::max(-180.0, std::floor(topLeft.longitude / step) * step);
    const double east = std::min(180.0, bottomRight.longitude);
    const double south = std::max(-graticuleLatitudeLimit, std::floor(bottomRight.latitude / step) * step);
    const double north = std::min(graticuleLatitudeLimit, topLeft.latitude);
    const double worldTop = (mapPointForCoordinate({ graticuleLatitudeLimit, 0 }).y - visible.y) * scaleY;
    const double worldBottom = (mapPointForCoordinate({ -graticuleLatitudeLimit, 0 }).y - visible.y) * scaleY;
    const double worldLeft = (0 - visible.x) * scaleX;
    const double worldRight = (mapWorldSize - visible.x) * scaleX;

    painter.setPen(QPen(graticuleColor, 0.8));
    const QFontMetricsF metrics(painter.font());
    for (double longitude = west; longitude <= east + 1e-9; longitude += step) {
        const double x = (mapPointForCoordinate({ 0, longitude }).x - visible.x) * scaleX;
        painter.setPen(QPen(graticuleColor, 0.8));
        painter.drawLine(QPointF(x, std::max(0.0, worldTop)), QPointF(x, std::min<double>(size.height(), worldBottom)));
        painter.setPen(labelColor);
        painter.drawText(QPointF(x + 3, std::max(0.0, worldTop) + metrics.ascent() + 2), degreesLabel(longitude, 'E', 'W'));
    }
    for (double latitude = south; latitude <= north + 1e-9; latitude += step) {
        const double y = (mapPointForCoordinate({ latitude, 0 }).y - visible.y) * scaleY;
        painter.setPen(QPen(graticuleColor, 0.8));
        painter.drawLine(QPointF(std::max(0.0, worldLeft), y), QPointF(std::min<double>(size.width(), worldRight), y));
        painter.setPen(labelColor);
        painter.drawText(QPointF(std::max(0.0, worldLeft) + 3, y - 3), degreesLabel(latitude, 'N', 'S'));
    }
}

} // namespace

void paintOfflineGeography(QPainter& painter, QSize size, const MapRect& visible)
{
    const double scaleX = size.width() / visible.width;
    const double scaleY = size.height() / visible.height;
    painter.save();
    painter.fillRect(QRect(QPoint(0, 0), size), outsideColor);
    const QRectF world((0 - visible.x) * scaleX, (0 - visible.y) * scaleY, mapWorldSize * scaleX, mapWorldSize * scaleY);
    painter.fillRect(world.intersected(QRectF(QPointF(0, 0), size)), seaColor);
    painter.setRenderHint(QPainter::Antialiasing, true);
    paintGraticule(painter, size, visible, scaleX, scaleY);
    painter.restore();
}

} // namespace corvex
