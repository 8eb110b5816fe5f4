#include "map/qt/GliderLayer.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPen>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

// The arrow, pointing north (up) before it is turned to the heading.
constexpr QPointF arrowShape[] = { { 0, -11 }, { 7, 8 }, { 0, 4 }, { -7, 8 } };
// The trail is drawn in a few pieces, oldest first, each wider and more opaque.
constexpr int trailPieces = 4;
constexpr double trailWidest = 3.5;
// What may still show a marker or its label beyond the view's edge.
constexpr double markerReach = 120.0;

// The trail reaches a couple of kilometres behind the marker at most: a glider out of
// view by more than the reach is not drawn at all.
bool around(MapPoint point, const MapRect& rect)
{
    return point.x >= rect.x && point.x <= rect.x + rect.width && point.y >= rect.y && point.y <= rect.y + rect.height;
}

} // namespace

GliderLayer::GliderLayer(QObject* parent)
    : MapLayer(parent)
{
}

GliderLayer::~GliderLayer() = default;

void GliderLayer::setGliders(std::vector<Glider> gliders)
{
    m_gliders.clear();
    m_bounds = MapRect::null();
    for (Glider& glider : gliders) {
        Entry entry;
        if (glider.track)
            entry.points = trackMapPoints(*glider.track);
        m_bounds = m_bounds.united(corvex::boundingMapRect(entry.points));
        entry.glider = std::move(glider);
        m_gliders.push_back(std::move(entry));
    }
    emit changed();
}

void GliderLayer::setTime(double time)
{
    if (time == m_time)
        return;
    m_time = time;
    emit changed();
}

std::optional<GliderState> GliderLayer::gliderState(std::size_t glider) const
{
    if (glider >= m_gliders.size() || !m_gliders[glider].glider.track)
        return std::nullopt;
    const Entry& entry = m_gliders[glider];
    return gliderStateAt(*entry.glider.track, m_time + entry.glider.timeShift);
}

std::optional<MapPoint> GliderLayer::mapPointAt(const Entry& entry, const GliderState& state, double time) const
{
    // Between the two fixes' unwrapped points, so that the marker sits on the drawn line
    // even beyond ±180°.
    const TrackPoints& track = *entry.glider.track;
    const std::size_t index = state.fixIndex;
    if (index >= entry.points.size())
        return std::nullopt;
    if (index + 1 >= track.size())
        return entry.points[index];
    const double span = static_cast<double>(track[index + 1].time - track[index].time);
    const double f = span > 0 ? std::clamp((time - static_cast<double>(track[index].time)) / span, 0.0, 1.0) : 0.0;
    const MapPoint a = entry.points[index];
    const MapPoint b = entry.points[index + 1];
    return MapPoint { a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f };
}

std::optional<MapPoint> GliderLayer::gliderMapPoint(std::size_t glider) const
{
    const std::optional<GliderState> state = gliderState(glider);
    if (!state)
        return std::nullopt;
    const Entry& entry = m_gliders[glider];
    return mapPointAt(entry, *state, m_time + entry.glider.timeShift);
}

void GliderLayer::paint(QPainter& painter, const MapViewport& viewport)
{
    const MapRect visible = viewport.mapRectWithMargin(markerReach);
    const MapRect& shown = viewport.visible();
    const double scaleX = viewport.scaleX();
    const double scaleY = viewport.scaleY();
    const bool labelled = m_gliders.size() > 1;
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QFontMetricsF metrics(painter.font());

    for (const Entry& entry : m_gliders) {
        if (!entry.glider.track || entry.glider.track->empty())
            continue;
        const TrackPoints& track = *entry.glider.track;
        const double time = m_time + entry.glider.timeShift;
        const std::optional<GliderState> state = gliderStateAt(track, time);
        if (!state)
            continue;
        const std::optional<MapPoint> here = mapPointAt(entry, *state, time);
        if (!here || !around(*here, visible))
            continue;
        const auto pixel = [&](MapPoint point) { return QPointF((point.x - shown.x) * scaleX, (point.y - shown.y) * scaleY); };
        // The trail: the fixes of the last trailSeconds, ending at the marker.
        const double tailTime = time - trailSeconds;
        const auto first = std::lower_bound(track.begin(), track.begin() + static_cast<std::ptrdiff_t>(state->fixIndex) + 1,
            tailTime, [](const TrackPoint& point, double t) { return static_cast<double>(point.time) < t; });
        const std::size_t firstIndex = static_cast<std::size_t>(first - track.begin());
        m_trail.clear();
        for (std::size_t i = firstIndex; i <= state->fixIndex; ++i)
            m_trail.push_back(pixel(entry.points[i]));
        m_trail.push_back(pixel(*here));
        if (m_trail.size() >= 2) {
            const std::size_t count = m_trail.size();
            QColor colour = entry.glider.colour;
            for (int piece = 0; piece < trailPieces; ++piece) {
                const std::size_t from = count * static_cast<std::size_t>(piece) / trailPieces;
                const std::size_t to = std::min(count - 1, count * static_cast<std::size_t>(piece + 1) / trailPieces);
                if (to <= from)
                    continue;
                const double share = (piece + 1.0) / trailPieces;
                colour.setAlphaF(static_cast<float>(0.25 + 0.75 * share));
                QPen pen(colour, 1.0 + (trailWidest - 1.0) * share);
                pen.setCapStyle(Qt::RoundCap);
                pen.setJoinStyle(Qt::RoundJoin);
                painter.setPen(pen);
                painter.drawPolyline(m_trail.data() + from, static_cast<int>(to - from + 1));
            }
        }

        // The arrow, turned clockwise from north to the heading.
        const QPointF at = pixel(*here);
        const double angle = geo::radians(state->headingDegrees);
        const double c = std::cos(angle);
        const double s = std::sin(angle);
        QPolygonF arrow;
        for (const QPointF& corner : arrowShape)
            arrow << at + QPointF(corner.x() * c - corner.y() * s, corner.x() * s + corner.y() * c);
        QColor fill = entry.glider.colour;
        fill.setAlpha(255);
        painter.setPen(QPen(QColor(255, 255, 255), 1.5));
        painter.setBrush(fill);
        painter.drawPolygon(arrow);

        if (labelled && !entry.glider.label.isEmpty()) {
            const QPointF baseline = at + QPointF(12, metrics.ascent() / 2 - 1);
            const QRectF box(baseline.x() - 2, baseline.y() - metrics.ascent() - 1,
                metrics.horizontalAdvance(entry.glider.label) + 4, metrics.height() + 2);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(255, 255, 255, 200));
            painter.drawRoundedRect(box, 2, 2);
            painter.setPen(entry.glider.colour.darker(150));
            painter.drawText(baseline, entry.glider.label);
        }
    }
}

} // namespace corvex
