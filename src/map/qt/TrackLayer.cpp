#include "map/qt/TrackLayer.h"

#include <QPainter>
#include <QPen>

#include <algorithm>

namespace corvex {

TrackLayer::TrackLayer(QObject* parent)
    : MapLayer(parent)
{
}

TrackLayer::~TrackLayer() = default;

void TrackLayer::setTrack(std::shared_ptr<const TrackPoints> track)
{
    m_track = std::move(track);
    m_points = m_track ? trackMapPoints(*m_track) : std::vector<MapPoint> {};
    m_bounds = corvex::boundingMapRect(m_points);
    m_thinnedValid = false;
    m_thinned = {};
    assignBuckets();
    emit changed();
}

void TrackLayer::setColoring(TrackColoring coloring)
{
    if (coloring == m_colorScale.coloring())
        return;
    m_colorScale = TrackColorScale(coloring, {});
    assignBuckets();
    emit changed();
}

void TrackLayer::assignBuckets()
{
    static const TrackPoints none;
    const TrackPoints& points = m_track ? *m_track : none;
    m_colorScale = TrackColorScale(m_colorScale.coloring(), points);
    m_buckets.resize(points.size());
    for (std::size_t index = 0; index < points.size(); ++index)
        m_buckets[index] = m_colorScale.bucketOf(points[index]);
}

void TrackLayer::setSingleColour(std::optional<QColor> colour)
{
    m_singleColour = std::move(colour);
    emit changed();
}

void TrackLayer::setLineWidth(double width)
{
    if (!(width > 0) || width == m_lineWidth)
        return;
    m_lineWidth = width;
    emit changed();
}

void TrackLayer::prepareScale(double scaleX, double scaleY)
{
    if (m_thinnedValid && scaleX == m_scaleX && scaleY == m_scaleY)
        return;
    m_thinned = thinTrack(m_points, scaleX, scaleY);
    m_scaleX = scaleX;
    m_scaleY = scaleY;
    m_thinnedValid = true;
}

void TrackLayer::paint(QPainter& painter, const MapViewport& viewport)
{
    m_lastPolylineCount = 0;
    if (m_points.empty())
        return;
    prepareScale(viewport.scaleX(), viewport.scaleY());

    std::vector<QPen> pens;
    pens.reserve(m_colorScale.bucketCount());
    for (std::size_t bucket = 0; bucket < m_colorScale.bucketCount(); ++bucket) {
        const MapColor color = m_colorScale.colorOfBucket(bucket);
        pens.emplace_back(m_singleColour ? *m_singleColour
                                         : QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
                                             static_cast<float>(color.blue)),
            m_lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(Qt::NoBrush);

    // The kept points are in pixels of the whole plane; the view starts at its origin
    // times the scale. A segment is drawn when its box meets the view grown by the line's
    // width.
    const double originX = viewport.visible().x * m_scaleX;
    const double originY = viewport.visible().y * m_scaleY;
    const double margin = m_lineWidth + 1;
    const double left = originX - margin;
    const double top = originY - margin;
    const double right = originX + viewport.width() + margin;
    const double bottom = originY + viewport.height() + margin;
    const std::vector<PixelPoint>& pixels = m_thinned.pixels;
    const std::vector<std::uint32_t>& indices = m_thinned.indices;
    const auto place = [&](std::size_t kept) { return QPointF(pixels[kept].x - originX, pixels[kept].y - originY); };

    if (pixels.size() == 1) {
        const PixelPoint& only = pixels.front();
        if (only.x >= left && only.x <= right && only.y >= top && only.y <= bottom) {
            painter.setPen(pens[m_buckets[indices.front()]]);
            painter.drawPoint(place(0));
            m_lastPolylineCount = 1;
        }
        return;
    }

    // A segment takes the colour of the fix it starts from; a run of segments of one
    // colour is one polyline, the next run starting where it ended.
    std::uint8_t runBucket = 0;
    const auto flush = [&] {
        if (m_polyline.size() >= 2) {
            painter.setPen(pens[runBucket]);
            painter.drawPolyline(m_polyline.data(), static_cast<int>(m_polyline.size()));
            ++m_lastPolylineCount;
        }
        m_polyline.clear();
    };
    m_polyline.clear();
    for (std::size_t kept = 1; kept < pixels.size(); ++kept) {
        const PixelPoint& a = pixels[kept - 1];
        const PixelPoint& b = pixels[kept];
        const bool inView = std::max(a.x, b.x) >= left && std::min(a.x, b.x) <= right && std::max(a.y, b.y) >= top
            && std::min(a.y, b.y) <= bottom;
        if (!inView) {
            flush();
            continue;
        }
        // One colour: the whole line in view is one run.
        const std::uint8_t bucket = m_singleColour ? 0 : m_buckets[indices[kept - 1]];
        if (!m_polyline.empty() && bucket != runBucket)
            flush();
        if (m_polyline.empty()) {
            runBucket = bucket;
            m_polyline.push_back(place(kept - 1));
        }
        m_polyline.push_back(place(kept));
    }
    flush();
}

} // namespace corvex
