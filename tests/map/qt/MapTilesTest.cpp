#include "VendorServerProcess.h"
#include "support/QtTestHelpers.h"

#include "map/qt/MapBaseLayer.h"
#include "map/qt/MapPainter.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/QtHttpClient.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace corvex {
namespace {

using testing::runEventLoopFor;
using testing::VendorServerProcess;
using testing::waitUntil;

const QColor tileColor(200, 30, 200);

// The whole world at zoom 1: four 256-pixel tiles.
const QSize worldSize(512, 512);
const MapRect world { 0, 0, mapWorldSize, mapWorldSize };

// A tiles folder with one plain tile per place of zoom 1.
void writeTiles(const QString& folder)
{
    QImage tile(256, 256, QImage::Format_RGB32);
    tile.fill(tileColor);
    for (int x = 0; x < 2; ++x) {
        for (int y = 0; y < 2; ++y) {
            QDir().mkpath(QStringLiteral("%1/1/%2").arg(folder).arg(x));
            ASSERT_TRUE(tile.save(QStringLiteral("%1/1/%2/%3.png").arg(folder).arg(x).arg(y)));
        }
    }
}

struct Painted {
    QImage image;
    bool tilesShown { false };
};

// The whole world in side logical pixels on a screen of that device pixel ratio.
Painted paintLayer(MapBaseLayer& layer, int side = worldSize.width(), int devicePixelRatio = 1)
{
    Painted painted { QImage(side * devicePixelRatio, side * devicePixelRatio, QImage::Format_RGB32), false };
    painted.image.setDevicePixelRatio(devicePixelRatio);
    painted.image.fill(Qt::white);
    QPainter painter(&painted.image);
    layer.paint(painter, MapViewport(side, side, world));
    painted.tilesShown = layer.tilesShownInLastPaint();
    return painted;
}

class MapTiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeTiles(m_tiles.path());
        m_server = std::make_unique<VendorServerProcess>(QStringList { "--tiles-dir", m_tiles.path() });
        ASSERT_TRUE(m_server->isRunning());
        m_preferences.setValue("mapTileURLStandard", m_server->baseUrl() + "/tiles/{z}/{x}/{y}.png");
        m_preferences.setValue("mapTileAttributionStandard", "Test tiles");
    }

    std::unique_ptr<MapBaseLayer> makeLayer()
    {
        return std::make_unique<MapBaseLayer>(m_client, m_preferences, MapBaseLayer::Options { m_cache.path(), "CorvexVario/9.8.7" });
    }

    // A file of the cache folder of the standard template's tiles.
    QString cacheFile(const QString& relative) { return makeLayer()->tileFolder() + "/" + relative; }

    int tileRequestsSeenByServer()
    {
        m_serverLog += m_server->standardError();
        return static_cast<int>(m_serverLog.count("GET /tiles/"));
    }

    QTemporaryDir m_tiles;
    QTemporaryDir m_cache;
    QTemporaryDir m_settings;
    PreferencesStore m_preferences { m_settings.filePath("settings.conf") };
    QtHttpClient m_client;
    std::unique_ptr<VendorServerProcess> m_server;
    QString m_serverLog;
};

TEST_F(MapTiles, ArriveOnceEachArePaintedAndCachedOnDisk)
{
    auto layer = makeLayer();
    int repaints = 0;
    QObject::connect(layer.get(), &MapLayer::changed, [&] { ++repaints; });

    EXPECT_FALSE(paintLayer(*layer).tilesShown);
    // Painting again and again while the tiles are on their way asks for none twice.
    ASSERT_TRUE(waitUntil([&] {
        paintLayer(*layer);
        return repaints >= 4;
    }));
    const Painted painted = paintLayer(*layer);
    EXPECT_TRUE(painted.tilesShown);
    for (const QPoint point : { QPoint(100, 100), QPoint(400, 100), QPoint(100, 400), QPoint(400, 400) })
        EXPECT_EQ(painted.image.pixelColor(point), tileColor) << point.x() << "," << point.y();

    EXPECT_EQ(layer->requestsSent(), 4);
    ASSERT_TRUE(waitUntil([&] { return tileRequestsSeenByServer() == 4; }, 3000));
    EXPECT_TRUE(m_serverLog.contains("GET /tiles/1/1/0.png  -> 200 (CorvexVario/9.8.7)")) << m_serverLog.toStdString();
    EXPECT_TRUE(QFile::exists(cacheFile("1/0/1.png")));

    // Another layer on the same cache, as the next start of the program: no request.
    auto second = makeLayer();
    EXPECT_TRUE(paintLayer(*second).tilesShown);
    EXPECT_EQ(paintLayer(*second).image.pixelColor(300, 300), tileColor);
    runEventLoopFor(200);
    EXPECT_EQ(second->requestsSent(), 0);
    EXPECT_EQ(tileRequestsSeenByServer(), 4);
}

TEST_F(MapTiles, EmptyTemplateFallsBackToTheStandardLayer)
{
    auto layer = makeLayer();
    const QString standard = layer->urlTemplate();
    for (const MapType type : { MapType::Satellite, MapType::Hybrid }) {
        layer->setMapType(type);
        EXPECT_EQ(layer->urlTemplate(), standard);
        EXPECT_EQ(layer->attribution(), "Test tiles");
        EXPECT_EQ(layer->tileFolder(), cacheFile("").chopped(1));
        EXPECT_TRUE(layer->tileFolder().startsWith(m_cache.filePath("standard-")));
    }
    paintLayer(*layer);
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(cacheFile("1/1/1.png")); }));

    m_preferences.setValue("mapTileURLSatellite", "http://127.0.0.1:9/satellite/{z}/{x}/{y}.jpg");
    layer->setMapType(MapType::Satellite);
    EXPECT_EQ(layer->urlTemplate(), "http://127.0.0.1:9/satellite/{z}/{x}/{y}.jpg");
    EXPECT_TRUE(layer->tileFolder().startsWith(m_cache.filePath("satellite-")));
    EXPECT_TRUE(layer->attribution().isEmpty());
}

TEST_F(MapTiles, StaleTilesAreDrawnAndFetchedAgainMissingOnesAreNotHammered)
{
    {
        auto layer = makeLayer();
        paintLayer(*layer);
        ASSERT_TRUE(waitUntil([&] {
            paintLayer(*layer);
            return QDir(cacheFile("1/1")).entryList(QDir::Files).size() == 2
                && QDir(cacheFile("1/0")).entryList(QDir::Files).size() == 2;
        }));
    }
    // One tile a month old on disk, one gone from the server and the cache.
    QFile old(cacheFile("1/0/0.png"));
    ASSERT_TRUE(old.open(QIODevice::ReadWrite));
    ASSERT_TRUE(old.setFileTime(QDateTime::currentDateTime().addDays(-30), QFileDevice::FileModificationTime));
    old.close();
    ASSERT_TRUE(QFile::remove(m_tiles.filePath("1/1/1.png")));
    ASSERT_TRUE(QFile::remove(cacheFile("1/1/1.png")));

    auto layer = makeLayer();
    const Painted first = paintLayer(*layer);
    EXPECT_EQ(first.image.pixelColor(100, 100), tileColor);
    ASSERT_TRUE(waitUntil([&] { return tileRequestsSeenByServer() >= 6; }));
    for (int turn = 0; turn < 5; ++turn) {
        paintLayer(*layer);
        runEventLoopFor(50);
    }
    EXPECT_EQ(layer->requestsSent(), 2);
    EXPECT_TRUE(m_serverLog.contains("GET /tiles/1/1/1.png  -> 404")) << m_serverLog.toStdString();
    EXPECT_GT(QFileInfo(old).lastModified(), QDateTime::currentDateTime().addDays(-1));
}

TEST(MapPainterWithTiles, ShowsTheAttributionOnlyOverTiles)
{
    QTemporaryDir settings;
    PreferencesStore preferences(settings.filePath("settings.conf"));
    preferences.setValue("mapTileURLStandard", "http://127.0.0.1:9/{z}/{x}/{y}.png");
    preferences.setValue("mapTileAttributionStandard", "Test tiles");
    QTemporaryDir cache;
    QtHttpClient client;
    MapBaseLayer layer(client, preferences, { cache.path(), "CorvexVario/test" });
    QImage tile(256, 256, QImage::Format_RGB32);
    tile.fill(tileColor);
    QDir().mkpath(layer.tileFolder() + "/0/0");
    ASSERT_TRUE(tile.save(layer.tileFolder() + "/0/0/0.png"));

    const QSize size(256, 256);
    const auto paintWith = [&](MapBaseLayer* baseLayer) {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        MapPainter().paint(painter, size, world, { baseLayer });
        return image;
    };
    const QImage withTiles = paintWith(&layer);
    const QImage without = paintWith(nullptr);
    EXPECT_EQ(withTiles.pixelColor(128, 128), tileColor);
    // The attribution's box in the bottom right corner covers the tile.
    EXPECT_NE(withTiles.pixelColor(252, 250), tileColor);
    EXPECT_NE(without.pixelColor(128, 128), tileColor);
}

// A small PNG can announce a huge image: 5600 pixels square is 120 MiB once decoded.
// Larger than any tile, from the server or from the disk cache, it is refused unread.
TEST_F(MapTiles, ATileLargerThanATileCanBeIsRefusedBeforeItIsDecoded)
{
    QImage huge(5600, 5600, QImage::Format_RGB32);
    huge.fill(Qt::black);
    ASSERT_TRUE(huge.save(m_tiles.filePath("1/1/1.png")));
    ASSERT_LT(QFileInfo(m_tiles.filePath("1/1/1.png")).size(), 2 << 20); // it fits the download limit
    QDir().mkpath(cacheFile("1/0"));
    ASSERT_TRUE(QFile::copy(m_tiles.filePath("1/1/1.png"), cacheFile("1/0/0.png")));

    auto layer = makeLayer();
    ASSERT_TRUE(waitUntil([&] {
        paintLayer(*layer);
        return tileRequestsSeenByServer() >= 4 && layer->requestsSent() >= 4;
    }));
    runEventLoopFor(300);
    const Painted painted = paintLayer(*layer);
    EXPECT_EQ(painted.image.pixelColor(100, 400), tileColor); // 1/0/1, a sound tile
    EXPECT_EQ(painted.image.pixelColor(400, 400), Qt::white); // 1/1/1 from the server
    EXPECT_EQ(painted.image.pixelColor(100, 100), tileColor); // 1/0/0: the cached giant, fetched again
    EXPECT_FALSE(QFile::exists(cacheFile("1/1/1.png")));
}

// A zoom-0 tile of four coloured quarters: north-west, north-east, south-west,
// south-east.
const QColor quarterColors[] = { QColor(255, 0, 0), QColor(0, 160, 0), QColor(0, 0, 255), QColor(240, 200, 0) };

void writeQuarteredTile(const QString& path)
{
    QImage tile(256, 256, QImage::Format_RGB32);
    QPainter painter(&tile);
    for (int quarter = 0; quarter < 4; ++quarter)
        painter.fillRect(QRect((quarter % 2) * 128, (quarter / 2) * 128, 128, 128), quarterColors[quarter]);
    painter.end();
    QDir().mkpath(QFileInfo(path).absolutePath());
    ASSERT_TRUE(tile.save(path));
}

// Zooming in, the tiles of the new level take a while: meanwhile their places show the
// part of the nearest ancestor at hand, scaled up, never a blank.
TEST_F(MapTiles, MissingTilesShowTheirAncestorsPartUntilTheyCome)
{
    writeQuarteredTile(cacheFile("0/0/0.png"));
    struct Case {
        int side; // the world's size on screen: 512 asks for zoom 1, 1024 for zoom 2
        int zoom;
        bool arrive; // the server has this level's tiles
    };
    // Zoom 2 first: once zoom 1's tiles came, they would be the nearest ancestors.
    const Case cases[] = { { 1024, 2, false }, { 512, 1, true } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.side);
        auto layer = makeLayer();
        const Painted first = paintLayer(*layer, c.side);
        EXPECT_EQ(layer->zoomInLastPaint(), c.zoom);
        EXPECT_TRUE(first.tilesShown);
        // Well inside each quarter of the world, away from the smoothed seams.
        for (int quarter = 0; quarter < 4; ++quarter) {
            const QPoint point((quarter % 2) * c.side / 2 + c.side / 4, (quarter / 2) * c.side / 2 + c.side / 4);
            EXPECT_EQ(first.image.pixelColor(point), quarterColors[quarter]) << quarter;
        }
        // Tiles of the level itself replace the ancestor's part as they come.
        if (c.arrive) {
            ASSERT_TRUE(waitUntil([&] { return paintLayer(*layer, c.side).image.pixelColor(100, 100) == tileColor; }));
        } else {
            runEventLoopFor(200);
            EXPECT_EQ(paintLayer(*layer, c.side).image.pixelColor(c.side / 8, c.side / 8), quarterColors[0]);
        }
    }
}

// The tiles are keyed by the template, in memory and on disk: after the template
// changes, the old template's tiles are never shown for the new one.
TEST_F(MapTiles, AnotherTemplateNeverShowsTheOldTemplatesTiles)
{
    auto layer = makeLayer();
    ASSERT_TRUE(waitUntil([&] { return paintLayer(*layer).image.pixelColor(400, 400) == tileColor; }));
    const QString oldFolder = layer->tileFolder();

    struct Case {
        const char* what;
        QString urlTemplate;
    };
    const Case cases[] = {
        { "unreachable", "http://127.0.0.1:9/tiles/{z}/{x}/{y}.png" },
        { "another path on the same server", m_server->baseUrl() + "/other/{z}/{x}/{y}.png" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_preferences.setValue("mapTileURLStandard", c.urlTemplate);
        EXPECT_NE(layer->tileFolder(), oldFolder);
        // The layer in use and one made anew on the same disk cache, as the next start.
        auto restarted = makeLayer();
        for (MapBaseLayer* each : { layer.get(), restarted.get() }) {
            const Painted painted = paintLayer(*each);
            EXPECT_FALSE(painted.tilesShown);
            EXPECT_EQ(painted.image.pixelColor(400, 400), Qt::white);
        }
    }
    // Back to the first template: its tiles are still on disk.
    m_preferences.setValue("mapTileURLStandard", m_server->baseUrl() + "/tiles/{z}/{x}/{y}.png");
    EXPECT_EQ(layer->tileFolder(), oldFolder);
    EXPECT_EQ(paintLayer(*layer).image.pixelColor(400, 400), tileColor);
}

// On a screen of twice the density the tiles of the next level are drawn, each device
// pixel a pixel of its tile.
TEST_F(MapTiles, TilesOfTheDevicePixelRatioAreDrawnSharp)
{
    const QColor finerColor(20, 120, 220);
    QImage finer(256, 256, QImage::Format_RGB32);
    finer.fill(finerColor);
    for (int x = 0; x < 4; ++x) {
        for (int y = 0; y < 4; ++y) {
            QDir().mkpath(m_tiles.filePath(QStringLiteral("2/%1").arg(x)));
            ASSERT_TRUE(finer.save(m_tiles.filePath(QStringLiteral("2/%1/%2.png").arg(x).arg(y))));
        }
    }
    struct Case {
        int devicePixelRatio;
        int zoom;
        QColor color;
    };
    const Case cases[] = { { 1, 1, tileColor }, { 2, 2, finerColor } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.devicePixelRatio);
        auto layer = makeLayer();
        ASSERT_TRUE(waitUntil([&] {
            return paintLayer(*layer, worldSize.width(), c.devicePixelRatio).image.pixelColor(QPoint(400, 400) * c.devicePixelRatio)
                == c.color;
        }));
        EXPECT_EQ(layer->zoomInLastPaint(), c.zoom);
    }
}

} // namespace
} // namespace corvex
