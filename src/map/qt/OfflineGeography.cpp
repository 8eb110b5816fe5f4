#include "map/qt/OfflineGeography.h"

#include "map/qt/MapPainter.h"
#include "map/qt/OfflineGeographyData.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace corvex {

namespace {

const QColor outsideColor(226, 226, 222);
const QColor seaColor(214, 228, 238);
const QColor graticuleColor(168, 186, 200);
const QColor labelColor(90, 110, 128);
const QColor coastlineColor(96, 110, 92);
const QColor borderColor(150, 120, 150);

struct GeographyLine {
    OfflineGeographyLine::Kind kind;
    std::vector<MapPoint> points;
    MapRect bounds;
};

// The compiled-in lines in the plane, made once: a few tens of thousands of points.
const std::vector<GeographyLine>& geographyLines()
{
    static const std::vector<GeographyLine> lines = [] {
        const OfflineGeographyData data = offlineGeographyData();
        std::vector<GeographyLine> made;
        made.reserve(data.lineCount);
        for (std::size_t index = 0; index < data.lineCount; ++index) {
            const OfflineGeographyLine& line = data.lines[index];
            GeographyLine geographyLine { line.kind, {}, MapRect::null() };
            geographyLine.points.reserve(line.pointCount);
            for (std::uint32_t point = line.firstPoint; point < line.firstPoint + line.pointCount; ++point) {
                const MapPoint mapPoint = mapPointForCoordinate(
                    { data.points[2 * point + 1] / 100.0, data.points[2 * point] / 100.0 });
                geographyLine.points.push_back(mapPoint);
                geographyLine.bounds = geographyLine.bounds.united({ mapPoint.x, mapPoint.y, 0, 0 });
            }
            made.push_back(std::move(geographyLine));
        }
        return made;
    }();
    return lines;
}

void paintGeographyLines(QPainter& painter, QSize size, const MapRect& visible)
{
    const QPen coastlinePen(coastlineColor, 1.0);
    QPen borderPen(borderColor, 1.0);
    borderPen.setStyle(Qt::DashLine);
    std::vector<QPointF> points;
    for (const GeographyLine& line : geographyLines()) {
        if (!line.bounds.intersects(visible))
            continue;
        mapPointsToPixels(line.points, size, visible, points);
        if (points.size() < 2)
            continue;
        painter.setPen(line.kind == OfflineGeographyLine::Kind::Coastline ? coastlinePen : borderPen);
        painter.drawPolyline(points.data(), static_cast<int>(points.size()));
    }
}

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
    paintGeographyLines(painter, size, visible);
    painter.restore();
}

} // namespace corvex
