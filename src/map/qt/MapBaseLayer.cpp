#include "map/qt/MapBaseLayer.h"

#include "platform/qt/PreferencesStore.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QFileInfo>
#include <QPainter>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <optional>

namespace corvex {

namespace {

constexpr const char* templateKeys[] = { "mapTileURLStandard", "mapTileURLSatellite", "mapTileURLHybrid" };
constexpr const char* attributionKeys[] = { "mapTileAttributionStandard", "mapTileAttributionSatellite",
    "mapTileAttributionHybrid" };
constexpr const char* folderNames[] = { "standard", "satellite", "hybrid" };

constexpr int tileSize = 256;
// Servers for high-density screens send tiles of twice the size; nothing larger is a
// tile. A small PNG can announce a huge image (5600 pixels square decode to 120 MiB),
// so the size in the image's header is checked before anything is decoded.
constexpr int largestTileSide = 2 * tileSize;
constexpr int maximumZoom = 19;
// Decoded tiles kept in memory, counted in bytes: a full-screen view needs about 40
// tiles of 256 KiB (256 pixels square, 32 bits).
constexpr qsizetype tileCacheBytes = 64 * 1024 * 1024;
constexpr int retryAfterFailureSeconds = 60;
// How many levels up a missing tile may be covered from: beyond five, a 256-pixel
// tile gives its descendant 8 pixels, a blur that tells nothing.
constexpr int fallbackLevels = 5;

// A short stable name for a template, for folder names and keys.
QString sourceIdFor(const QString& urlTemplate)
{
    if (urlTemplate.isEmpty())
        return {};
    return QString::fromLatin1(QCryptographicHash::hash(urlTemplate.toUtf8(), QCryptographicHash::Sha256).toHex().left(12));
}

// The tile in the device, decoded only when its header gives a tile's size.
std::optional<QImage> decodeTile(QIODevice& device)
{
    QImageReader reader(&device);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > largestTileSide || size.height() > largestTileSide)
        return std::nullopt;
    QImage image;
    if (!reader.read(&image) || image.width() > largestTileSide || image.height() > largestTileSide)
        return std::nullopt;
    return image;
}

qsizetype tileCost(const QImage& image)
{
    return std::max<qsizetype>(1, image.sizeInBytes());
}

int typeIndex(MapType type)
{
    return std::clamp(static_cast<int>(type), 0, 2);
}

} // namespace

MapBaseLayer::MapBaseLayer(HttpClient& httpClient, const PreferencesStore& preferences, Options options, QObject* parent)
    : MapLayer(parent)
    , m_httpClient(httpClient)
    , m_preferences(preferences)
    , m_options(std::move(options))
    , m_tiles(tileCacheBytes)
{
    if (m_options.cacheFolder.isEmpty())
        m_options.cacheFolder = defaultCacheFolder();
    m_options.maximumConcurrentRequests = std::max(1, m_options.maximumConcurrentRequests);
    readTemplates();
    connect(&m_preferences, &PreferencesStore::changed, this, [this] {
        const QString before = urlTemplate();
        readTemplates();
        if (urlTemplate() != before) {
            // Tiles of the old template must not show under the new one.
            m_tiles.clear();
            m_wanted.clear();
            m_failedUntil.clear();
            emit changed();
        }
    });
}

MapBaseLayer::~MapBaseLayer() = default;

QString MapBaseLayer::defaultCacheFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + "/"
        + PreferencesStore::organizationName + "/tiles";
}

QString MapBaseLayer::userAgentFor(const QString& programVersion)
{
    return QStringLiteral("%1/%2").arg(PreferencesStore::applicationName, programVersion);
}

bool MapBaseLayer::hasOwnTiles(const PreferencesStore& preferences, MapType type)
{
    return type == MapType::Standard
        || !preferences.stringValue(templateKeys[static_cast<int>(type)]).trimmed().isEmpty();
}

void MapBaseLayer::readTemplates()
{
    for (int index = 0; index < 3; ++index) {
        m_templates[index] = m_preferences.stringValue(templateKeys[index]).trimmed();
        m_attributions[index] = m_preferences.stringValue(attributionKeys[index]);
        m_sources[index] = sourceIdFor(m_templates[index]);
    }
}

void MapBaseLayer::setMapType(MapType type)
{
    if (type == m_mapType)
        return;
    m_mapType = type;
    m_wanted.clear();
    emit changed();
}

MapType MapBaseLayer::sourceType() const
{
    return m_templates[typeIndex(m_mapType)].isEmpty() ? MapType::Standard : m_mapType;
}

QString MapBaseLayer::urlTemplate() const
{
    return m_templates[typeIndex(sourceType())];
}

QString MapBaseLayer::attribution() const
{
    return m_attributions[typeIndex(sourceType())];
}

QString MapBaseLayer::tileFolder() const
{
    const int index = typeIndex(sourceType());
    return QStringLiteral("%1/%2-%3").arg(m_options.cacheFolder, folderNames[index], m_sources[index]);
}

QString MapBaseLayer::tilePath(const TileKey& key) const
{
    return QStringLiteral("%1/%2-%3/%4/%5/%6.png")
        .arg(m_options.cacheFolder, folderNames[typeIndex(key.type)], key.source)
        .arg(key.z)
        .arg(key.x)
        .arg(key.y);
}

QString MapBaseLayer::tileUrl(const TileKey& key) const
{
    // The key's template, which may have changed since the key was made.
    const int index = typeIndex(key.type);
    if (m_sources[index] != key.source)
        return {};
    QString url = m_templates[index];
    url.replace("{z}", QString::number(key.z));
    url.replace("{x}", QString::number(key.x));
    url.replace("{y}", QString::number(key.y));
    return url;
}

const MapBaseLayer::CachedTile* MapBaseLayer::cachedTile(const TileKey& key)
{
    if (const CachedTile* tile = m_tiles.object(key))
        return tile;
    const QString path = tilePath(key);
    const QFileInfo info(path);
    if (!info.isFile())
        return nullptr;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    std::optional<QImage> image = decodeTile(file);
    if (!image)
        return nullptr;
    auto tile = std::make_unique<CachedTile>();
    tile->image = std::move(*image);
    const auto age = std::chrono::seconds(info.lastModified().secsTo(QDateTime::currentDateTime()));
    tile->stale = age > m_options.maximumAge;
    const qsizetype cost = tileCost(tile->image);
    CachedTile* kept = tile.release();
    // The cache may drop it at once (it never does for a tile of a sound size).
    if (!m_tiles.insert(key, kept, cost))
        return nullptr;
    return kept;
}

bool MapBaseLayer::drawFromAncestor(QPainter& painter, const TileKey& key, const QRectF& target)
{
    for (int levels = 1; levels <= std::min(fallbackLevels, key.z); ++levels) {
        const TileKey ancestor { key.type, key.source, key.z - levels, key.x >> levels, key.y >> levels };
        const CachedTile* tile = m_tiles.object(ancestor);
        if (!tile)
            tile = cachedTile(ancestor);
        if (!tile)
            continue;
        // The quarter of a quarter...: the part of the ancestor over this tile's place.
        const double across = 1 << levels;
        const double partWidth = tile->image.width() / across;
        const double partHeight = tile->image.height() / across;
        const QRectF source((key.x - (ancestor.x << levels)) * partWidth, (key.y - (ancestor.y << levels)) * partHeight,
            partWidth, partHeight);
        painter.drawImage(target, tile->image, source);
        return true;
    }
    return false;
}

void MapBaseLayer::paint(QPainter& painter, const MapViewport& viewport)
{
    m_tilesShown = false;
    m_lastZoom = -1;
    if (urlTemplate().isEmpty() || !viewport.isValid())
        return;

    const MapRect& visible = viewport.visible();
    // The zoom whose tiles come closest to their own size in the device's pixels: on a
    // screen of twice the density, one level finer than in logical pixels.
    const double devicePixelRatio = painter.device() ? std::max(1.0, painter.device()->devicePixelRatioF()) : 1.0;
    const double unitsPerPixel = visible.width / viewport.width() / devicePixelRatio;
    const int z = std::clamp(static_cast<int>(std::lround(std::log2(mapWorldSize / (tileSize * unitsPerPixel)))), 0, maximumZoom);
    const int tilesAcross = 1 << z;
    const double tileUnits = mapWorldSize / tilesAcross;
    const int firstX = std::max(0, static_cast<int>(std::floor(visible.x / tileUnits)));
    const int lastX = std::min(tilesAcross - 1, static_cast<int>(std::floor((visible.x + visible.width) / tileUnits)));
    const int firstY = std::max(0, static_cast<int>(std::floor(visible.y / tileUnits)));
    const int lastY = std::min(tilesAcross - 1, static_cast<int>(std::floor((visible.y + visible.height) / tileUnits)));

    const double scaleX = viewport.scaleX();
    const double scaleY = viewport.scaleY();
    const MapType type = sourceType();
    const QString source = m_sources[typeIndex(type)];
    const QDateTime now = QDateTime::currentDateTime();
    std::deque<TileKey> wanted;
    bool drewTile = false;
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    for (int y = firstY; y <= lastY; ++y) {
        for (int x = firstX; x <= lastX; ++x) {
            const TileKey key { type, source, z, x, y };
            const CachedTile* tile = cachedTile(key);
            // Edges rounded to whole device pixels, so that neighbouring tiles leave no
            // seam and each tile pixel lands on a device pixel.
            const auto onDevicePixel = [devicePixelRatio](double logical) {
                return std::round(logical * devicePixelRatio) / devicePixelRatio;
            };
            const double left = onDevicePixel((x * tileUnits - visible.x) * scaleX);
            const double top = onDevicePixel((y * tileUnits - visible.y) * scaleY);
            const double right = onDevicePixel(((x + 1) * tileUnits - visible.x) * scaleX);
            const double bottom = onDevicePixel(((y + 1) * tileUnits - visible.y) * scaleY);
            const QRectF target(left, top, right - left, bottom - top);
            if (tile) {
                painter.drawImage(target, tile->image);
                drewTile = true;
            } else if (drawFromAncestor(painter, key, target)) {
                drewTile = true;
            }
            const auto failed = m_failedUntil.constFind(key);
            const bool resting = failed != m_failedUntil.cend() && *failed > now;
            if ((!tile || tile->stale) && !resting && !m_inFlight.contains(key))
                wanted.push_back(key);
        }
    }
    painter.restore();

    // Only what this view still needs is asked for: tiles scrolled past are dropped.
    m_wanted = std::move(wanted);
    startRequests();
    m_tilesShown = drewTile;
    m_lastZoom = z;
}

void MapBaseLayer::startRequests()
{
    while (m_inFlight.size() < m_options.maximumConcurrentRequests && !m_wanted.empty()) {
        const TileKey key = m_wanted.front();
        m_wanted.pop_front();
        const QString url = tileUrl(key);
        if (m_inFlight.contains(key) || url.isEmpty())
            continue;
        HttpRequest request;
        request.url = url.toStdString();
        if (!m_options.userAgent.isEmpty())
            request.headers.emplace_back("User-Agent", m_options.userAgent.toStdString());
        request.inactivityTimeout = std::chrono::seconds(30);
        request.maximumBodyBytes = TransferLimit::tile;
        ++m_requestsSent;
        // The handle is kept until the completion runs; the layer's end abandons the
        // transfer, so the callback never outlives the layer.
        m_inFlight.insert(key, m_httpClient.send(std::move(request),
            { [this, key](HttpResponse response) { finishRequest(key, response); }, {}, {} }));
    }
}

void MapBaseLayer::finishRequest(const TileKey& key, const HttpResponse& response)
{
    // The handle goes after this callback: destroying it from inside is allowed.
    const std::shared_ptr<HttpTransfer> handle = m_inFlight.take(key);
    std::optional<QImage> image;
    if (!response.error && response.statusCode == 200) {
        QByteArray body = QByteArray::fromRawData(
            reinterpret_cast<const char*>(response.body.data()), static_cast<qsizetype>(response.body.size()));
        QBuffer buffer(&body);
        buffer.open(QIODevice::ReadOnly);
        image = decodeTile(buffer);
    }
    if (!image) {
        m_failedUntil.insert(key, QDateTime::currentDateTime().addSecs(retryAfterFailureSeconds));
    } else {
        m_failedUntil.remove(key);
        const QString path = tilePath(key);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(reinterpret_cast<const char*>(response.body.data()), static_cast<qint64>(response.body.size()));
            file.commit();
        }
        const qsizetype cost = tileCost(*image);
        m_tiles.insert(key, new CachedTile { std::move(*image), false }, cost);
        emit changed();
    }
    startRequests();
}

} // namespace corvex
