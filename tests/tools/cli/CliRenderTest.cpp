// `corvex airspaces render`: a real set drawn offscreen, checked by its pixels.
#include "VendorServerProcess.h"

#include "airspaces/Airspaces.h"
#include "map/MapGeometry.h"

#include "support/CapturingLogSink.h"
#include "support/QtTestHelpers.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using corvex::testing::ProgramRun;
using corvex::testing::VendorServerProcess;

namespace {

ProgramRun runCli(const QStringList& arguments)
{
    return corvex::testing::runProgram(QStringLiteral(CORVEX_BUILD_DIR "/corvex"), arguments, 60000);
}

bool reddish(QRgb pixel)
{
    return qRed(pixel) > qGreen(pixel) + 20 && qRed(pixel) > qBlue(pixel) + 20;
}

// Where a coordinate lands in an image that shows the set's bounding box as the map
// view fits it: centre kept, one scale for both sides.
QPoint pixelOf(const corvex::Airspaces& set, QSize size, corvex::GeoPoint coordinate)
{
    // The set's plane has 2^24 units around the world, the map's 2^28.
    const double scale = corvex::mapWorldSize / 16777216.0;
    double minX = corvex::mapWorldSize, minY = corvex::mapWorldSize, maxX = 0, maxY = 0;
    for (const auto& polyline : set.globalPolylines()) {
        for (const auto& point : polyline.points) {
            minX = std::min(minX, point.x * scale);
            minY = std::min(minY, point.y * scale);
            maxX = std::max(maxX, point.x * scale);
            maxY = std::max(maxY, point.y * scale);
        }
    }
    const double unitsPerPixel = std::max((maxX - minX) / size.width(), (maxY - minY) / size.height());
    const corvex::MapPoint point = corvex::mapPointForCoordinate(coordinate);
    return QPoint(static_cast<int>(size.width() / 2.0 + (point.x - (minX + maxX) / 2) / unitsPerPixel),
        static_cast<int>(size.height() / 2.0 + (point.y - (minY + maxY) / 2) / unitsPerPixel));
}

// A set converted from a real file, in folder.
QString convertedSwitzerland(const QTemporaryDir& folder)
{
    const QString set = folder.filePath("ch.as");
    const ProgramRun converted = runCli(
        { "airspaces", "convert", QStringLiteral(CORVEX_TESTDATA_DIR "/openair/Switzerland.txt"), "--out", set });
    EXPECT_EQ(converted.exitCode, 0) << converted.err.toStdString();
    return set;
}

// Renders with the standard map's tiles from urlTemplate, written into the user's
// preferences in a private configuration folder.
ProgramRun renderWithTiles(const QTemporaryDir& folder, const QString& set, const QString& png, const QString& urlTemplate)
{
    QDir(folder.path()).mkpath("config/Corvex");
    QFile settings(folder.filePath("config/Corvex/CorvexVario.conf"));
    settings.open(QIODevice::WriteOnly);
    settings.write("[General]\nmapTileURLStandard=" + urlTemplate.toUtf8() + "\n");
    settings.close();
    return corvex::testing::runProgram(QStringLiteral(CORVEX_BUILD_DIR "/corvex"),
        { "airspaces", "render", set, "--out", png, "--size", "600x400" }, 60000, [&](QProcessEnvironment& environment) {
            environment.insert("XDG_CONFIG_HOME", folder.filePath("config"));
            // A cache of its own: the tile cache is kept by map type, not by template.
            environment.insert("XDG_CACHE_HOME", png + ".cache");
        });
}

// A 256-pixel tile of one colour.
void writeTile(const QString& path, QColor color)
{
    QImage tile(256, 256, QImage::Format_RGB32);
    tile.fill(color);
    ASSERT_TRUE(tile.save(path, "PNG"));
}

} // namespace

// A made-up set round Fiji: fitted across ±180°, every overlay drawn and counted.
TEST(CliAirspacesRender, CountsEveryOverlayOfASetAcrossTheAntimeridian)
{
    QTemporaryDir folder;
    QFile openAir(folder.filePath("fiji.txt"));
    ASSERT_TRUE(openAir.open(QIODevice::WriteOnly));
    openAir.write("AC C\nAN ACROSS\nAL SFC\nAH FL100\nDP 16:00:00 S 177:00:00 E\nDP 16:00:00 S 179:00:00 W\n"
                  "DP 18:00:00 S 179:00:00 W\nDP 18:00:00 S 177:00:00 E\nAC D\nAN EAST\nAL SFC\nAH FL50\n"
                  "V X=17:00:00 S 178:00:00 W\nDC 5\n");
    openAir.close();
    const QString set = folder.filePath("fiji.as");
    ASSERT_EQ(runCli({ "airspaces", "convert", openAir.fileName(), "--out", set }).exitCode, 0);
    const ProgramRun run = runCli({ "airspaces", "render", set, "--out", folder.filePath("fiji.png"), "--offline" });
    EXPECT_TRUE(run.out.contains("Drawn: 2 of 2 overlays")) << run.out.toStdString();
}

TEST(CliAirspacesRender, DrawsARealSetInEachModeWithoutADisplay)
{
    QTemporaryDir folder;
    const QString set = convertedSwitzerland(folder);
    QFile file(set);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    corvex::testing::CapturingLogSink log;
    const auto airspaces = corvex::Airspaces::initWithDataInInternalFormat(corvex::Bytes(bytes.begin(), bytes.end()), log);
    ASSERT_TRUE(airspaces);

    const QSize size(900, 600);
    std::map<int, QImage> images;
    for (int mode : { 0, 2 }) {
        const QString png = folder.filePath(QString("ch%1.png").arg(mode));
        // No DISPLAY and no platform chosen: the command must pick the offscreen one.
        const ProgramRun run = corvex::testing::runProgram(QStringLiteral(CORVEX_BUILD_DIR "/corvex"),
            { "airspaces", "render", set, "--out", png, "--mode", QString::number(mode), "--size", "900x600", "--offline" }, 60000,
            [](QProcessEnvironment& environment) {
                for (const char* name : { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" })
                    environment.remove(name);
            });
        ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_TRUE(run.out.contains("Drawn: ")) << run.out.toStdString();
        QImage image(png);
        ASSERT_FALSE(image.isNull()) << mode;
        EXPECT_EQ(image.size(), size);
        images[mode] = image.convertToFormat(QImage::Format_RGB32);
    }

    // Most of the image is background; the outlines are a good share of the rest.
    for (const auto& [mode, image] : images) {
        std::map<QRgb, int> counts;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ++counts[image.pixel(x, y)];
        const auto background = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; });
        const int drawn = image.width() * image.height() - background->second;
        EXPECT_GT(drawn, image.width() * image.height() / 20) << mode;
    }

    // The Ambri aerodrome's circle (5 km around 46°30'46" N 8°41'21" E) is filled with
    // translucent red in mode 2 and left as it was inside in mode 0.
    const QPoint ambri = pixelOf(*airspaces, size, { 46 + 30 / 60.0 + 46 / 3600.0, 8 + 41 / 60.0 + 21 / 3600.0 });
    ASSERT_TRUE(QRect(QPoint(0, 0), size).contains(ambri));
    const QRgb filled = images[2].pixel(ambri);
    const QRgb open = images[0].pixel(ambri);
    EXPECT_TRUE(reddish(filled)) << std::hex << filled;
    EXPECT_FALSE(reddish(open)) << std::hex << open;
    // Translucent: the background still shows through the red.
    EXPECT_LT(qRed(filled), 255);
    EXPECT_GT(qBlue(filled), 60);
}

TEST(CliAirspacesRender, RefusesBadOptionsAndFilesThatAreNoSets)
{
    QTemporaryDir folder;
    const QString notASet = folder.filePath("notes.txt");
    QFile file(notASet);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("AC C\n");
    file.close();
    struct Case {
        QStringList arguments;
        int exitCode;
        QString message;
    };
    const Case cases[] = {
        { { "--mode", "4" }, 1, "--mode takes 0, 1, 2 or 3" },
        { { "--size", "10x10" }, 1, "--size takes WIDTHxHEIGHT" },
        { { "--size", "800" }, 1, "--size takes WIDTHxHEIGHT" },
        { {}, 4, "is not an airspaces set" },
    };
    for (const Case& c : cases) {
        const ProgramRun run = runCli(QStringList { "airspaces", "render", notASet, "--out", folder.filePath("x.png") } + c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
        EXPECT_FALSE(QFile::exists(folder.filePath("x.png")));
    }
}

TEST(CliAirspacesRender, TilesUnderTheSetAndWithoutThemWhenTheyDoNotCome)
{
    QTemporaryDir folder;
    const QString set = convertedSwitzerland(folder);
    VendorServerProcess server({ "--tiles-dir", folder.path() });
    ASSERT_TRUE(server.isRunning()) << server.standardError().toStdString();
    writeTile(folder.filePath("green.png"), QColor(0, 200, 0));
    // Every tile is the same file; the query keeps their addresses apart.
    const QString greenTiles = server.baseUrl() + "/tiles/green.png?{z}/{x}/{y}";
    const ProgramRun tiled = renderWithTiles(folder, set, folder.filePath("tiled.png"), greenTiles);
    ASSERT_EQ(tiled.exitCode, 0) << tiled.err.toStdString();
    EXPECT_TRUE(tiled.out.contains("over tiles from " + greenTiles)) << tiled.out.toStdString();
    const QImage image = QImage(folder.filePath("tiled.png")).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(image.size(), QSize(600, 400));
    int green = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            green += image.pixel(x, y) == qRgb(0, 200, 0) ? 1 : 0;
    EXPECT_GT(green, image.width() * image.height() / 2);

    // Nobody serves the tiles: the set is drawn all the same, over the offline geography.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
    const QString nowhere = QString("http://127.0.0.1:%1/tiles/{z}/{x}/{y}.png").arg(closed.serverPort());
    closed.close();
    const ProgramRun untiled = renderWithTiles(folder, set, folder.filePath("untiled.png"), nowhere);
    ASSERT_EQ(untiled.exitCode, 0) << untiled.err.toStdString();
    EXPECT_TRUE(untiled.out.contains("over the tiles that came in time from " + nowhere)) << untiled.out.toStdString();
    EXPECT_FALSE(QImage(folder.filePath("untiled.png")).isNull());
}
