#include "map/qt/ZoneLayer.h"

#include "base/SegmentClip.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

QColor qColor(const MapColor& color) { return QColor::fromRgbF(color.red, color.green, color.blue, color.alpha); }

MapRect boundsOf(const std::vector<GeoPoint>& coordinates)
{
    MapRect bounds = MapRect::null();
    for (const GeoPoint& coordinate : coordinates) {
        const MapPoint point = mapPointForCoordinate(coordinate);
        bounds = bounds.united({ point.x, point.y, 0, 0 });
    }
    return bounds;
}

QPolygonF pixelsOf(const MapViewport& viewport, const std::vector<GeoPoint>& coordinates)
{
    QPolygonF polygon;
    polygon.reserve(static_cast<qsizetype>(coordinates.size()));
    for (const GeoPoint& coordinate : coordinates) {
        const PixelPoint pixel = viewport.pixelFor(coordinate);
        polygon << QPointF(pixel.x, pixel.y);
    }
    return polygon;
}

bool segmentMeetsRect(QPointF a, QPointF b, const QRectF& rect)
{
    return segmentMeetsRectangle(a.x(), a.y(), b.x(), b.y(), rect.left(), rect.right(), rect.top(), rect.bottom());
}

} // namespace

ZoneLayer::ZoneLayer(QObject* parent)
    : MapLayer(parent)
{
}

ZoneLayer::~ZoneLayer() = default;

void ZoneLayer::setAreas(std::vector<Area> areas)
{
    m_areas = std::move(areas);
    m_areaBounds.clear();
    for (const Area& area : m_areas)
        m_areaBounds.push_back(boundsOf(area.outline));
    emit changed();
}

void ZoneLayer::setAreaParts(AreaParts parts)
{
    m_areaParts = parts;
    emit changed();
}

void ZoneLayer::setKeepClear(std::vector<std::vector<GeoPoint>> lines)
{
    m_keepClear = std::move(lines);
    emit changed();
}

void ZoneLayer::setStretches(std::vector<Stretch> stretches)
{
    m_stretches = std::move(stretches);
    emit changed();
}

void ZoneLayer::paint(QPainter& painter, const MapViewport& viewport)
{
    painter.setRenderHint(QPainter::Antialiasing, true);
    const MapRect shown = viewport.mapRectWithMargin(stretchWidth);
    const QRectF view(0, 0, viewport.width(), viewport.height());
    std::vector<QPolygonF> outlines(m_areas.size());
    for (std::size_t i = 0; i < m_areas.size(); ++i) {
        if (!m_areaBounds[i].intersects(shown))
            continue;
        outlines[i] = pixelsOf(viewport, m_areas[i].outline);
        if (m_areaParts == AreaParts::Labels)
            continue;
        painter.setPen(QPen(qColor(m_areas[i].stroke), 1.5));
        painter.setBrush(qColor(m_areas[i].fill));
        painter.drawPolygon(outlines[i]);
    }

    // Each label inside its area: under the highest of its points in view (the track
    // mostly crosses an area's middle, and an outline's top is where the eye looks for
    // its name), else over the lowest, else in the middle of the part in view, else
    // just outside its top or bottom; the first place that covers neither another
    // label nor a line to keep clear. A label
    // that would cover another wherever it goes is left out rather than made
    // unreadable.
    const QFontMetricsF metrics(painter.font());
    std::vector<QPolygonF> keepClear;
    for (const auto& line : m_keepClear)
        keepClear.push_back(pixelsOf(viewport, line));
    const auto crossesKeepClear = [&](const QRectF& box) {
        for (const QPolygonF& line : keepClear)
            for (qsizetype j = 0; j + 1 < line.size(); ++j)
                if (segmentMeetsRect(line[j], line[j + 1], box))
                    return true;
        return false;
    };
    m_lastLabelBoxes.assign(m_areas.size(), QRectF());
    std::vector<QRectF> taken;
    for (std::size_t i = 0; i < m_areas.size(); ++i) {
        if (m_areaParts == AreaParts::Outlines || outlines[i].isEmpty() || m_areas[i].label.empty())
            continue;
        const QRectF part = outlines[i].boundingRect().intersected(view);
        if (part.isEmpty())
            continue;
        std::optional<QPointF> top, bottom;
        for (const QPointF& point : outlines[i]) {
            if (!view.contains(point))
                continue;
            if (!top || point.y() < top->y())
                top = point;
            if (!bottom || point.y() > bottom->y())
                bottom = point;
        }
        const QString text = QString::fromStdString(m_areas[i].label);
        const QRectF size = metrics.boundingRect(QRectF(0, 0, 400, 200), Qt::AlignCenter, text);
        const QSizeF boxSize(size.width() + 8, size.height() + 4);
        const auto placed = [&](QPointF centre) {
            QRectF box(QPointF(), boxSize);
            box.moveCenter(centre);
            box.moveLeft(std::clamp(box.left(), part.left() + 2, std::max(part.left() + 2, part.right() - box.width() - 2)));
            box.moveLeft(std::clamp(box.left(), 2.0, std::max(2.0, view.right() - box.width() - 2)));
            box.moveTop(std::clamp(box.top(), 2.0, std::max(2.0, view.bottom() - box.height() - 2)));
            return box;
        };
        std::vector<QRectF> places;
        if (top)
            places.push_back(placed(*top + QPointF(0, 4 + boxSize.height() / 2)));
        if (bottom)
            places.push_back(placed(*bottom - QPointF(0, 4 + boxSize.height() / 2)));
        places.push_back(placed(part.center()));
        // Then just outside, over its top or under its bottom: still beside its edge.
        if (top)
            places.push_back(placed(*top - QPointF(0, 2 + boxSize.height() / 2)));
        if (bottom)
            places.push_back(placed(*bottom + QPointF(0, 2 + boxSize.height() / 2)));
        const auto free = [&](const QRectF& box) {
            return std::none_of(taken.begin(), taken.end(), [&](const QRectF& other) { return other.intersects(box); });
        };
        auto chosen = std::find_if(places.begin(), places.end(), [&](const QRectF& box) { return free(box) && !crossesKeepClear(box); });
        if (chosen == places.end())
            chosen = std::find_if(places.begin(), places.end(), free);
        if (chosen == places.end())
            continue;
        const QRectF box = *chosen;
        taken.push_back(box);
        m_lastLabelBoxes[i] = box;
        QColor frame = qColor(m_areas[i].stroke);
        painter.setPen(QPen(frame, 1));
        // Translucent: a track under a label still shows through it.
        painter.setBrush(QColor(255, 255, 255, 175));
        painter.drawRoundedRect(box, 3, 3);
        painter.setPen(QColor(25, 25, 25));
        painter.drawText(box, Qt::AlignCenter, text);
    }

    for (const Stretch& stretch : m_stretches) {
        // A thermal's circles fall on a few pixels of a whole flight's view: points within
        // a pixel of the last one kept add nothing but the wide pen's cost.
        const QPolygonF all = pixelsOf(viewport, stretch.line);
        QPolygonF line;
        line.reserve(all.size());
        for (qsizetype j = 0; j < all.size(); ++j) {
            const bool last = j + 1 == all.size();
            if (line.isEmpty() || last || std::abs(all[j].x() - line.back().x()) >= 1 || std::abs(all[j].y() - line.back().y()) >= 1)
                line << all[j];
        }
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(255, 255, 255, 230), stretchWidth + 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolyline(line);
        painter.setPen(QPen(qColor(stretch.color), stretchWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolyline(line);
    }
    for (const Stretch& stretch : m_stretches) {
        if (!stretch.mark)
            continue;
        const PixelPoint pixel = viewport.pixelFor(*stretch.mark);
        const QPointF at(pixel.x, pixel.y);
        // A diamond: it reads as a place apart from the round track and markers.
        const double r = 7;
        const QPolygonF diamond { at + QPointF(0, -r), at + QPointF(r, 0), at + QPointF(0, r), at + QPointF(-r, 0) };
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(qColor(stretch.color));
        painter.drawPolygon(diamond);
        if (stretch.markLabel.empty())
            continue;
        const QString text = QString::fromStdString(stretch.markLabel);
        QRectF box(at.x() + r + 4, at.y() - metrics.height() / 2 - 1, metrics.horizontalAdvance(text) + 6, metrics.height() + 2);
        if (box.right() > view.right())
            box.moveRight(at.x() - r - 4);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 215));
        painter.drawRoundedRect(box, 2, 2);
        painter.setPen(qColor(stretch.color).darker(140));
        painter.drawText(box, Qt::AlignCenter, text);
    }
}

MapRect ZoneLayer::boundingMapRect() const
{
    MapRect bounds = MapRect::null();
    for (const MapRect& area : m_areaBounds)
        bounds = bounds.united(area);
    for (const Stretch& stretch : m_stretches)
        bounds = bounds.united(boundsOf(stretch.line));
    return bounds;
}

} // namespace corvex
