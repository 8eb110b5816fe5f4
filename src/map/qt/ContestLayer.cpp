#include "map/qt/ContestLayer.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPen>

namespace corvex {

namespace {

const QColor legColor(150, 20, 150);
const QColor gapColor(150, 20, 150);
const QColor haloColor(255, 255, 255, 230);

QPointF pixelOf(const MapViewport& viewport, GeoPoint coordinate)
{
    const PixelPoint pixel = viewport.pixelFor(coordinate);
    return { pixel.x, pixel.y };
}

} // namespace

ContestLayer::ContestLayer(QObject* parent)
    : MapLayer(parent)
{
}

ContestLayer::~ContestLayer() = default;

void ContestLayer::setRoute(Route route)
{
    m_route = std::move(route);
    emit changed();
}

std::vector<std::pair<GeoPoint, GeoPoint>> ContestLayer::legs() const
{
    std::vector<std::pair<GeoPoint, GeoPoint>> legs;
    const auto& points = m_route.points;
    for (std::size_t i = 1; i < points.size(); ++i)
        legs.emplace_back(points[i - 1].position, points[i].position);
    if (m_route.closed && points.size() >= 3)
        legs.emplace_back(points.back().position, points.front().position);
    return legs;
}

void ContestLayer::paint(QPainter& painter, const MapViewport& viewport)
{
    if (m_route.points.empty())
        return;
    painter.setRenderHint(QPainter::Antialiasing, true);
    // A few legs: drawn whole, the painter clips what lies outside.
    const auto legs = this->legs();
    for (const auto& [from, to] : legs) {
        painter.setPen(QPen(haloColor, lineWidth + 3, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(pixelOf(viewport, from), pixelOf(viewport, to));
    }
    for (const auto& [from, to] : legs) {
        painter.setPen(QPen(legColor, lineWidth, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(pixelOf(viewport, from), pixelOf(viewport, to));
    }
    if (m_route.closingStart && m_route.closingEnd) {
        const QPointF start = pixelOf(viewport, *m_route.closingStart), end = pixelOf(viewport, *m_route.closingEnd);
        painter.setPen(QPen(haloColor, lineWidth + 3, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(start, end);
        painter.setPen(QPen(gapColor, lineWidth, Qt::DashLine, Qt::FlatCap));
        painter.drawLine(start, end);
        painter.setPen(QPen(gapColor, 1.5));
        painter.setBrush(haloColor);
        painter.drawEllipse(start, 3.5, 3.5);
        painter.drawEllipse(end, 3.5, 3.5);
    }
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    for (const Point& point : m_route.points) {
        const QPointF at = pixelOf(viewport, point.position);
        painter.setPen(QPen(legColor, 2));
        painter.setBrush(Qt::white);
        painter.drawEllipse(at, pointRadius, pointRadius);
        painter.setPen(legColor);
        painter.drawText(QRectF(at.x() - pointRadius, at.y() - pointRadius, 2 * pointRadius, 2 * pointRadius),
            Qt::AlignCenter, QString::fromStdString(point.label));
    }
}

MapRect ContestLayer::boundingMapRect() const
{
    MapRect bounds = MapRect::null();
    for (const Point& point : m_route.points) {
        const MapPoint at = mapPointForCoordinate(point.position);
        bounds = bounds.united({ at.x, at.y, 0, 0 });
    }
    return bounds;
}

} // namespace corvex
