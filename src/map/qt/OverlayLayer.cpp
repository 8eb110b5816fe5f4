#include "map/qt/OverlayLayer.h"

#include "map/StrokeCoverage.h"
#include "map/qt/MapPainter.h"

#include <QPainter>
#include <QPointF>
#include <QThread>

#include <algorithm>
#include <future>
#include <unordered_set>

namespace corvex {

namespace {

QColor toQColor(const MapColor& color)
{
    return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
        static_cast<float>(color.blue), static_cast<float>(color.alpha));
}

} // namespace

OverlayLayer::OverlayLayer(QObject* parent)
    : MapLayer(parent)
{
}

OverlayLayer::~OverlayLayer() = default;

std::optional<std::size_t> OverlayLayer::indexOfOverlay(const MapOverlay& overlay) const
{
    const auto found = m_indexByOverlay.find(&overlay);
    if (found == m_indexByOverlay.end())
        return std::nullopt;
    return found->second;
}

void OverlayLayer::addOverlays(const MapOverlays& overlays)
{
    m_overlays.reserve(m_overlays.size() + overlays.size());
    for (const auto& overlay : overlays) {
        if (!overlay)
            continue;
        m_indexByOverlay.emplace(overlay.get(), m_overlays.size());
        m_overlays.push_back(overlay);
        m_styles.emplace_back();
    }
    contentChanged();
}

void OverlayLayer::removeOverlays(const MapOverlays& overlays)
{
    std::unordered_set<const MapOverlay*> removed;
    removed.reserve(overlays.size());
    for (const auto& overlay : overlays)
        removed.insert(overlay.get());
    MapOverlays kept;
    std::vector<std::optional<MapOverlayStyle>> keptStyles;
    kept.reserve(m_overlays.size());
    keptStyles.reserve(m_overlays.size());
    for (std::size_t index = 0; index < m_overlays.size(); ++index) {
        if (removed.contains(m_overlays[index].get()))
            continue;
        kept.push_back(std::move(m_overlays[index]));
        keptStyles.push_back(std::move(m_styles[index]));
    }
    m_overlays = std::move(kept);
    m_styles = std::move(keptStyles);
    m_indexByOverlay.clear();
    m_indexByOverlay.reserve(m_overlays.size());
    for (std::size_t index = 0; index < m_overlays.size(); ++index)
        m_indexByOverlay.emplace(m_overlays[index].get(), index);
    contentChanged();
}

void OverlayLayer::removeAllOverlays()
{
    m_overlays.clear();
    m_styles.clear();
    m_indexByOverlay.clear();
    contentChanged();
}

void OverlayLayer::setStyleAt(StyleAt styleAt)
{
    m_styleAt = std::move(styleAt);
    restyle();
}

void OverlayLayer::restyle()
{
    std::fill(m_styles.begin(), m_styles.end(), std::nullopt);
    contentChanged();
}

void OverlayLayer::setWideLineStroking(WideLineStroking stroking)
{
    m_wideLineStroking = stroking;
    contentChanged();
}

bool OverlayLayer::coverageStrokes(double lineWidth, qreal devicePixelRatio) const
{
    return m_wideLineStroking == WideLineStroking::Coverage && StrokeCoverage::handlesWidth(lineWidth * devicePixelRatio);
}

void OverlayLayer::contentChanged()
{
    ++m_generation;
    emit changed();
}

const MapOverlayStyle& OverlayLayer::styleOf(std::size_t index)
{
    std::optional<MapOverlayStyle>& style = m_styles[index];
    if (!style)
        style = m_styleAt ? m_styleAt(index) : MapOverlayStyle {};
    return *style;
}

MapRect OverlayLayer::boundingMapRect() const
{
    MapRect bounds = MapRect::null();
    for (const auto& overlay : m_overlays)
        bounds = bounds.united(overlay->boundingMapRect());
    return bounds;
}

void OverlayLayer::paint(QPainter& painter, const MapViewport& viewport)
{
    m_lastDrawnOverlayCount = 0;
    const QSize size(static_cast<int>(viewport.width()), static_cast<int>(viewport.height()));
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const CacheKey key { viewport.visible(), size, ratio, m_generation };
    if (!m_overlayImageValid || !(key == m_overlayKey)) {
        if (!(m_overlayImageValid && scrollOverlays(key)))
            renderOverlays(key);
        m_overlayKey = key;
        m_overlayImageValid = true;
    }
    painter.drawImage(QPointF(0, 0), m_overlayImage);
}

void OverlayLayer::renderOverlays(const CacheKey& key)
{
    m_overlayImage = QImage(key.size * key.devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    m_overlayImage.setDevicePixelRatio(key.devicePixelRatio);
    m_overlayImage.fill(Qt::transparent);
    const QRect whole(QPoint(0, 0), key.size);
    const std::vector<std::size_t> meeting = cullOverlays(key.size, key.visible, whole);
    // Many overlays in view means a small scale, where a line's width beyond a pixel is
    // not worth its cost: thin lines take Qt's fast path, wide ones its general stroker,
    // several times slower. The choice holds for the strips a pan adds to this image.
    m_thinLines = meeting.size() > manyOverlays;
    // The styles are asked here, on the calling thread: the function behind them may
    // ask a window's object.
    std::vector<MapOverlayStyle> styles;
    styles.reserve(meeting.size());
    for (const std::size_t index : meeting)
        styles.push_back(styleOf(index));

    // Stroking is most of a full redraw, and it parallelises: the overlays are cut into
    // consecutive runs of about equal work (their point counts), one per core, each
    // painted into an image of its own, and the images are laid over one another in
    // order. Source-over is associative, so the result is what one painter drawing them
    // all in order would give. (Bands of the image would not do: a set's detail crowds
    // into a few places, and one band would get nearly all the work.)
    // Lines of a pixel or less take Qt's fast path, and so do those StrokeCoverage
    // draws: there the second image and its laying over cost more than the thread saves.
    const bool wideLines = !m_thinLines && std::any_of(styles.begin(), styles.end(), [&](const MapOverlayStyle& style) {
        const double width = style.lineWidth.value_or(defaultLineWidth);
        return width > 1.0 && !coverageStrokes(width, key.devicePixelRatio);
    });
    const std::size_t runs = !wideLines ? 1 : std::clamp<std::size_t>(
        std::min<std::size_t>(static_cast<std::size_t>(std::max(1, QThread::idealThreadCount())), maximumRuns), 1,
        std::max<std::size_t>(1, meeting.size() / minimumOverlaysPerRun));
    std::size_t totalPoints = 0;
    for (const std::size_t index : meeting)
        totalPoints += m_overlays[index]->points().size();
    std::vector<std::size_t> runStarts { 0 };
    std::size_t pointsSoFar = 0;
    for (std::size_t position = 0; position < meeting.size() && runStarts.size() < runs; ++position) {
        pointsSoFar += m_overlays[meeting[position]]->points().size();
        if (pointsSoFar * runs >= totalPoints * runStarts.size())
            runStarts.push_back(position + 1);
    }
    runStarts.push_back(meeting.size());

    const auto paintRun = [&](std::size_t run, QImage& image) {
        const std::size_t first = runStarts[run];
        const std::size_t end = runStarts[run + 1];
        const std::vector<std::size_t> candidates(meeting.begin() + static_cast<std::ptrdiff_t>(first),
            meeting.begin() + static_cast<std::ptrdiff_t>(end));
        const std::vector<MapOverlayStyle> runStyles(styles.begin() + static_cast<std::ptrdiff_t>(first),
            styles.begin() + static_cast<std::ptrdiff_t>(end));
        QPainter painter(&image);
        paintOverlays(image, painter, key.size, key.visible, candidates, runStyles, whole);
    };
    std::vector<QImage> layers;
    for (std::size_t run = 1; run + 1 < runStarts.size(); ++run) {
        layers.emplace_back(m_overlayImage.size(), QImage::Format_ARGB32_Premultiplied);
        layers.back().setDevicePixelRatio(key.devicePixelRatio);
        layers.back().fill(Qt::transparent);
    }
    std::vector<std::future<void>> workers;
    for (std::size_t run = 1; run + 1 < runStarts.size(); ++run)
        workers.push_back(std::async(std::launch::async, paintRun, run, std::ref(layers[run - 1])));
    paintRun(0, m_overlayImage);
    for (std::future<void>& worker : workers)
        worker.get();
    if (!layers.empty()) {
        QPainter painter(&m_overlayImage);
        for (const QImage& layer : layers)
            painter.drawImage(QPointF(0, 0), layer);
    }
    m_lastDrawnOverlayCount = meeting.size();
}

bool OverlayLayer::scrollOverlays(const CacheKey& key)
{
    const CacheKey& old = m_overlayKey;
    if (old.size != key.size || old.devicePixelRatio != key.devicePixelRatio || old.generation != key.generation
        || old.visible.width != key.visible.width || old.visible.height != key.visible.height)
        return false;
    // Only a move by whole device pixels keeps the old pixels exactly where new ones
    // would fall.
    const double scaleX = key.size.width() / key.visible.width * key.devicePixelRatio;
    const double scaleY = key.size.height() / key.visible.height * key.devicePixelRatio;
    const double shiftX = (old.visible.x - key.visible.x) * scaleX;
    const double shiftY = (old.visible.y - key.visible.y) * scaleY;
    const double wholeX = std::round(shiftX);
    const double wholeY = std::round(shiftY);
    const QSize deviceSize = m_overlayImage.size();
    if (std::abs(shiftX - wholeX) > 1e-3 || std::abs(shiftY - wholeY) > 1e-3 || std::abs(wholeX) >= deviceSize.width()
        || std::abs(wholeY) >= deviceSize.height())
        return false;
    if (key.devicePixelRatio != 1.0
        && (std::fmod(wholeX, key.devicePixelRatio) != 0 || std::fmod(wholeY, key.devicePixelRatio) != 0))
        return false;

    const int dx = static_cast<int>(wholeX / key.devicePixelRatio);
    const int dy = static_cast<int>(wholeY / key.devicePixelRatio);
    m_spareImage = QImage(m_overlayImage.size(), QImage::Format_ARGB32_Premultiplied);
    m_spareImage.setDevicePixelRatio(key.devicePixelRatio);
    m_spareImage.fill(Qt::transparent);
    QPainter painter(&m_spareImage);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(dx, dy), m_overlayImage);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    // The strips the move uncovered: a column at the left or right, a row at the top or
    // bottom.
    const int width = key.size.width();
    const int height = key.size.height();
    std::size_t drawn = 0;
    if (dx != 0) {
        const QRect column = dx > 0 ? QRect(0, 0, dx, height) : QRect(width + dx, 0, -dx, height);
        drawn += paintOverlays(m_spareImage, painter, key.size, key.visible, column);
    }
    if (dy != 0) {
        const QRect row = dy > 0 ? QRect(0, 0, width, dy) : QRect(0, height + dy, width, -dy);
        drawn += paintOverlays(m_spareImage, painter, key.size, key.visible, row);
    }
    painter.end();
    std::swap(m_overlayImage, m_spareImage);
    m_lastDrawnOverlayCount = drawn;
    return true;
}

MapRect OverlayLayer::cullingRect(QSize size, const MapRect& visible, const QRect& area)
{
    const double unitsPerPixelX = visible.width / size.width();
    const double unitsPerPixelY = visible.height / size.height();
    // A stroke reaches half its width (and a join a little more) beyond the outline, so an
    // overlay just outside the area may still show its edge.
    constexpr double marginPixels = 4;
    return { visible.x + (area.x() - marginPixels) * unitsPerPixelX,
        visible.y + (area.y() - marginPixels) * unitsPerPixelY, (area.width() + 2 * marginPixels) * unitsPerPixelX,
        (area.height() + 2 * marginPixels) * unitsPerPixelY };
}

std::vector<std::size_t> OverlayLayer::cullOverlays(QSize size, const MapRect& visible, const QRect& area) const
{
    const MapRect culling = cullingRect(size, visible, area);
    std::vector<std::size_t> meeting;
    for (std::size_t index = 0; index < m_overlays.size(); ++index) {
        if (m_overlays[index]->boundingMapRect().intersects(culling))
            meeting.push_back(index);
    }
    return meeting;
}

std::size_t OverlayLayer::paintOverlays(QImage& image, QPainter& painter, QSize size, const MapRect& visible, const QRect& area)
{
    const std::vector<std::size_t> meeting = cullOverlays(size, visible, area);
    std::vector<MapOverlayStyle> styles;
    styles.reserve(meeting.size());
    for (const std::size_t index : meeting)
        styles.push_back(styleOf(index));
    paintOverlays(image, painter, size, visible, meeting, styles, area);
    return meeting.size();
}

void OverlayLayer::paintOverlays(QImage& image, QPainter& painter, QSize size, const MapRect& visible,
    const std::vector<std::size_t>& candidates, const std::vector<MapOverlayStyle>& styles, const QRect& area) const
{
    painter.save();
    painter.setClipRect(area);
    const MapRect culling = cullingRect(size, visible, area);
    const qreal ratio = image.devicePixelRatio();
    // The area in the image's device pixels, for the strokes drawn without the painter.
    const QRect deviceArea = QRectF(area.x() * ratio, area.y() * ratio, area.width() * ratio, area.height() * ratio)
                                 .toAlignedRect()
                                 .intersected(image.rect());
    // One mask a thread, kept between paints: clearing a new one would cost as much as
    // the strokes drawn into it.
    thread_local StrokeCoverage coverage(0, 0, 0, 0);
    bool coverageReady = false;
    std::vector<QPointF> points;
    std::vector<MapPoint> devicePoints;
    for (std::size_t candidate = 0; candidate < candidates.size(); ++candidate) {
        const MapOverlay& overlay = *m_overlays[candidates[candidate]];
        if (!overlay.boundingMapRect().intersects(culling))
            continue;
        const MapOverlayStyle& style = styles[candidate];
        const double width = m_thinLines ? std::min(style.lineWidth.value_or(defaultLineWidth), 1.0)
                                         : style.lineWidth.value_or(defaultLineWidth);
        const QColor strokeColor = toQColor(style.strokeColor.value_or(defaultStrokeColor));
        QPen pen(strokeColor, width);
        pen.setJoinStyle(Qt::MiterJoin);
        pen.setCapStyle(Qt::FlatCap);

        mapPointsToPixels(overlay.points(), size, visible, points);
        int count = static_cast<int>(points.size());
        const bool polygon = overlay.kind() == MapOverlay::Kind::Polygon;
        const bool ownStroke = count >= (polygon ? 3 : 2) && coverageStrokes(width, ratio);
        if (ownStroke) {
            // What the stroke leaves out the fill may leave out too: its edge moves only
            // under the middle of the stroke.
            devicePoints.clear();
            for (const QPointF& point : points)
                devicePoints.push_back({ point.x() * ratio, point.y() * ratio });
            const std::vector<std::size_t> kept = StrokeCoverage::simplify(devicePoints);
            for (std::size_t index = 0; index < kept.size(); ++index) {
                points[index] = points[kept[index]];
                devicePoints[index] = devicePoints[kept[index]];
            }
            points.resize(kept.size());
            devicePoints.resize(kept.size());
            count = static_cast<int>(points.size());
        }
        if (polygon && style.fillColor && count >= 3) {
            // The fill's edge lies under the stroke, so it needs no antialiasing, which
            // would cost several times the fill itself.
            painter.setRenderHint(QPainter::Antialiasing, false);
            painter.setPen(Qt::NoPen);
            painter.setBrush(toQColor(*style.fillColor));
            painter.drawPolygon(points.data(), count, Qt::WindingFill);
        }
        if (ownStroke) {
            if (!coverageReady) {
                coverage.reset(deviceArea.x(), deviceArea.y(), deviceArea.width(), deviceArea.height());
                coverageReady = true;
            }
            coverage.addPolyline(devicePoints, width * ratio,
                polygon ? StrokeCoverage::Ends::Closed : StrokeCoverage::Ends::Open);
            // The painter draws straight into the image's bits, so the two may take
            // turns on it.
            coverage.blendInto(reinterpret_cast<std::uint32_t*>(image.bits()), static_cast<std::size_t>(image.bytesPerLine()),
                qPremultiply(strokeColor.rgba()));
            continue;
        }
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(pen);
        if (polygon) {
            painter.setBrush(Qt::NoBrush);
            painter.drawPolygon(points.data(), count);
        } else if (count == 1) {
            painter.drawPoint(points.front());
        } else {
            painter.drawPolyline(points.data(), count);
        }
    }
    painter.restore();
}

} // namespace corvex
