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

    const double worldTop = (mapPointForCoordinate({ graticuleLatitudeLimit, 0 }).y - visible.y) * scaleY;
    const double worldBottom = (mapPointForCoordinate({ -graticuleLatitudeLimit, 0 }).y - visible.y) * scaleY;
    const double worldLeft = (0 - visible.x) * scaleX;
    const double worldRight = (mapWorldSize - visible.x) * scaleX;
    const double top = std::max(0.0, worldTop), bottom = std::min<double>(size.height(), worldBottom);
    const double left = std::max(0.0, worldLeft), right = std::min<double>(size.width(), worldRight);

    const QFontMetricsF metrics(painter.font());
    const auto lineAndLabel = [&](QPointF from, QPointF to, QPointF labelAt, const QString& label) {
        painter.setPen(QPen(graticuleColor, 0.8));
        painter.drawLine(from, to);
        painter.setPen(labelColor);
        painter.drawText(labelAt, label);
    };
    for (const double longitude : graticuleValues(std::max(-180.0, topLeft.longitude), std::min(180.0, bottomRight.longitude), step)) {
        const double x = (mapPointForCoordinate({ 0, longitude }).x - visible.x) * scaleX;
        const QString label = degreesLabel(longitude, 'E', 'W');
        // Right of its line, or left of it where the view ends: never cut by the edge.
        const double width = metrics.horizontalAdvance(label);
        const double labelX = x + 3 + width <= right ? x + 3 : x - 3 - width;
        lineAndLabel(QPointF(x, top), QPointF(x, bottom), QPointF(labelX, top + metrics.ascent() + 2), label);
    }
    for (const double latitude : graticuleValues(
             std::max(-graticuleLatitudeLimit, bottomRight.latitude), std::min(graticuleLatitudeLimit, topLeft.latitude), step)) {
        const double y = (mapPointForCoordinate({ latitude, 0 }).y - visible.y) * scaleY;
        // Above its line, or below it where the view ends.
        const double labelY = y - 3 - metrics.ascent() >= top ? y - 3 : y + 3 + metrics.ascent();
        lineAndLabel(QPointF(left, y), QPointF(right, y), QPointF(left + 3, labelY), degreesLabel(latitude, 'N', 'S'));
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
