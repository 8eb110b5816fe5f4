#include "map/qt/MarkersLayer.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPolygonF>

namespace corvex {

namespace {

const QColor takeOffColor(30, 150, 60);
const QColor landingColor(200, 40, 40);
const QColor pointColor(40, 60, 150);
const QColor cursorColor(20, 20, 20);
const QColor haloColor(255, 255, 255);

constexpr double symbolRadius = 7.0;
constexpr double pointRadius = 4.5;
// Beyond this many pixels out of view, not even a label's end shows.
constexpr double labelReach = 400.0;

void paintLabel(QPainter& painter, QPointF at, const std::string& label)
{
    if (label.empty())
        return;
    const QString text = QString::fromStdString(label);
    const QFontMetricsF metrics(painter.font());
    const QPointF baseline = at + QPointF(pointRadius + 4, metrics.ascent() / 2 - 1);
    const QRectF box(baseline.x() - 2, baseline.y() - metrics.ascent() - 1, metrics.horizontalAdvance(text) + 4,
        metrics.height() + 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 200));
    painter.drawRoundedRect(box, 2, 2);
    painter.setPen(QColor(30, 30, 30));
    painter.drawText(baseline, text);
}

void paintSymbol(QPainter& painter, const MapMarker& marker, QPointF at)
{
    painter.setPen(QPen(haloColor, 2));
    switch (marker.kind) {
    case MapMarker::Kind::TakeOff: {
        // A triangle pointing up: the flight leaves the ground.
        const QPolygonF triangle { at + QPointF(0, -symbolRadius - 1), at + QPointF(symbolRadius, symbolRadius - 1),
            at + QPointF(-symbolRadius, symbolRadius - 1) };
        painter.setBrush(takeOffColor);
        painter.drawPolygon(triangle);
        break;
    }
    case MapMarker::Kind::Landing:
        painter.setBrush(landingColor);
        painter.drawRect(QRectF(at - QPointF(symbolRadius - 1, symbolRadius - 1), QSizeF(2 * symbolRadius - 2, 2 * symbolRadius - 2)));
        break;
    case MapMarker::Kind::Cursor:
        // A ring that leaves the track under it visible, haloed so it shows on any map.
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(haloColor, 5));
        painter.drawEllipse(at, symbolRadius, symbolRadius);
        painter.setPen(QPen(cursorColor, 2.5));
        painter.drawEllipse(at, symbolRadius, symbolRadius);
        painter.setPen(Qt::NoPen);
        painter.setBrush(cursorColor);
        painter.drawEllipse(at, 1.5, 1.5);
        break;
    case MapMarker::Kind::Point:
        painter.setBrush(pointColor);
        painter.drawEllipse(at, pointRadius, pointRadius);
        paintLabel(painter, at, marker.label);
        break;
    }
}

} // namespace

MarkersLayer::MarkersLayer(QObject* parent)
    : MapLayer(parent)
{
}

MarkersLayer::~MarkersLayer() = default;

void MarkersLayer::setTakeOff(std::optional<GeoPoint> position)
{
    m_takeOff = position;
    emit changed();
}

void MarkersLayer::setLanding(std::optional<GeoPoint> position)
{
    m_landing = position;
    emit changed();
}

void MarkersLayer::setCursorTrack(std::shared_ptr<const TrackPoints> track)
{
    m_cursorTrack = std::move(track);
    emit changed();
}

void MarkersLayer::setCursorIndex(std::optional<std::size_t> index)
{
    if (index == m_cursorIndex)
        return;
    m_cursorIndex = index;
    emit changed();
}

void MarkersLayer::setPoints(std::vector<MapMarker> points)
{
    m_points = std::move(points);
    for (MapMarker& point : m_points)
        point.kind = MapMarker::Kind::Point;
    emit changed();
}

std::vector<MapMarker> MarkersLayer::markers() const
{
    std::vector<MapMarker> shown = m_points;
    if (m_takeOff)
        shown.push_back({ MapMarker::Kind::TakeOff, *m_takeOff, {} });
    if (m_landing)
        shown.push_back({ MapMarker::Kind::Landing, *m_landing, {} });
    if (m_cursorTrack && m_cursorIndex && *m_cursorIndex < m_cursorTrack->size())
        shown.push_back({ MapMarker::Kind::Cursor, (*m_cursorTrack)[*m_cursorIndex].position, {} });
    return shown;
}

std::optional<std::size_t> MarkersLayer::markerAt(const MapViewport& viewport, PixelPoint pixel, double radiusPixels) const
{
    return corvex::markerAt(markers(), viewport, pixel, radiusPixels);
}

void MarkersLayer::paint(QPainter& painter, const MapViewport& viewport)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    // A label reaches to the right of its point, well beyond a symbol's edge.
    const MapRect symbolsShown = viewport.mapRectWithMargin(symbolRadius + 2);
    const MapRect labelsShown = viewport.mapRectWithMargin(labelReach);
    for (const MapMarker& marker : markers()) {
        const MapPoint point = mapPointForCoordinate(marker.position);
        if (!(marker.label.empty() ? symbolsShown : labelsShown).intersects({ point.x, point.y, 0, 0 }))
            continue;
        const PixelPoint pixel = viewport.pixelFor(point);
        paintSymbol(painter, marker, QPointF(pixel.x, pixel.y));
    }
}

MapRect MarkersLayer::boundingMapRect() const
{
    MapRect bounds = MapRect::null();
    for (const MapMarker& marker : markers()) {
        if (marker.kind == MapMarker::Kind::Cursor)
            continue;
        const MapPoint point = mapPointForCoordinate(marker.position);
        bounds = bounds.united({ point.x, point.y, 0, 0 });
    }
    return bounds;
}

} // namespace corvex
