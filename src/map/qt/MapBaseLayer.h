#pragma once

#include "map/MapGeometry.h"
#include "map/qt/MapLayer.h"
#include "platform/HttpClient.h"

#include <QCache>
#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QString>

#include <chrono>
#include <deque>
#include <memory>

class QPainter;

namespace corvex {

class PreferencesStore;

// The map's raster tiles: XYZ tiles from a URL template per map type ("{z}", "{x}" and
// "{y}" in the template are replaced), fetched over the program's HttpClient, kept in
// memory and in a disk cache (<cache folder>/<type>/<z>/<x>/<y>.png), and painted under
// the overlays. Painting never waits: it draws the tiles at hand, asks for the missing
// ones, and changed() says when one came (or the type or template changed) so that the
// map paints again.
//
// The templates are the preferences "mapTileURLStandard", "mapTileURLSatellite" and
// "mapTileURLHybrid", their attributions "mapTileAttributionStandard", ... An empty
// template falls back to the standard one (and its attribution and cache folder). They
// are read again whenever the store changes.
class MapBaseLayer final : public MapLayer {
    Q_OBJECT
public:
    struct Options {
        // Empty: defaultCacheFolder().
        QString cacheFolder;
        // Sent with every tile request; tile servers ask that clients name themselves.
        QString userAgent;
        // A tile older than this on disk is still drawn, and fetched again.
        std::chrono::seconds maximumAge { std::chrono::hours(24 * 7) };
        // Public tile servers ask for no more than two at a time.
        int maximumConcurrentRequests { 2 };
    };

    MapBaseLayer(HttpClient& httpClient, const PreferencesStore& preferences, Options options, QObject* parent = nullptr);
    ~MapBaseLayer() override;

    // The user's cache folder for tiles: ~/.cache/Corvex/tiles (under $XDG_CACHE_HOME).
    static QString defaultCacheFolder();
    // "CorvexVario/<version>".
    static QString userAgentFor(const QString& programVersion);
    // Whether a map type has tiles of its own: Standard always, Satellite and Hybrid only
    // with their template set (without one they would show the standard tiles under
    // their name), so the windows offer them only then.
    static bool hasOwnTiles(const PreferencesStore& preferences, MapType type);

    MapType mapType() const { return m_mapType; }
    void setMapType(MapType type);

    // The template tiles come from for the current type, after the fallback, and the
    // text that must be shown beside them.
    QString urlTemplate() const;
    QString attribution() const;
    // The cache folder of the current type's tiles: its name holds a hash of the
    // template, so that another template starts another folder.
    QString tileFolder() const;

    // Draws the tiles at hand for the viewport and asks for those missing.
    void paint(QPainter& painter, const MapViewport& viewport) override;
    // Whether the last paint drew a tile: the attribution is owed only then.
    bool tilesShownInLastPaint() const { return m_tilesShown; }
    QString shownAttribution() const override { return m_tilesShown ? attribution() : QString(); }

    // How many tile requests were sent since the layer was made.
    int requestsSent() const { return m_requestsSent; }
    // The zoom level of the tiles the last paint drew or asked for.
    int zoomInLastPaint() const { return m_lastZoom; }

private:
    // A tile of one type under one template.
    struct TileKey {
        MapType type;
        QString source; // the hash of the template
        int z;
        int x;
        int y;
        bool operator==(const TileKey&) const = default;
    };
    friend size_t qHash(const TileKey& key, size_t seed)
    {
        return qHashMulti(seed, static_cast<int>(key.type), key.source, key.z, key.x, key.y);
    }

    MapType sourceType() const;
    QString tilePath(const TileKey& key) const;
    QString tileUrl(const TileKey& key) const;
    struct CachedTile {
        QImage image;
        // Older on disk than the maximum age: drawn, and fetched again.
        bool stale { false };
    };
    const CachedTile* cachedTile(const TileKey& key);
    // Covers the place of a missing tile with the part of its nearest ancestor at hand;
    // false when none is.
    bool drawFromAncestor(QPainter& painter, const TileKey& key, const QRectF& target);
    void startRequests();
    void finishRequest(const TileKey& key, const HttpResponse& response);
    void readTemplates();

    HttpClient& m_httpClient;
    const PreferencesStore& m_preferences;
    Options m_options;
    MapType m_mapType { MapType::Standard };
    QString m_templates[3];
    QString m_attributions[3];
    QString m_sources[3];

    QCache<TileKey, CachedTile> m_tiles;
    std::deque<TileKey> m_wanted;
    QHash<TileKey, std::shared_ptr<HttpTransfer>> m_inFlight;
    // Tiles that failed are not asked for again until this time has passed.
    QHash<TileKey, QDateTime> m_failedUntil;
    int m_requestsSent { 0 };
    bool m_tilesShown { false };
    int m_lastZoom { -1 };
};

} // namespace corvex
