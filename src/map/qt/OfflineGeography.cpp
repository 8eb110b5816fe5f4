#include "map/qt/OfflineGeography.h"

#include "map/MapProjection.h"
#include "map/qt/MapPainter.h"
#include "map/qt/OfflineGeographyData.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <vector>

namespace corvex {

namespace {

const QColor outsideColor(226, 226, 222);
const QColor seaColor(214, 228, 238);
const QColor landColor(240, 236, 222);
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

// The land's rings run counterclockwise round land and clockwise round lakes, so that
// the nonzero rule fills land and leaves lakes open. They meet along the edges of the
// data set's bins: filled as one path without antialiasing, they join without a seam
// (the coastlines drawn over them smooth the shore).
void paintLand(QPainter& painter, QSize size, const MapRect& visible)
{
    QPainterPath land;
    land.setFillRule(Qt::WindingFill);
    std::vector<QPointF> points;
    for (const GeographyLine& line : geographyLines()) {
        if (line.kind != OfflineGeographyLine::Kind::Land || !line.bounds.intersects(visible))
            continue;
        mapPointsToPixels(line.points, size, visible, points);
        if (points.size() < 3)
            continue;
        land.moveTo(points.front());
        for (std::size_t index = 1; index < points.size(); ++index)
            land.lineTo(points[index]);
        land.closeSubpath();
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillPath(land, landColor);
}

void paintGeographyLines(QPainter& painter, QSize size, const MapRect& visible)
{
    const QPen coastlinePen(coastlineColor, 1.0);
    QPen borderPen(borderColor, 1.0);
    borderPen.setStyle(Qt::DashLine);
    std::vector<QPointF> points;
    for (const GeographyLine& line : geographyLines()) {
        if (line.kind == OfflineGeographyLine::Kind::Land || !line.bounds.intersects(visible))
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
    // The antimeridian is as much east as west.
    if (rounded == 0 || std::abs(rounded) == 180)
        return QStringLiteral("%1°").arg(std::abs(rounded));
    return QStringLiteral("%1°%2").arg(std::abs(rounded)).arg(QChar(rounded > 0 ? positive : negative));
}

void paintGraticule(QPainter& painter, QSize size, const MapRect& visible, double scaleX, double scaleY)
{
    const double northLatitude = coordinateForMapPoint({ 0, visible.y }).latitude;
    const double southLatitude = coordinateForMapPoint({ 0, visible.y + visible.height }).latitude;
    const double step = graticuleStep(visible.width / mapWorldSize * 360.0 / size.width(), 70.0);

    const double worldTop = (mapPointForCoordinate({ graticuleLatitudeLimit, 0 }).y - visible.y) * scaleY;
    const double worldBottom = (mapPointForCoordinate({ -graticuleLatitudeLimit, 0 }).y - visible.y) * scaleY;
    // The world repeats east and west: the lines run across the whole area.
    const double top = std::max(0.0, worldTop), bottom = std::min<double>(size.height(), worldBottom);
    const double left = 0, right = size.width();

    const QFontMetricsF metrics(painter.font());
    const auto lineAndLabel = [&](QPointF from, QPointF to, QPointF labelAt, const QString& label) {
        painter.setPen(QPen(graticuleColor, 0.8));
        painter.drawLine(from, to);
        painter.setPen(labelColor);
        painter.drawText(labelAt, label);
    };
    // Longitudes counted on past ±180° where the view shows the next world, labelled as
    // the meridians they are.
    const double westLongitude = visible.x / mapWorldSize * 360.0 - 180.0;
    const double eastLongitude = (visible.x + visible.width) / mapWorldSize * 360.0 - 180.0;
    for (const double longitude : graticuleValues(westLongitude, eastLongitude, step)) {
        const double x = ((longitude + 180.0) / 360.0 * mapWorldSize - visible.x) * scaleX;
        const QString label = degreesLabel(longitude - 360.0 * std::round(longitude / 360.0), 'E', 'W');
        // Right of its line, or left of it where the view ends: never cut by the edge.
        const double width = metrics.horizontalAdvance(label);
        const double labelX = x + 3 + width <= right ? x + 3 : x - 3 - width;
        lineAndLabel(QPointF(x, top), QPointF(x, bottom), QPointF(labelX, top + metrics.ascent() + 2), label);
    }
    for (const double latitude : graticuleValues(
             std::max(-graticuleLatitudeLimit, southLatitude), std::min(graticuleLatitudeLimit, northLatitude), step)) {
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
    const QRectF area(QPointF(0, 0), size);
    painter.fillRect(area, outsideColor);
    // The sea is the world's band from its top to its bottom edge, the world repeating
    // east and west of ±180°; the land and the lines are drawn in each copy shown.
    const QRectF sea(0, (0 - visible.y) * scaleY, size.width(), mapWorldSize * scaleY);
    painter.fillRect(sea.intersected(area), seaColor);
    const std::vector<int> copies = worldCopiesMeeting(MapRect::null(), visible);
    for (const int copy : copies)
        paintLand(painter, size, shiftedByWorlds(visible, -copy));
    painter.setRenderHint(QPainter::Antialiasing, true);
    paintGraticule(painter, size, visible, scaleX, scaleY);
    for (const int copy : copies)
        paintGeographyLines(painter, size, shiftedByWorlds(visible, -copy));
    painter.restore();
}

} // namespace corvex
