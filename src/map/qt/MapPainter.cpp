#include "map/qt/MapPainter.h"

#include "map/qt/MapBaseLayer.h"
#include "map/qt/OfflineGeography.h"

#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QThread>

#include <algorithm>
#include <array>
#include <cmath>
#include <future>
#include <numbers>
#include <vector>

namespace corvex {

namespace {

constexpr double earthCircumferenceMetres = 40075016.686;

QColor toQColor(const MapColor& color)
{
    return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
        static_cast<float>(color.blue), static_cast<float>(color.alpha));
}

void paintScaleBar(QPainter& painter, QSize size, const MapRect& visible)
{
    const double centreLatitude = coordinateForMapPoint({ 0, visible.y + visible.height / 2 }).latitude;
    const double metresPerPixel = visible.width / mapWorldSize * earthCircumferenceMetres
        * std::cos(centreLatitude * std::numbers::pi / 180.0) / size.width();
    if (!(metresPerPixel > 0))
        return;
    const double metres = scaleBarMetres(metresPerPixel, std::min(120.0, size.width() / 3.0));
    if (metres <= 0)
        return;
    const double length = metres / metresPerPixel;
    const QString label = metres >= 1000 ? QStringLiteral("%1 km").arg(metres / 1000) : QStringLiteral("%1 m").arg(metres);

    const QPointF origin(10, size.height() - 12);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetricsF metrics(painter.font());
    painter.fillRect(QRectF(origin.x() - 4, origin.y() - metrics.height() - 6, std::max(length, metrics.horizontalAdvance(label)) + 8,
                         metrics.height() + 12),
        QColor(255, 255, 255, 170));
    painter.setPen(QPen(QColor(40, 40, 40), 2));
    painter.drawLine(origin, origin + QPointF(length, 0));
    painter.drawLine(origin, origin + QPointF(0, -5));
    painter.drawLine(origin + QPointF(length, 0), origin + QPointF(length, -5));
    painter.drawText(origin + QPointF(2, -6), label);
    painter.restore();
}

// The tile server's licence asks for its text wherever its tiles are shown.
void paintAttribution(QPainter& painter, QSize size, const QString& text)
{
    if (text.isEmpty())
        return;
    painter.save();
    QFont font = painter.font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    painter.setFont(font);
    const QFontMetricsF metrics(font);
    const double width = metrics.horizontalAdvance(text) + 8;
    const QRectF box(size.width() - width, size.height() - metrics.height() - 4, width, metrics.height() + 4);
    painter.fillRect(box, QColor(255, 255, 255, 190));
    painter.setPen(QColor(50, 50, 50));
    painter.drawText(box, Qt::AlignCenter, text);
    painter.restore();
}

} // namespace

void mapPointsToPixels(const std::vector<MapPoint>& points, QSize size, const MapRect& visible, std::vector<QPointF>& out)
{
    // Two multiplications and two subtractions per point, which a QTransform per point
    // would not beat.
    const double scaleX = size.width() / visible.width;
    const double scaleY = size.height() / visible.height;
    constexpr double minimumStep = 0.5;
    out.clear();
    for (std::size_t index = 0; index < points.size(); ++index) {
        const QPointF point((points[index].x - visible.x) * scaleX, (points[index].y - visible.y) * scaleY);
        if (!out.empty() && index + 1 < points.size()) {
            const QPointF& last = out.back();
            if (std::abs(point.x() - last.x()) < minimumStep && std::abs(point.y() - last.y()) < minimumStep)
                continue;
        }
        out.push_back(point);
    }
}

double scaleBarMetres(double metresPerPixel, double maximumPixels)
{
    const double maximumMetres = metresPerPixel * maximumPixels;
    if (!(maximumMetres >= 1))
        return 0;
    const double power = std::pow(10.0, std::floor(std::log10(maximumMetres)));
    for (const double factor : { 5.0, 2.0, 1.0 }) {
        if (factor * power <= maximumMetres)
            return factor * power;
    }
    return power;
}

double graticuleStep(double degreesPerPixel, double minimumPixels)
{
    for (const double step : { 1.0, 5.0, 10.0 }) {
        if (step / degreesPerPixel >= minimumPixels)
            return step;
    }
    return 30.0;
}

void MapPainter::invalidateOverlays()
{
    ++m_generation;
}

void MapPainter::paint(QPainter& painter, QSize size, const MapRect& visible, const MapOverlays& overlays,
    const StyleAt& styleAt, MapBaseLayer* baseLayer)
{
    m_lastDrawnOverlayCount = 0;
    if (size.isEmpty() || visible.isNull() || !(visible.width > 0) || !(visible.height > 0))
        return;

    painter.save();
    painter.setClipRect(QRect(QPoint(0, 0), size));
    paintOfflineGeography(painter, size, visible);
    const bool tilesShown = baseLayer && baseLayer->paint(painter, size, visible);

    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const CacheKey key { visible, size, overlays.data(), overlays.size(), ratio, m_generation };
    if (!m_overlayImageValid || !(key == m_overlayKey)) {
        if (!(m_overlayImageValid && scrollOverlays(key, overlays, styleAt)))
            renderOverlays(key, overlays, styleAt);
        m_overlayKey = key;
        m_overlayImageValid = true;
    }
    painter.drawImage(QPointF(0, 0), m_overlayImage);

    paintScaleBar(painter, size, visible);
    if (tilesShown)
        paintAttribution(painter, size, baseLayer->attribution());
    painter.restore();
}

void MapPainter::renderOverlays(const CacheKey& key, const MapOverlays& overlays, const StyleAt& styleAt)
{
    m_overlayImage = QImage(key.size * key.devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    m_overlayImage.setDevicePixelRatio(key.devicePixelRatio);
    m_overlayImage.fill(Qt::transparent);
    const QRect whole(QPoint(0, 0), key.size);
    const std::vector<std::size_t> meeting = cullOverlays(key.size, key.visible, overlays, whole);
    // Many overlays in view means a small scale, where a line's width beyond a pixel is
    // not worth its cost: thin lines take Qt's fast path, wide ones its general stroker,
    // several times slower. The choice holds for the strips a pan adds to this image.
    m_thinLines = meeting.size() > manyOverlays;
    // The styles are asked here, on the calling thread: the delegate behind styleAt may
    // be a window's object.
    std::vector<MapOverlayStyle> styles;
    styles.reserve(meeting.size());
    for (const std::size_t index : meeting)
        styles.push_back(styleAt ? styleAt(index) : MapOverlayStyle {});

    // Stroking is most of a full redraw, and it parallelises: the overlays are cut into
    // consecutive runs of about equal work (their point counts), one per core, each
    // painted into an image of its own, and the images are laid over one another in
    // order. Source-over is associative, so the result is what one painter drawing them
    // all in order would give. (Bands of the image would not do: a set's detail crowds
    // into a few places, and one band would get nearly all the work.)
    // Lines of a pixel or less take Qt's fast path, and there the second image and its
    // laying over cost more than the thread saves.
    const bool wideLines = !m_thinLines && std::any_of(styles.begin(), styles.end(), [](const MapOverlayStyle& style) {
        return style.lineWidth.value_or(defaultLineWidth) > 1.0;
    });
    const std::size_t runs = !wideLines ? 1 : std::clamp<std::size_t>(
        std::min<std::size_t>(static_cast<std::size_t>(std::max(1, QThread::idealThreadCount())), maximumRuns), 1,
        std::max<std::size_t>(1, meeting.size() / minimumOverlaysPerRun));
    std::size_t totalPoints = 0;
    for (const std::size_t index : meeting)
        totalPoints += overlays[index]->points().size();
    std::vector<std::size_t> runStarts { 0 };
    std::size_t pointsSoFar = 0;
    for (std::size_t position = 0; position < meeting.size() && runStarts.size() < runs; ++position) {
        pointsSoFar += overlays[meeting[position]]->points().size();
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
        paintOverlays(painter, key.size, key.visible, overlays, candidates, runStyles, whole);
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

bool MapPainter::scrollOverlays(const CacheKey& key, const MapOverlays& overlays, const StyleAt& styleAt)
{
    const CacheKey& old = m_overlayKey;
    if (old.size != key.size || old.overlayStorage != key.overlayStorage || old.overlayCount != key.overlayCount
        || old.devicePixelRatio != key.devicePixelRatio || old.generation != key.generation
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
        drawn += paintOverlays(painter, key.size, key.visible, overlays, styleAt, column);
    }
    if (dy != 0) {
        const QRect row = dy > 0 ? QRect(0, 0, width, dy) : QRect(0, height + dy, width, -dy);
        drawn += paintOverlays(painter, key.size, key.visible, overlays, styleAt, row);
    }
    painter.end();
    std::swap(m_overlayImage, m_spareImage);
    m_lastDrawnOverlayCount = drawn;
    return true;
}

MapRect MapPainter::cullingRect(QSize size, const MapRect& visible, const QRect& area)
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

std::vector<std::size_t> MapPainter::cullOverlays(QSize size, const MapRect& visible, const MapOverlays& overlays,
    const QRect& area) const
{
    const MapRect culling = cullingRect(size, visible, area);
    std::vector<std::size_t> meeting;
    for (std::size_t index = 0; index < overlays.size(); ++index) {
        const MapOverlay* overlay = overlays[index].get();
        if (overlay && overlay->boundingMapRect().intersects(culling))
            meeting.push_back(index);
    }
    return meeting;
}

std::size_t MapPainter::paintOverlays(QPainter& painter, QSize size, const MapRect& visible, const MapOverlays& overlays,
    const StyleAt& styleAt, const QRect& area) const
{
    const std::vector<std::size_t> meeting = cullOverlays(size, visible, overlays, area);
    std::vector<MapOverlayStyle> styles;
    styles.reserve(meeting.size());
    for (const std::size_t index : meeting)
        styles.push_back(styleAt ? styleAt(index) : MapOverlayStyle {});
    paintOverlays(painter, size, visible, overlays, meeting, styles, area);
    return meeting.size();
}

void MapPainter::paintOverlays(QPainter& painter, QSize size, const MapRect& visible, const MapOverlays& overlays,
    const std::vector<std::size_t>& candidates, const std::vector<MapOverlayStyle>& styles, const QRect& area) const
{
    painter.save();
    painter.setClipRect(area);
    const MapRect culling = cullingRect(size, visible, area);
    std::vector<QPointF> points;
    for (std::size_t candidate = 0; candidate < candidates.size(); ++candidate) {
        const MapOverlay& overlay = *overlays[candidates[candidate]];
        if (!overlay.boundingMapRect().intersects(culling))
            continue;
        const MapOverlayStyle& style = styles[candidate];
        const double width = style.lineWidth.value_or(defaultLineWidth);
        QPen pen(toQColor(style.strokeColor.value_or(defaultStrokeColor)), m_thinLines ? std::min(width, 1.0) : width);
        pen.setJoinStyle(Qt::MiterJoin);
        pen.setCapStyle(Qt::FlatCap);

        mapPointsToPixels(overlay.points(), size, visible, points);
        const int count = static_cast<int>(points.size());
        if (overlay.kind() == MapOverlay::Kind::Polygon) {
            // The fill's edge lies under the stroke, so it needs no antialiasing, which
            // would cost several times the fill itself.
            if (style.fillColor && count >= 3) {
                painter.setRenderHint(QPainter::Antialiasing, false);
                painter.setPen(Qt::NoPen);
                painter.setBrush(toQColor(*style.fillColor));
                painter.drawPolygon(points.data(), count, Qt::WindingFill);
            }
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            painter.drawPolygon(points.data(), count);
        } else {
            painter.setRenderHint(QPainter::Antialiasing, true);
            painter.setPen(pen);
            if (count == 1)
                painter.drawPoint(points.front());
            else
                painter.drawPolyline(points.data(), count);
        }
    }
    painter.restore();
}

} // namespace corvex
