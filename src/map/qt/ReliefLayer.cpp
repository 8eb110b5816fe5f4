#include "map/qt/ReliefLayer.h"

#include "terrain/Hillshade.h"
#include "terrain/TerrainTiles.h"

#include <QMetaObject>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace corvex {

namespace {

bool sameRect(const MapRect& a, const MapRect& b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

} // namespace

ReliefLayer::ReliefLayer(QObject* parent)
    : MapLayer(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(settleMilliseconds);
    connect(&m_settle, &QTimer::timeout, this, &ReliefLayer::startComputing);
}

ReliefLayer::~ReliefLayer()
{
    // A shading takes a fraction of a second; its answer is dropped with the layer.
    if (m_worker.joinable())
        m_worker.join();
}

void ReliefLayer::setTerrain(std::shared_ptr<const terrain::TerrainTiles> tiles)
{
    m_tiles = std::move(tiles);
    m_covered.reset();
    if (m_tiles) {
        if (const auto box = m_tiles->summary().covered) {
            const MapPoint northWest = mapPointForCoordinate({ box->north, box->west });
            const MapPoint southEast = mapPointForCoordinate({ box->south, box->east });
            m_covered = MapRect { northWest.x, northWest.y, southEast.x - northWest.x, southEast.y - northWest.y };
        }
    }
    ++m_generation;
    m_image = QImage();
    m_imageRect = MapRect::null();
    m_request.reset();
    m_settle.stop();
    emit changed();
}

bool ReliefLayer::wanted(const MapViewport& viewport) const
{
    return m_tiles && m_covered && viewport.isValid() && viewport.metresPerPixel() <= maximumMetresPerPixel
        && m_covered->intersects(viewport.visible());
}

bool ReliefLayer::isPreparedFor(const MapViewport& viewport) const
{
    return !m_image.isNull() && sameRect(m_imageRect, viewport.visible())
        && m_image.size() == QSize(static_cast<int>(std::lround(viewport.width())), static_cast<int>(std::lround(viewport.height())));
}

void ReliefLayer::paint(QPainter& painter, const MapViewport& viewport)
{
    if (!wanted(viewport))
        return;
    if (!m_image.isNull()) {
        const PixelPoint topLeft = viewport.pixelFor(MapPoint { m_imageRect.x, m_imageRect.y });
        const PixelPoint bottomRight = viewport.pixelFor(MapPoint { m_imageRect.x + m_imageRect.width, m_imageRect.y + m_imageRect.height });
        const QRectF target(topLeft.x, topLeft.y, bottomRight.x - topLeft.x, bottomRight.y - topLeft.y);
        if (isPreparedFor(viewport))
            painter.drawImage(QPointF(topLeft.x, topLeft.y), m_image);
        else
            painter.drawImage(target, m_image);
    }
    if (isPreparedFor(viewport))
        return;
    const Request request { viewport.visible(),
        QSize(static_cast<int>(std::lround(viewport.width())), static_cast<int>(std::lround(viewport.height()))) };
    if (m_request && sameRect(m_request->visible, request.visible) && m_request->size == request.size)
        return;
    // Another view: wait until it stays.
    m_request = request;
    m_settle.start();
}

void ReliefLayer::prepare(const MapViewport& viewport)
{
    if (!wanted(viewport))
        return;
    m_image = shade(*m_tiles, viewport);
    m_imageRect = viewport.visible();
    m_request.reset();
    m_settle.stop();
    ++m_computeCount;
}

void ReliefLayer::startComputing()
{
    if (!m_request || !m_tiles)
        return;
    if (m_computing) {
        // The answer under way triggers a paint, which asks again.
        return;
    }
    if (m_worker.joinable())
        m_worker.join();
    const Request request = *m_request;
    m_request.reset();
    m_computing = true;
    const std::uint64_t generation = m_generation;
    m_worker = std::thread([this, generation, request, tiles = m_tiles] {
        const MapViewport viewport(request.size.width(), request.size.height(), request.visible);
        QImage image = shade(*tiles, viewport);
        QMetaObject::invokeMethod(
            this,
            [this, generation, request, image = std::move(image)]() mutable {
                m_computing = false;
                // Other terrain came meanwhile: the answer is of the old one.
                if (generation != m_generation)
                    return;
                m_image = std::move(image);
                m_imageRect = request.visible;
                ++m_computeCount;
                emit reliefReady();
                emit changed();
            },
            Qt::QueuedConnection);
    });
}

QImage ReliefLayer::shade(const terrain::TerrainTiles& tiles, const MapViewport& viewport)
{
    const int width = static_cast<int>(std::lround(viewport.width()));
    const int height = static_cast<int>(std::lround(viewport.height()));
    QImage image(std::max(1, width), std::max(1, height), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (width <= 0 || height <= 0)
        return image;
    const MapRect& visible = viewport.visible();
    const GeoPoint northWest = coordinateForMapPoint({ visible.x, visible.y });
    const GeoPoint southEast = coordinateForMapPoint({ visible.x + visible.width, visible.y + visible.height });
    // The longitudes run on across ±180° rather than wrap.
    const double west = northWest.longitude;
    const double east = west + visible.width / mapWorldSize * 360.0;
    const terrain::GeoBox box { southEast.latitude, west, northWest.latitude, east };
    // The hillshade's rows are equally spaced in latitude, the map's in Mercator: each
    // row of the map takes the hillshade's row at its own latitude (a view of a few
    // degrees differs by a pixel or two at most, but a tall view more).
    const terrain::ReliefImage relief = terrain::hillshade(tiles, box, width, height);
    const double latitudeSpan = box.north - box.south;
    // The transparency is in the image: a paint is then a plain blend, cheaper than the
    // painter's opacity over a whole view.
    const int alpha = static_cast<int>(std::lround(opacity * 255));
    for (int y = 0; y < height; ++y) {
        const double latitude = viewport.coordinateAt({ 0, y + 0.5 }).latitude;
        const int row = std::clamp(static_cast<int>((box.north - latitude) / latitudeSpan * height), 0, height - 1);
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const std::size_t from = static_cast<std::size_t>(row) * static_cast<std::size_t>(width);
        for (int x = 0; x < width; ++x) {
            if (!relief.alpha[from + x])
                continue;
            const int grey = relief.grey[from + x];
            line[x] = qPremultiply(qRgba(grey, grey, grey, alpha));
        }
    }
    return image;
}

} // namespace corvex
