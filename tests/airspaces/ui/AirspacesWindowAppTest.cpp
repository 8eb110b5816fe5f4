// The airspaces window against the virtual instrument on a real pty and the stand-in
// vendor server on loopback: what opening shows, each transfer workflow with its
// sheets, alerts and log lines, the instrument's faults, the clear-airspaces menu
// command and the settings the window follows.
#include "AppTestSupport.h"
#include "VendorServerProcess.h"
#include "VirtualInstrumentProcess.h"
#include "airspaces/OpenAirConversion.h"
#include "airspaces/ui/AirspaceHoverInfo.h"
#include "airspaces/ui/AirspacesWindow.h"
#include "map/qt/ReliefLayer.h"
#include "app/UserPreferencesWindow.h"
#include "library/FlightLibrary.h"
#include "support/TestFiles.h"
#include "ui_AirspacesWindow.h"
#include "ui_UserPreferencesWindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QRegularExpression>
#include <QStackedWidget>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <variant>

using namespace corvex;
using namespace corvex::testing;

namespace {

// Nothing listens there: connecting is refused at once.
const char* const unreachableServer = "http://127.0.0.1:9";

// A set of one closed ring of `points` points around (lat, lon), made by the core's
// converter.
Bytes makeSet(const std::string& fileName, const std::string& description, int points, double lat = 46.8, double lon = 8.2)
{
    std::string text = "AC D\nAN " + fileName + "\nAL GND\nAH 3000 ft\n";
    for (int i = 0; i < points; ++i) {
        const double angle = 2 * geo::pi * i / points;
        const double pointLat = lat + 0.2 * std::sin(angle);
        const double pointLon = lon + 0.3 * std::cos(angle);
        char line[80];
        std::snprintf(line, sizeof line, "DP %02d:%02d:%02d N %03d:%02d:%02d E\n", int(pointLat), int(pointLat * 60) % 60,
            int(pointLat * 3600) % 60, int(pointLon), int(pointLon * 60) % 60, int(pointLon * 3600) % 60);
        text += line;
    }
    openair::SetHeader header;
    header.fileName = fileName;
    header.description = description;
    header.uploadDate = std::chrono::sys_seconds(std::chrono::seconds(1714478400)); // 30 Apr 2024 12:00 UTC
    auto converted = openair::convertToInternalFormat(text, header);
    return std::get<Bytes>(converted);
}

void writeFile(const QString& path, const Bytes& bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

std::size_t chunkCount(const Bytes& set) { return (set.size() + 120) / 121; }

bool isAirspacesRequest(ByteView request, std::uint8_t operation)
{
    return request.size() == 7 && request[0] == 0x0F && request[1] == operation;
}

// The program with the virtual instrument plugged in, the waits made instant, the
// cache in a folder of its own and the vendor's service at a given URL.
struct AirspacesApp {
    explicit AirspacesApp(VirtualInstrumentProcess::Options options = {}, const QString& serviceBase = unreachableServer)
        : instrument(options)
    {
        qputenv("XDG_DATA_HOME", dataHome.path().toUtf8());
        qputenv("CORVEX_VENDOR_URL", serviceBase.toUtf8());
        discovery.present = { instrument.portPath() };
        app = std::make_unique<AppHarness>(ports, &discovery, &eventLoop);
        app->launch();
        window().setPanels({ [this] { return openAirFile; }, [this](const QString& prompt, const QString&) {
                                prompts.push_back(prompt);
                                return description;
                            } });
    }
    ~AirspacesApp() { window().close(); }

    AirspacesWindow& window() { return *app->controller->airspacesWindowController(); }
    Ui::AirspacesWindow& ui() { return window().ui(); }
    bool waitForLog(const std::string& line, int milliseconds = 15000)
    {
        return waitUntil([&] { return app->log.contains(line); }, milliseconds);
    }
    bool waitForApprovedList() { return waitUntil([&] { return ui().uploadButton->isEnabled(); }); }
    QString cacheFile(const std::string& name) const { return dataHome.filePath("Corvex/" + QString::fromStdString(name)); }

    QTemporaryDir dataHome;
    VirtualInstrumentProcess instrument;
    HookedPorts ports;
    ManualDiscovery discovery;
    InstantEventLoop eventLoop;
    std::unique_ptr<AppHarness> app;
    std::optional<QString> openAirFile;
    std::optional<QString> description { QStringLiteral("Test airspaces") };
    std::vector<QString> prompts;
};

VirtualInstrumentProcess::Options holding(const QString& setFile)
{
    VirtualInstrumentProcess::Options options;
    options.extraArguments = { "--airspaces", setFile.toStdString() };
    return options;
}

} // namespace

TEST(AirspacesWindowApp, OpeningShowsWhatTheInstrumentHolds)
{
    {
        AirspacesApp empty;
        empty.window().presentAirspacesWindow();
        EXPECT_EQ(empty.window().currentContentView(), empty.ui().noAirspacesView);
        EXPECT_FALSE(empty.window().deviceHasAirspaces());
        EXPECT_TRUE(empty.app->log.contains("Device doesn't have airspaces on it currently"));

        // A header that does not come is no empty instrument: the window says why,
        // offers to read again, and the next upload erases first.
        ASSERT_TRUE(empty.instrument.control("fault silent"));
        empty.window().close();
        empty.window().presentAirspacesWindow();
        EXPECT_EQ(empty.window().currentContentView(), empty.ui().downloadAirspacesFromDeviceView);
        EXPECT_TRUE(empty.window().deviceHasAirspaces());
        ASSERT_FALSE(empty.app->alerts.alerts.empty());
        EXPECT_EQ(empty.app->alerts.alerts.back().message, "Unable to read the instrument's airspaces");
        EXPECT_EQ(empty.app->alerts.alerts.back().informativeText.rfind("the instrument did not answer.", 0), 0u)
            << empty.app->alerts.alerts.back().informativeText;
        ASSERT_TRUE(empty.instrument.control("fault none"));
    }

    QTemporaryDir folder;
    const Bytes set = makeSet("Alps.txt", "Alpine test set", 20);
    writeFile(folder.filePath("set.as"), set);
    AirspacesApp pty(holding(folder.filePath("set.as")));
    const std::string cacheName = *buildCacheFilenameFromHeader(set);

    // Not in the cache: offered to be read, then read, cached and shown.
    pty.window().presentAirspacesWindow();
    EXPECT_EQ(pty.window().currentContentView(), pty.ui().downloadAirspacesFromDeviceView);
    EXPECT_TRUE(pty.window().deviceHasAirspaces());
    EXPECT_TRUE(pty.app->log.contains("Cache filename: " + cacheName));
    EXPECT_TRUE(pty.app->log.contains("Currently device has Alps.txt uploaded"));
    // The whole read turns the event loop and says how far it got.
    QString sheetDuringRead;
    pty.eventLoop.duringTurn = [&] { sheetDuringRead += pty.window().actionSheetLabel()->text(); };
    pty.ui().downloadAirspacesFromTheDeviceButton->click();
    pty.eventLoop.duringTurn = nullptr;
    EXPECT_TRUE(sheetDuringRead.contains("please DO NOT DISCONNECT the device.\n\nRead so far: 2 KB"));
    EXPECT_TRUE(pty.ui().lastActionLabel->text().contains(QRegularExpression("^Read Alps.txt from the instrument: \\d KB in \\d+ s$")));
    EXPECT_EQ(pty.window().currentContentView(), pty.ui().viewWithMap);
    EXPECT_FALSE(pty.window().actionSheet()->isVisible());
    EXPECT_TRUE(pty.app->log.contains(formatString("Totally read from the device: %zu bytes", set.size())));
    EXPECT_TRUE(QFile::exists(pty.cacheFile(cacheName)));
    EXPECT_EQ(pty.ui().airspacesFilenameLabel->text(), "Current Airspaces: Alps.txt (uploaded on 30 Apr 2024)");

    // Cached: the map at once, without a second whole read.
    pty.window().close();
    pty.window().presentAirspacesWindow();
    EXPECT_EQ(pty.window().currentContentView(), pty.ui().viewWithMap);
    EXPECT_EQ(pty.app->log.count(formatString("Totally read from the device: %zu bytes", set.size())), 1u);
    EXPECT_EQ(pty.ui().mapView->overlays().size(), 1u);
    ASSERT_TRUE(pty.window().currentAirspaces());
    EXPECT_EQ(pty.window().currentAirspaces()->airspacesDescription(), "Alpine test set");

    // A damaged cache file: the map view, with no set.
    writeFile(pty.cacheFile(cacheName), Bytes(100, 0));
    pty.window().presentAirspacesWindow();
    EXPECT_EQ(pty.window().currentContentView(), pty.ui().viewWithMap);
    EXPECT_FALSE(pty.window().currentAirspaces());
    EXPECT_TRUE(pty.ui().mapView->overlays().empty());
}

TEST(AirspacesWindowApp, ApprovedSetIsUploadedAfterTheClearingSheet)
{
    VendorServerProcess server(QStringList {});
    ASSERT_TRUE(server.isRunning());
    const Bytes approved = makeSet("Jura.txt", "Approved Jura", 30, 47.2, 6.9);
    writeFile(QDir(server.approvedDirectory()).filePath("Jura.as"), approved);
    QTemporaryDir folder;
    writeFile(folder.filePath("old.as"), makeSet("Old.txt", "Old set", 10));
    AirspacesApp pty(holding(folder.filePath("old.as")), server.baseUrl());

    // What the sheet says and where the bar stands when each request goes out; the main
    // window's commands are locked meanwhile.
    std::vector<std::pair<std::uint8_t, QString>> sheetAtRequest;
    std::optional<double> progressAtConclusion;
    bool mainWindowLocked = true;
    pty.ports.beforeWrite = [&](ByteView request) {
        for (std::uint8_t operation : { 2, 4, 5 }) {
            if (isAirspacesRequest(request, operation))
                sheetAtRequest.emplace_back(operation, pty.window().actionSheetLabel()->text());
        }
        if (isAirspacesRequest(request, 4))
            progressAtConclusion = pty.window().actionSheetProgress();
        if (request.size() == 7 && request[0] == 0x0F)
            mainWindowLocked = mainWindowLocked && !pty.app->ui().flightsPanel->isEnabled();
    };

    pty.window().presentAirspacesWindow();
    ASSERT_TRUE(pty.waitForApprovedList());
    EXPECT_EQ(pty.ui().airspacesPopupButton->itemText(0), "Jura");
    EXPECT_EQ(pty.ui().airspacesListPopupButton->count(), 1);
    pty.ui().proceedToSelectAirspacesToUploadViewButton->click();
    pty.ui().uploadButton->click();
    EXPECT_EQ(pty.window().actionSheetLabel()->text(), "Downloading an Airspaces file from Corvex");
    ASSERT_TRUE(pty.waitForLog(formatString("Totally uploaded to the device %zu bytes", approved.size())));

    ASSERT_EQ(sheetAtRequest.size(), 3u);
    EXPECT_EQ(sheetAtRequest[0], std::make_pair(std::uint8_t(5), QString("Clearing Airspaces section on the device. It can take up to a minute.")));
    EXPECT_EQ(sheetAtRequest[1].second,
        "Uploading Airspaces data to the device. It may take a couple of minutes, please DO NOT DISCONNECT the device");
    EXPECT_EQ(sheetAtRequest[2].first, 4);
    const double count = static_cast<double>(chunkCount(approved));
    EXPECT_NEAR(progressAtConclusion.value_or(-1), (count - 1) / count, 0.002);
    EXPECT_TRUE(mainWindowLocked);
    EXPECT_TRUE(pty.app->ui().flightsPanel->isEnabled());
    EXPECT_FALSE(pty.window().actionSheet()->isVisible());
    EXPECT_EQ(pty.window().currentContentView(), pty.ui().viewWithMap);
    EXPECT_TRUE(pty.window().deviceHasAirspaces());
    EXPECT_TRUE(pty.app->log.contains(formatString(
        "GetApprovedAirspaces response: filename is: '%s', the data size is %zu", buildCacheFilenameFromHeader(approved)->c_str(),
        approved.size())));

    // The service's name is the one the header gives: the next opening finds it cached.
    pty.window().presentAirspacesWindow();
    EXPECT_EQ(pty.window().currentContentView(), pty.ui().viewWithMap);
    ASSERT_TRUE(pty.window().currentAirspaces());
    EXPECT_EQ(pty.window().currentAirspaces()->airspacesFilename(), "Jura.txt");
}

TEST(AirspacesWindowApp, NamesThatAreNotPlainFileNamesNeverLeaveTheCacheFolder)
{
    VendorServerProcess server(QStringList {});
    ASSERT_TRUE(server.isRunning());
    const Bytes approved = makeSet("../../escaped", "Hostile name", 12);
    writeFile(QDir(server.approvedDirectory()).filePath("hostile.as"), approved);
    AirspacesApp pty({}, server.baseUrl());
    pty.window().presentAirspacesWindow();
    ASSERT_TRUE(pty.waitForApprovedList());
    pty.ui().uploadButton->click();
    ASSERT_TRUE(pty.waitForLog(formatString("Totally uploaded to the device %zu bytes", approved.size())));

    // The set is cached under its name made safe, inside the cache folder.
    const std::string name = *buildCacheFilenameFromHeader(approved);
    EXPECT_EQ(name.substr(0, 13), "______escaped");
    EXPECT_TRUE(waitUntil([&] { return QFile::exists(pty.cacheFile(name)); }));
    EXPECT_TRUE(QDir(pty.dataHome.path()).entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(QDir(QDir(pty.dataHome.path()).filePath("..")).entryList({ "escaped*" }).isEmpty());
    EXPECT_EQ(QDir(pty.dataHome.filePath("Corvex")).entryList(QDir::Files), QStringList { QString::fromStdString(name) });
}

TEST(AirspacesWindowApp, OpenAirFilesAreConvertedAndUploaded)
{
    VendorServerProcess server(QStringList {});
    ASSERT_TRUE(server.isRunning());
    struct Case {
        const char* file;
        const char* service; // "" for a service that cannot be reached
        bool convertedLocally;
    };
    const Case cases[] = {
        { "openair.txt", "server", false },
        { "Germany.txt", "server", false }, // ISO-8859-1
        { "openair_2.txt", "", true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        AirspacesApp pty({}, *c.service ? server.baseUrl() : QString(unreachableServer));
        pty.openAirFile = QString(CORVEX_TESTDATA_DIR "/openair/") + c.file;
        pty.window().presentAirspacesWindow();
        pty.ui().uploadAirspacesFromAnOpenAirFile->click();
        EXPECT_EQ(pty.prompts, std::vector<QString> { "Please enter the description" });
        ASSERT_TRUE(waitUntil([&] { return pty.app->log.containsPrefix("Totally uploaded to the device "); }, 30000));
        ASSERT_TRUE(pty.window().currentAirspaces());
        EXPECT_EQ(pty.window().currentAirspaces()->airspacesFilename(), c.file);
        EXPECT_EQ(pty.window().currentAirspaces()->airspacesDescription(), "Test airspaces");
        EXPECT_EQ(pty.window().currentContentView(), pty.ui().viewWithMap);
        EXPECT_EQ(pty.ui().convertedLocallyLabel->isVisibleTo(pty.ui().viewWithMap), c.convertedLocally);
        EXPECT_EQ(pty.app->log.containsPrefix("The airspaces service cannot be reached; converting"), c.convertedLocally);
        EXPECT_TRUE(pty.app->alerts.alerts.empty());
        EXPECT_TRUE(QFile::exists(pty.cacheFile(pty.window().currentAirspaces()->buildCacheFilename())));

        // The flight library kept the OpenAir file and knows it as what the instrument
        // holds from now on.
        auto library = library::FlightLibrary::open(pty.dataHome.filePath("Corvex/Flights").toStdString());
        ASSERT_TRUE(library);
        const auto kept = *(*library)->airspaces().index().files();
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(kept.front().name, c.file);
        const auto held = (*library)->airspaces().heldBy("C0FFEE", std::time(nullptr) + 1);
        ASSERT_TRUE(held && *held);
        EXPECT_EQ((*held)->id, kept.front().id);
    }
}

TEST(AirspacesWindowApp, CancellingTheDescriptionSendsNothingAndConvertingOnlyShows)
{
    AirspacesApp pty;
    pty.openAirFile = QString(CORVEX_TESTDATA_DIR "/openair/openair.txt");
    pty.description.reset();
    pty.window().presentAirspacesWindow();
    pty.ui().uploadAirspacesFromAnOpenAirFile->click();
    runEventLoopFor(100);
    EXPECT_FALSE(pty.window().currentAirspaces());
    EXPECT_FALSE(pty.app->log.containsPrefix("The airspaces service cannot be reached"));

    // The plain conversion shows the set on the map without uploading it, and says so.
    pty.description = QStringLiteral("Shown only");
    pty.ui().convertOpenairToInternalButton->click();
    ASSERT_TRUE(waitUntil([&] { return pty.window().currentAirspaces().has_value(); }));
    EXPECT_EQ(pty.window().currentContentView(), pty.ui().viewWithMap);
    EXPECT_FALSE(pty.app->log.containsPrefix("Totally uploaded"));
    EXPECT_EQ(pty.ui().airspacesFilenameLabel->text(), "The instrument holds no airspaces.\nShown, not on the instrument: openair.txt");
}

// Over the map, an outline of a set converted here says what airspace it is: the
// name, class and limits from its OpenAir text, the nested one inside it.
TEST(AirspacesWindowApp, HoveringAnOutlineNamesItsAirspace)
{
    AirspacesApp pty;
    QTemporaryDir files;
    const QString openAir = files.filePath("sydney.txt");
    QFile file(openAir);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("AC C\nAN Sydney CTR\nAL SFC\nAH 4500 ft\n"
               "DP 33:50:00 S 150:50:00 E\nDP 33:50:00 S 151:20:00 E\nDP 34:10:00 S 151:20:00 E\nDP 34:10:00 S 150:50:00 E\n"
               "AC D\nAN Bankstown CTR\nAL SFC\nAH 1500 ft\n"
               "DP 33:54:00 S 150:57:00 E\nDP 33:54:00 S 151:03:00 E\nDP 33:58:00 S 151:03:00 E\nDP 33:58:00 S 150:57:00 E\n");
    file.close();
    pty.openAirFile = openAir;
    pty.window().presentAirspacesWindow();
    pty.ui().convertOpenairToInternalButton->click();
    ASSERT_TRUE(waitUntil([&] { return pty.ui().mapView->overlays().size() == 2; }));

    MapView& map = *pty.ui().mapView;
    AirspaceHoverInfo& info = *pty.window().airspaceInfo();
    struct Case {
        GeoPoint at;
        QString shown;
    };
    const Case cases[] = {
        { { -34.08, 151.25 }, "Sydney CTR · class C · SFC–4500 ft" },
        { { -33.93, 151.0 }, "Bankstown CTR · class D · SFC–1500 ft" },
        { { -34.6, 151.0 }, "" },
    };
    for (const Case& c : cases) {
        const PixelPoint pixel = map.viewport().pixelFor(c.at);
        const QPointF position(pixel.x, pixel.y);
        QMouseEvent move(QEvent::MouseMove, position, map.mapToGlobal(position), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&map, &move);
        EXPECT_EQ(info.shownText(), c.shown) << c.at.latitude << ", " << c.at.longitude;
    }
    // The label follows the map moving under a still pointer, and goes with it.
    const PixelPoint overSydney = map.viewport().pixelFor(GeoPoint { -34.08, 151.25 });
    QMouseEvent move(QEvent::MouseMove, QPointF(overSydney.x, overSydney.y), map.mapToGlobal(QPointF(overSydney.x, overSydney.y)),
        Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&map, &move);
    EXPECT_EQ(info.shownText(), "Sydney CTR · class C · SFC–4500 ft");
    const MapPoint away = mapPointForCoordinate({ 10, 10 });
    map.setVisibleMapRect({ away.x, away.y, 1e5, 1e5 }, false);
    EXPECT_EQ(info.shownText(), "");
    QApplication::sendEvent(&map, &move);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&map, &leave);
    EXPECT_EQ(info.shownText(), "");

    // Another run finds the OpenAir text beside the window's cache; without it there
    // is nothing to say.
    const MapPoint sydney = mapPointForCoordinate({ -34.08, 151.25 });
    const auto current = [&] { return pty.window().currentAirspaces() ? &*pty.window().currentAirspaces() : nullptr; };
    AirspaceHoverInfo nextRun(map, current, AirspacesWindow::cacheDirectory());
    EXPECT_EQ(nextRun.textAt(sydney, 1), "Sydney CTR · class C · SFC–4500 ft");
    AirspaceHoverInfo unknown(map, current, files.filePath("empty-cache"));
    EXPECT_EQ(unknown.textAt(sydney, 1), "No details for this set");
}

TEST(AirspacesWindowApp, CancelledDownloadAlertsAndTheNextOpeningStillReadsTheHeader)
{
    VendorServerProcess server; // with the test replies: set -3 comes two seconds late
    ASSERT_TRUE(server.isRunning());
    const Bytes approved = makeSet("Slow.txt", "Slow set", 10);
    writeFile(QDir(server.approvedDirectory()).filePath("slow.as"), approved);
    QFile index(QDir(server.approvedDirectory()).filePath("index.txt"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write("-3\tSlow\tslow.as\n");
    index.close();
    QTemporaryDir folder;
    writeFile(folder.filePath("held.as"), makeSet("Held.txt", "Held set", 10));
    AirspacesApp pty(holding(folder.filePath("held.as")), server.baseUrl());

    pty.window().presentAirspacesWindow();
    ASSERT_TRUE(pty.waitForApprovedList());
    pty.ui().uploadButton->click();
    ASSERT_TRUE(pty.window().actionSheet()->isVisible());
    ASSERT_TRUE(pty.window().actionSheetCancelButton()->isEnabled());
    pty.window().actionSheetCancelButton()->click();
    ASSERT_TRUE(waitUntil([&] { return pty.app->alerts.alerts.size() == 2; })); // the question, then the failure
    EXPECT_FALSE(pty.window().actionSheet()->isVisible());
    EXPECT_EQ(pty.app->alerts.alerts[1].message, "Unable to download an Airspaces data from the Corvex server");
    EXPECT_EQ(pty.app->alerts.alerts[1].informativeText, "The download was cancelled; the instrument was not changed.");
    EXPECT_EQ(pty.app->alerts.alerts[1].buttons, std::vector<std::string> { "Close" });
    EXPECT_TRUE(pty.window().deviceOperationCancelled());
    EXPECT_TRUE(pty.app->ui().flightsPanel->isEnabled());

    pty.window().presentAirspacesWindow();
    EXPECT_EQ(pty.window().currentContentView(), pty.ui().downloadAirspacesFromDeviceView);
    EXPECT_TRUE(pty.window().deviceHasAirspaces());
}

TEST(AirspacesWindowApp, InstrumentFaultsDuringAnUploadAreReported)
{
    const Bytes set = makeSet("Thirty.txt", "Thirty chunks", 151);
    ASSERT_EQ(chunkCount(set), 30u);
    QTemporaryDir folder;
    writeFile(folder.filePath("thirty.as"), set);

    // The instrument holds the set, which is read back and uploaded again: the clearing
    // goes first, then the 30 chunks, then the conclusion.
    struct Case {
        const char* name;
        std::uint8_t failingOperation; // the request that the instrument refuses
        int failingOccurrence;
        std::string informativeText;
        bool deviceHasAirspacesAfter;
        int chunksWritten;
        int conclusions;
    };
    const Case cases[] = {
        { "chunk 5 of 30", 3, 4, "We just got an error when uploading chunk #5 out of 30", false, 5, 0 },
        { "conclusion", 4, 1,
            "The instrument did not confirm the end of the upload. The airspaces on the instrument may be incomplete: "
            "please upload them again.",
            true, 30, 1 },
        { "erase", 5, 1,
            "The instrument did not confirm that it erased its airspaces. The airspaces on the instrument may be "
            "incomplete: please clear them again or upload a new set.",
            true, 0, 0 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AirspacesApp pty(holding(folder.filePath("thirty.as")));
        pty.window().presentAirspacesWindow();
        pty.ui().devDownloadAirspacesButton->click();
        ASSERT_TRUE(pty.window().currentAirspaces());
        ASSERT_EQ(*pty.window().currentAirspaces()->internalData(), set);

        std::map<std::uint8_t, int> seen;
        pty.ports.beforeWrite = [&](ByteView request) {
            if (request.size() != 7 || request[0] != 0x0F)
                return;
            if (++seen[request[1]] == c.failingOccurrence && request[1] == c.failingOperation)
                pty.instrument.control("fault airspaces-error");
        };
        pty.ui().uploadAirspacesButton->click();

        ASSERT_EQ(pty.app->alerts.alerts.size(), 2u); // the question, then the failure
        EXPECT_EQ(pty.app->alerts.alerts[1].informativeText, c.informativeText);
        EXPECT_EQ(pty.app->alerts.alerts[1].buttons, std::vector<std::string> { "Close" });
        EXPECT_FALSE(pty.ui().airspacesFilenameLabel->text().startsWith("Current Airspaces: "));
        EXPECT_EQ(pty.window().deviceHasAirspaces(), c.deviceHasAirspacesAfter);
        EXPECT_EQ(seen[2] + seen[3], c.chunksWritten);
        EXPECT_EQ(seen[4], c.conclusions);
        EXPECT_FALSE(pty.window().actionSheet()->isVisible());
        EXPECT_FALSE(pty.app->log.containsPrefix("Totally uploaded"));
        EXPECT_EQ(pty.app->log.contains("Error uploading airspaces to the device"), c.failingOperation == 3);
    }
}

TEST(AirspacesWindowApp, ClearFromTheMenuEmptiesTheInstrument)
{
    QTemporaryDir folder;
    writeFile(folder.filePath("held.as"), makeSet("Held.txt", "Held set", 10));
    AirspacesApp pty(holding(folder.filePath("held.as")));
    bool lockedDuringErase = false;
    pty.ports.beforeWrite = [&](ByteView request) {
        if (isAirspacesRequest(request, 5))
            lockedDuringErase = pty.app->controller->instrumentSession()->isBusy() && pty.window().actionSheet()->isVisible();
    };
    ASSERT_TRUE(pty.app->ui().clearAirspacesMenuItem->isEnabled());
    pty.app->ui().clearAirspacesMenuItem->trigger();
    EXPECT_TRUE(pty.app->log.contains("Clear airspaces"));
    EXPECT_TRUE(lockedDuringErase);
    EXPECT_FALSE(pty.window().actionSheet()->isVisible());
    ASSERT_EQ(pty.app->alerts.alerts.size(), 1u); // the question only
    EXPECT_EQ(pty.app->alerts.alerts[0].message, "Clear the airspaces on the instrument?");
    EXPECT_EQ(pty.ui().lastActionLabel->text(), "The instrument's airspaces were cleared in 0 s.");
    EXPECT_GE(pty.eventLoop.turns, 210);

    pty.window().presentAirspacesWindow();
    EXPECT_EQ(pty.window().currentContentView(), pty.ui().noAirspacesView);
}

TEST(AirspacesWindowApp, SettingsReachTheWindowThroughThePreferencesWindow)
{
    AirspacesApp pty;
    UserPreferencesWindow preferences(pty.app->preferences);
    Ui::UserPreferencesWindow& ui = preferences.ui();
    EXPECT_EQ(ui.displayAirspacesAsPopup->currentIndex(), 0);
    EXPECT_TRUE(ui.openAirEnabledCheckbox->isChecked());
    EXPECT_FALSE(pty.ui().openAirSupportSubview->isHidden());

    ui.openAirEnabledCheckbox->setChecked(false);
    EXPECT_EQ(pty.app->preferences.value("openAirEnabled"), false);
    EXPECT_TRUE(pty.ui().openAirSupportSubview->isHidden());

    emit ui.displayAirspacesAsPopup->activated(2);
    emit ui.airspacesMapTypePopup->activated(1);
    EXPECT_EQ(pty.app->preferences.value("displayAirspacesAs").toInt(), 2);
    EXPECT_EQ(pty.app->preferences.value("airspacesMapType").toInt(), 1);

    // Written elsewhere, shown here.
    pty.app->preferences.setValue("displayAirspacesAs", 3);
    EXPECT_EQ(ui.displayAirspacesAsPopup->currentIndex(), 3);
}

TEST(AirspacesWindowApp, TheMapFollowsTheDisplaySettingsAtOnce)
{
    QTemporaryDir folder;
    const Bytes set = makeSet("Ring.txt", "One ring", 20);
    writeFile(folder.filePath("ring.as"), set);
    AirspacesApp pty(holding(folder.filePath("ring.as")));
    pty.app->preferences.setValue("mapTileURLSatellite", "http://127.0.0.1:9/{z}/{x}/{y}.png");
    pty.window().presentAirspacesWindow();
    pty.ui().downloadAirspacesFromTheDeviceButton->click();
    MapView& map = *pty.ui().mapView;
    ASSERT_EQ(map.overlays().size(), 1u);
    EXPECT_TRUE(map.visibleMapRect().intersects(map.overlays()[0]->boundingMapRect()));

    struct Step {
        const char* key;
        QVariant value;
        bool rebuilt;
        MapOverlay::Kind kind;
        std::optional<MapColor> stroke;
        std::optional<MapColor> fill;
    };
    const MapColor black { 0, 0, 0, 1 };
    const MapColor red { 1, 0, 0, 1 };
    const Step steps[] = {
        { "openAirEnabled", false, false, MapOverlay::Kind::Polyline, black, std::nullopt },
        { "displayAirspacesAs", 2, true, MapOverlay::Kind::Polygon, red, MapColor { 1, 0, 0, 0.2 } },
        { "airspacesMapType", 1, false, MapOverlay::Kind::Polygon, red, MapColor { 1, 0, 0, 0.2 } },
        { "displayAirspacesAs", 0, true, MapOverlay::Kind::Polyline, black, std::nullopt },
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.key) + " = " + step.value.toString().toStdString());
        const auto before = map.overlays()[0];
        pty.app->preferences.setValue(step.key, step.value);
        ASSERT_EQ(map.overlays().size(), 1u);
        EXPECT_EQ(map.overlays()[0] != before, step.rebuilt);
        EXPECT_EQ(map.overlays()[0]->kind(), step.kind);
        const MapOverlayStyle style = pty.window().rendererForOverlay(map, *map.overlays()[0]);
        EXPECT_EQ(style.strokeColor, step.stroke);
        EXPECT_EQ(style.fillColor, step.fill);
    }
    EXPECT_EQ(map.mapType(), MapType::Satellite);

    // A terrain folder chosen meanwhile reaches the open window: relief under the
    // airspaces, and none again without it. One 3" tile of level ground at sea level.
    QTemporaryDir terrain;
    writeFile(terrain.filePath("N45E006.hgt"), Bytes(1201 * 1201 * 2, 0));
    EXPECT_FALSE(pty.window().reliefLayer().hasTerrain());
    pty.app->preferences.setValue("terrainFolder", terrain.path());
    EXPECT_TRUE(waitUntil([&] { return pty.window().reliefLayer().hasTerrain(); }));
    pty.app->preferences.setValue("terrainFolder", "");
    EXPECT_FALSE(pty.window().reliefLayer().hasTerrain());
}

// The actions that only show: the web preview of an approved set, the header dialog,
// the drawer; an empty approved list; a whole read of an instrument without a set.
TEST(AirspacesWindowApp, PreviewsHeaderAndDrawerChangeNothingOnTheInstrument)
{
    VendorServerProcess server(QStringList {});
    ASSERT_TRUE(server.isRunning());
    {
        // No approved set: nothing to pick, so nothing to upload.
        AirspacesApp pty({}, server.baseUrl());
        pty.window().presentAirspacesWindow();
        // An empty list logs nothing: give the loopback reply ample time.
        runEventLoopFor(1500);
        EXPECT_EQ(pty.ui().airspacesPopupButton->count(), 0);
        EXPECT_FALSE(pty.ui().uploadButton->isEnabled());
        pty.window().proceedWithUploadingButton();
        EXPECT_TRUE(waitUntil([&] { return pty.app->log.contains("Nothing selected in the combo box, can't download"); }));
        EXPECT_FALSE(pty.window().actionSheet()->isVisible());

        // A whole read of an empty instrument gives no bytes, and no alert.
        pty.ui().devDownloadAirspacesButton->click();
        EXPECT_TRUE(pty.app->log.contains("Totally read from the device: 0 bytes"));
        EXPECT_TRUE(pty.app->log.contains("There are no airspaces on the device"));
        EXPECT_TRUE(pty.app->alerts.alerts.empty());
        EXPECT_EQ(pty.window().currentContentView(), pty.ui().noAirspacesView);
    }

    const Bytes approved = makeSet("Jura.txt", "Approved Jura", 30, 47.2, 6.9);
    writeFile(QDir(server.approvedDirectory()).filePath("Jura.as"), approved);
    AirspacesApp pty({}, server.baseUrl());
    std::size_t airspacesRequests = 0;
    pty.ports.beforeWrite = [&](ByteView request) { airspacesRequests += request.size() == 7 && request[0] == 0x0F; };
    pty.window().presentAirspacesWindow();
    ASSERT_TRUE(pty.waitForApprovedList());
    const std::size_t requestsAfterOpening = airspacesRequests;

    // The preview shows the set on the map, and neither caches nor uploads.
    pty.ui().webDownloadAirspacesButton->click();
    ASSERT_TRUE(waitUntil([&] { return pty.window().currentAirspaces().has_value(); }));
    EXPECT_FALSE(pty.window().actionSheet()->isVisible());
    EXPECT_EQ(pty.window().currentAirspaces()->airspacesFilename(), "Jura.txt");
    EXPECT_EQ(pty.ui().mapView->overlays().size(), 1u);
    EXPECT_EQ(pty.window().currentContentView(), pty.ui().viewWithMap);
    pty.ui().uploadAnotherAirspacesFileButton->click();
    pty.ui().renderOnMapButton->click(); // Draw Again, from the upload view
    EXPECT_EQ(pty.window().currentContentView(), pty.ui().viewWithMap);
    EXPECT_EQ(airspacesRequests, requestsAfterOpening);
    EXPECT_FALSE(pty.window().deviceHasAirspaces());
    EXPECT_TRUE(QDir(pty.dataHome.filePath("Corvex")).entryList(QDir::Files).isEmpty());

    // The header dialog, with the short English date.
    pty.ui().infoButton->click();
    ASSERT_EQ(pty.app->alerts.alerts.size(), 1u);
    EXPECT_EQ(pty.app->alerts.alerts[0].message, "Airspaces info");
    EXPECT_EQ(pty.app->alerts.alerts[0].kind, Alert::Kind::Information);
    EXPECT_EQ(pty.app->alerts.alerts[0].informativeText,
        formatString("Airspaces filename: Jura.txt\nDescription: Approved Jura\nUpload date: 30 Apr 2024\nNumber of segments: %ld",
            static_cast<long>(pty.window().currentAirspaces()->numberOfSegments())));
    EXPECT_EQ(pty.app->alerts.alerts[0].buttons, std::vector<std::string> { "Close" });

    // The drawer opens and closes with its button.
    pty.window().show();
    EXPECT_FALSE(pty.ui().secretDrawer->isVisible());
    pty.ui().toggleSecretDrawerButton->click();
    EXPECT_TRUE(pty.ui().secretDrawer->isVisible());
    pty.ui().toggleSecretDrawerButton->click();
    EXPECT_FALSE(pty.ui().secretDrawer->isVisible());
}

// From the upload view, with Jura picked in the drawer's list: each tool shows the map
// and its label tells the shown set from the instrument's; erasing steps ask first
// (No is the default) and No leaves the instrument alone.
TEST(AirspacesWindowApp, ToolsShowTheMapAndAskBeforeErasing)
{
    VendorServerProcess server(QStringList {});
    ASSERT_TRUE(server.isRunning());
    for (std::string name : { "Alps", "Jura" })
        writeFile(QDir(server.approvedDirectory()).filePath(QString::fromStdString(name + ".as")), makeSet(name + ".txt", name, 30));
    QTemporaryDir folder;
    writeFile(folder.filePath("held.as"), makeSet("Held.txt", "Held set", 10));
    const QString held = "Current Airspaces: Held.txt (uploaded on 30 Apr 2024)";
    using W = Ui::AirspacesWindow;
    // Button, answer (0 yes, 1 No), the question's yes, view, label, last action's line.
    const std::tuple<QPushButton* W::*, int, std::string, QWidget* W::*, QString, const char*> cases[] = {
        { &W::webDownloadAirspacesButton, 0, "", &W::viewWithMap, held + "\nShown, not on the instrument: Jura.txt", "^$" },
        { &W::convertOpenairToInternalButton, 0, "", &W::viewWithMap, held + "\nShown, not on the instrument: openair.txt", "^$" },
        { &W::devDownloadAirspacesButton, 0, "", &W::viewWithMap, held, "^Read Held.txt from the instrument: \\d+ KB in \\d+ s$" },
        { &W::uploadButton, 0, "Replace", &W::viewWithMap, "Current Airspaces: Jura.txt (uploaded on 30 Apr 2024)",
            "^Jura.txt is on the instrument: \\d+ KB in \\d+ s$" },
        { &W::uploadButton, 1, "Replace", &W::chooseAirspaceToUploadView, held, "^$" },
        { &W::uploadAirspacesFromAnOpenAirFile, 1, "Replace", &W::chooseAirspaceToUploadView, held, "^$" },
        { &W::clearAirspacesButton, 1, "Clear", &W::chooseAirspaceToUploadView, held, "^$" },
        { &W::clearAirspacesButton, 0, "Clear", &W::noAirspacesView, "The instrument holds no airspaces.",
            "^The instrument's airspaces were cleared in \\d+ s\\.$" },
    };
    for (const auto& [button, answer, yes, view, label, lastAction] : cases) {
        SCOPED_TRACE(label.toStdString() + lastAction);
        AirspacesApp pty(holding(folder.filePath("held.as")), server.baseUrl());
        pty.openAirFile = QString(CORVEX_TESTDATA_DIR "/openair/openair.txt");
        pty.window().presentAirspacesWindow();
        ASSERT_TRUE(pty.waitForApprovedList());
        pty.ui().airspacesListPopupButton->setCurrentIndex(1);
        EXPECT_EQ(pty.ui().airspacesPopupButton->currentText(), "Jura");
        pty.ui().proceedToSelectAirspacesToUploadViewButton->click();
        int erasingOrWriting = 0;
        pty.ports.beforeWrite = [&](ByteView request) {
            erasingOrWriting += request.size() == 7 && request[0] == 0x0F && request[1] >= 2 && request[1] <= 5;
        };
        pty.app->alerts.answers = { answer };
        (pty.ui().*button)->click();
        waitUntil([&, &label = label] { return pty.ui().airspacesFilenameLabel->text() == label; });
        EXPECT_EQ(pty.window().currentContentView(), pty.ui().*view);
        EXPECT_EQ(pty.ui().airspacesFilenameLabel->text(), label);
        EXPECT_TRUE(pty.ui().lastActionLabel->text().contains(QRegularExpression(lastAction)));
        EXPECT_EQ(erasingOrWriting > 0, answer == 0 && !yes.empty());
        ASSERT_EQ(pty.app->alerts.alerts.size(), yes.empty() ? 0u : 1u);
        for (const Alert& question : pty.app->alerts.alerts) {
            EXPECT_EQ(question.buttons, (std::vector<std::string> { yes, "No" }));
            EXPECT_EQ(question.defaultButton, 1);
            EXPECT_NE(question.informativeText.find("Held.txt (uploaded on 30 Apr 2024)"), std::string::npos);
        }
    }
}

// What failed, why, and what still works, said in the window.
TEST(AirspacesWindowApp, FailuresSayWhatFailedAndWhy)
{
    VendorServerProcess server; // with the test replies
    ASSERT_TRUE(server.isRunning());
    writeFile(QDir(server.approvedDirectory()).filePath("index.txt"), Bytes { '7', '\t', 'G', '\t', 'g', '\n' });
    QTemporaryDir folder;
    const std::string text = "AC C\nAN X\nAL 1000 fx\nDP 47:00:00 N 008:00:00 E\n";
    writeFile(folder.filePath("bad.txt"), Bytes(text.begin(), text.end()));
    using W = Ui::AirspacesWindow;
    const std::tuple<bool, const char*, QPushButton* W::*, std::string> cases[] = {
        { true, "test: refuse", &W::convertOpenairToInternalButton,
            "The airspaces service refused the file: The conversion service is not available at the moment" },
        { false, "", &W::uploadAirspacesFromAnOpenAirFile,
            "The file could not be read as OpenAir:\nline 3: AL altitude '1000 fx' is not understood" },
        { true, "", &W::webDownloadAirspacesButton, "The service refused: The approved airspaces 7 cannot be read" },
    };
    for (const auto& [reachable, description, button, informative] : cases) {
        AirspacesApp pty({}, reachable ? server.baseUrl() : QString(unreachableServer));
        pty.openAirFile = *description ? QString(CORVEX_TESTDATA_DIR "/openair/openair.txt") : folder.filePath("bad.txt");
        pty.description = QString::fromUtf8(description);
        pty.window().presentAirspacesWindow();
        ASSERT_TRUE(waitUntil([&] { return !pty.ui().serviceStatusLabel->isHidden() || pty.ui().uploadButton->isEnabled(); }));
        EXPECT_EQ(pty.ui().serviceStatusLabel->text().contains("did not answer: its approved sets cannot be listed or uploaded now. "
                                                               "An OpenAir file still converts"), !reachable);
        (pty.ui().*button)->click();
        ASSERT_TRUE(waitUntil([&] { return !pty.app->alerts.alerts.empty(); }));
        EXPECT_EQ(pty.app->alerts.alerts.back().informativeText, informative);
    }
}

// Satellite and Hybrid only with their tiles' address, else Standard, in the window
// and in the preferences window alike.
TEST(AirspacesWindowApp, MapTypesAreOfferedOnlyWithTheirTiles)
{
    AirspacesApp pty;
    UserPreferencesWindow preferences(pty.app->preferences);
    QComboBox& preferencesPopup = *preferences.ui().airspacesMapTypePopup;
    const auto enabledRows = [&preferencesPopup] {
        auto* model = qobject_cast<QStandardItemModel*>(preferencesPopup.model());
        int enabled = 0;
        for (int row = 0; row < model->rowCount(); ++row)
            enabled += model->item(row)->isEnabled() ? 1 : 0;
        return enabled;
    };
    const QString url = "http://127.0.0.1:9/{z}/{x}/{y}.png";
    const std::tuple<QString, QString, int, int, MapType> cases[] = {
        { "", "", 1, 1, MapType::Standard },
        { url, "", 1, 2, MapType::Satellite },
        { " ", url, 1, 2, MapType::Standard },
        { "", url, 2, 2, MapType::Hybrid },
        { url, url, 7, 3, MapType::Standard },
    };
    QComboBox& popup = *pty.ui().mapTypePopup;
    for (const auto& [satellite, hybrid, saved, offered, shown] : cases) {
        pty.app->preferences.setValue("mapTileURLSatellite", satellite);
        pty.app->preferences.setValue("mapTileURLHybrid", hybrid);
        pty.app->preferences.setValue("airspacesMapType", saved);
        EXPECT_EQ(popup.count(), offered);
        EXPECT_EQ(pty.ui().mapView->mapType(), shown);
        EXPECT_EQ(popup.currentData().toInt(), static_cast<int>(shown));
        EXPECT_EQ(enabledRows(), offered);
        // A stored value no list offers selects nothing there.
        EXPECT_EQ(preferencesPopup.currentIndex(), saved > 2 ? -1 : static_cast<int>(shown));
    }
}
