// The whole program session against the virtual instrument on a real pty, found by the
// instruments-folder discovery as the program finds it: connection at launch, the
// airspaces gate per model and firmware, unplugging, a failing flight list and the
// communications-log preference.
#include "AppTestSupport.h"
#include "VirtualInstrumentProcess.h"
#include "app/LevelIndicator.h"
#include "app/LibraryController.h"
#include "library/FlightLibrary.h"
#include "library/ui/BarogramView.h"
#include "library/ui/FlightWindow.h"
#include "library/ui/LibraryTableModel.h"
#include "library/ui/LibraryWindow.h"
#include "map/qt/MarkersLayer.h"
#include "app/UserPreferencesWindow.h"
#include "platform/HttpClient.h"
#include "platform/PosixSerialLine.h"
#include "platform/qt/SystemDiscovery.h"
#include "ui_UserPreferencesWindow.h"

#include <QAction>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <tuple>

using namespace corvex;
using namespace corvex::testing;

namespace {

std::size_t sharedFlightCount()
{
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(CORVEX_TESTDATA_DIR "/igc")) {
        std::string extension = entry.path().extension().string();
        if (extension == ".igc" || extension == ".IGC")
            ++count;
    }
    return count;
}

TEST(VirtualInstrumentApp, InstrumentPresentAtLaunchFillsTheWindow)
{
    VirtualInstrumentProcess::Options options;
    options.deviceId = 0x00C0FFEE;
    options.firmwareVersion = 2405;
    options.batteryTenthsOfVolt = 39;
    options.extraArguments = { "--pilot", "Ada Lovelace" };
    VirtualInstrumentProcess instrument(options);
    ASSERT_TRUE(instrument.isRunning());
    PtyApp pty(instrument);
    AppHarness& app = *pty.app;
    app.launch();

    Ui::MainWindow& ui = app.ui();
    EXPECT_EQ(ui.serialLabel->text(), "Serial Number: C0FFEE\nDevice Firmware: 2405");
    EXPECT_EQ(ui.pilotNameLabel->text(), "Pilot: Ada Lovelace");
    EXPECT_TRUE(app.alerts.alerts.empty());

    const std::vector<std::string> titles = app.comboTitles();
    ASSERT_EQ(titles.size(), 1 + sharedFlightCount());
    EXPECT_EQ(titles.front(), "All Available");
    // Newest first: "n: yy-mm-dd    hh:mm" compares by date and time as text; the
    // flight's duration follows.
    const QRegularExpression title(
        QStringLiteral("^(\\d+): (\\d\\d-\\d\\d-\\d\\d    \\d\\d:\\d\\d)    (\\d+ min|\\d+ h \\d\\d)$"));
    std::vector<std::tuple<std::string, int>> launches;
    for (std::size_t i = 1; i < titles.size(); ++i) {
        auto match = title.match(QString::fromStdString(titles[i]));
        ASSERT_TRUE(match.hasMatch()) << titles[i];
        launches.emplace_back(match.captured(2).toStdString(), match.captured(1).toInt());
    }
    EXPECT_TRUE(std::is_sorted(launches.rbegin(), launches.rend())) << "flights are not newest first";
    EXPECT_EQ(ui.logEntriesCombo->currentIndex(), -1);

    LevelIndicator* battery = ui.batteryVoltageIndicator;
    EXPECT_NEAR(battery->doubleValue(), battery->maxValue() * 4 / 7, 1e-9);
    EXPECT_TRUE(battery->isEnabled());
    EXPECT_TRUE(ui.manageAirspacesMenuItem->isEnabled());
    EXPECT_TRUE(app.log.contains("Enabling AIRSPACES for Wren device, since FW VER is '2.405' (which is >= 2.401)"));
}

TEST(VirtualInstrumentApp, AirspacesNeedTheirFirmwarePerModel)
{
    struct Case {
        const char* model;
        std::uint16_t firmware;
        bool enabled;
    };
    const Case cases[] = {
        { "lark", 1365, true },
        { "lark", 1364, false },
        { "wren", 2401, true },
        { "wren", 2400, false },
        { "wren", 2000, false },
    };
    for (const Case& c : cases) {
        VirtualInstrumentProcess::Options options;
        options.model = c.model;
        options.firmwareVersion = c.firmware;
        VirtualInstrumentProcess instrument(options);
        ASSERT_TRUE(instrument.isRunning()) << c.model << " " << c.firmware;
        PtyApp pty(instrument);
        pty.app->launch();
        const std::string where = std::string(c.model) + " " + std::to_string(c.firmware);
        EXPECT_EQ(pty.app->ui().serialLabel->text().toStdString(),
            "Serial Number: C0FFEE\nDevice Firmware: " + std::to_string(c.firmware))
            << where;
        EXPECT_EQ(pty.app->ui().manageAirspacesMenuItem->isEnabled(), c.enabled) << where;
        EXPECT_EQ(pty.app->ui().clearAirspacesMenuItem->isEnabled(), c.enabled) << where;
        EXPECT_EQ(pty.app->device().isWren(), std::string(c.model) == "wren") << where;
    }
}

TEST(VirtualInstrumentApp, UnplugGreysTheWindowAndReplugFillsItAgain)
{
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    PtyApp pty(instrument);
    AppHarness& app = *pty.app;
    app.launch();
    Ui::MainWindow& ui = app.ui();
    ASSERT_GT(ui.logEntriesCombo->count(), 1);

    ASSERT_TRUE(instrument.unplug());
    ASSERT_TRUE(waitUntil([&] { return ui.serialLabel->text() == "Device is not connected"; }));
    EXPECT_EQ(ui.logEntriesCombo->count(), 0);
    EXPECT_FALSE(ui.logEntriesCombo->isEnabled());
    EXPECT_FALSE(ui.downloadLogbookButton->isEnabled());
    EXPECT_FALSE(ui.logTypeMatrix->isEnabled());
    EXPECT_TRUE(ui.editPilotDataButton->isHidden());
    EXPECT_EQ(ui.batteryVoltageIndicator->doubleValue(), 0);
    EXPECT_FALSE(ui.eraseLogBookMenuItem->isEnabled());
    EXPECT_FALSE(ui.manageAirspacesMenuItem->isEnabled());
    EXPECT_EQ(app.window.backgroundName(), "CloudsBackgroundGrayscale.tiff");

    ASSERT_TRUE(instrument.plug());
    ASSERT_TRUE(waitUntil([&] { return ui.logEntriesCombo->count() > 1; }));
    EXPECT_EQ(ui.serialLabel->text(), "Serial Number: C0FFEE\nDevice Firmware: 2405");
    EXPECT_TRUE(app.alerts.alerts.empty());
}

TEST(VirtualInstrumentApp, FailedFlightListAlertsOnceAndStaysConnected)
{
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    HookedPorts ports;
    bool faultSet = false;
    // Spoil the answers from the first flight-list request on, and heal the line at
    // the next device-info request (the battery reading that follows the list).
    ports.beforeWrite = [&](ByteView request) {
        if (!faultSet && request.size() >= 2 && request[0] == 0x03 && request[1] == 0x05) {
            faultSet = instrument.control("fault wrong-first-byte");
        } else if (faultSet && !request.empty() && request[0] == 0x01) {
            instrument.control("fault none");
        }
    };
    PtyApp pty(instrument, &ports);
    AppHarness& app = *pty.app;
    app.launch();
    ASSERT_TRUE(faultSet);

    ASSERT_EQ(app.alerts.alerts.size(), 1u);
    EXPECT_EQ(app.alerts.alerts[0].message, "Error downloading flights list");
    EXPECT_EQ(app.comboTitles(), std::vector<std::string> { "All Available" });
    Ui::MainWindow& ui = app.ui();
    EXPECT_EQ(ui.serialLabel->text(), "Serial Number: C0FFEE\nDevice Firmware: 2405");
    EXPECT_TRUE(ui.logEntriesCombo->isEnabled());
    EXPECT_TRUE(ui.downloadLogbookButton->isEnabled());
    EXPECT_TRUE(ui.batteryVoltageIndicator->isEnabled());
    EXPECT_GT(ui.batteryVoltageIndicator->doubleValue(), 0);
}

TEST(VirtualInstrumentApp, CommunicationsLogFollowsThePreferencesWindow)
{
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    PtyApp pty(instrument);
    AppHarness& app = *pty.app;
    app.launch();
    EXPECT_FALSE(app.log.containsPrefix("deviceWriteData: "));

    app.ui().preferencesMenuItem->trigger();
    UserPreferencesWindow* preferences = app.controller->userPreferencesWindow();
    ASSERT_NE(preferences, nullptr);
    preferences->ui().logCommunicationsCheckbox->click();
    EXPECT_TRUE(app.device().shouldLogCommunications());

    app.ui().eraseLogBookMenuItem->trigger();
    EXPECT_TRUE(app.log.contains("deviceWriteData: <0302>"));
    EXPECT_TRUE(app.log.containsPrefix("deviceReadDataOfLength 28: <"));

    preferences->ui().logCommunicationsCheckbox->click();
    app.log.lines.clear();
    app.controller->updateBatteryIndicator();
    EXPECT_FALSE(app.log.containsPrefix("deviceWriteData: "));
    preferences->close();
}

} // namespace

// A pilot plugs in and the new flights are in the library, in its open window, without
// a click; the next plug-in downloads nothing; a flight opens with one cursor for its
// map and its barogram.
TEST(VirtualInstrumentApp, PluggingInKeepsTheNewFlightsInTheLibrary)
{
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    PtyApp pty(instrument);
    AppHarness& app = *pty.app;
    QTemporaryDir folder;
    app.preferences.setValue(QStringLiteral("syncFlightsOnConnection"), true);
    app.preferences.setValue(QStringLiteral("flightLibraryFolder"), folder.path());
    LibraryController& library = *app.controller->libraryController();
    library.showWindow();
    library::LibraryWindow* window = library.window();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->model().rowCount(), 0);
    app.launch();

    const int flights = static_cast<int>(sharedFlightCount());
    ASSERT_TRUE(waitUntil([&] { return window->model().rowCount() == flights; }, 60000));
    ASSERT_TRUE(waitUntil([&] { return app.window.statusText().endsWith(QString(" %1 new flights saved into the library.").arg(flights)); }))
        << app.window.statusText().toStdString();
    EXPECT_TRUE(app.alerts.alerts.empty());

    ASSERT_TRUE(instrument.unplug());
    ASSERT_TRUE(waitUntil([&] { return app.ui().serialLabel->text() == "Device is not connected"; }));
    ASSERT_TRUE(instrument.plug());
    ASSERT_TRUE(waitUntil([&] { return app.window.statusText().endsWith(QString("No new flights; %1 already in the library.").arg(flights)); }))
        << app.window.statusText().toStdString();
    EXPECT_EQ(window->model().rowCount(), flights);
    // The scores came after the sync, off the window's thread, into the table.
    ASSERT_TRUE(waitUntil([&] {
        const auto& shown = window->model().flights();
        return std::all_of(shown.begin(), shown.end(), [](const library::LibraryFlight& flight) { return flight.scorePoints.has_value(); });
    }, 60000));
    EXPECT_FALSE(library.isScoring());

    // The longest flight, as the pilot would look at it.
    window->table().sortByColumn(library::LibraryTableModel::Duration, Qt::DescendingOrder);
    window->table().selectRow(0);
    const auto longest = window->selectedFlight();
    ASSERT_TRUE(longest);
    library::FlightWindow* view = window->openFlight(*longest);
    ASSERT_TRUE(view->loadError().isEmpty()) << view->loadError().toStdString();
    EXPECT_EQ(static_cast<std::int64_t>(view->track().size()), longest->fixes);
    view->showFix(1000);
    EXPECT_EQ(view->barogram().cursorIndex(), 1000u);
    EXPECT_EQ(view->markers().cursorIndex(), 1000u);
    const TrackPoint& fix = view->track()[2000];
    const auto found = view->nearestFix(fix.position.latitude, fix.position.longitude);
    ASSERT_TRUE(found);
    EXPECT_EQ(view->track()[*found].position.latitude, fix.position.latitude) << "a click on the track finds its fix";
    EXPECT_EQ(view->track()[*found].position.longitude, fix.position.longitude);
    view->close();
}

namespace {

// Refuses every request on a later turn of the loop, as a server that is not there,
// and keeps the addresses asked for.
class RefusingHttp final : public HttpClient {
public:
    std::unique_ptr<HttpTransfer> send(HttpRequest request, HttpCallbacks callbacks) override
    {
        urls.push_back(request.url);
        auto alive = std::make_shared<bool>(true);
        QTimer::singleShot(0, [alive, completion = std::move(callbacks.completion)] {
            if (*alive && completion)
                completion(HttpResponse { HttpError { HttpError::Kind::transport, "Connection refused" } });
        });
        return std::make_unique<Transfer>(alive);
    }
    std::vector<std::string> urls;

private:
    struct Transfer final : HttpTransfer {
        explicit Transfer(std::shared_ptr<bool> flag)
            : alive(std::move(flag))
        {
        }
        ~Transfer() override { *alive = false; }
        void cancel() override { }
        std::shared_ptr<bool> alive;
    };
};

} // namespace

// The pilot's usual order: the instrument plugged in, then the program started for the
// first time, with nothing but the shipped defaults. Its flights are in the library and
// the update check went to the vendor's host.
TEST(VirtualInstrumentApp, PluggedInBeforeTheStartSavesWithTheDefaults)
{
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    RefusingHttp http;
    PtyApp pty(instrument, nullptr, nullptr, &http);
    AppHarness& app = *pty.app;
    QTemporaryDir folder;
    app.preferences.removeValue(QStringLiteral("syncFlightsOnConnection"));
    app.preferences.removeValue(QStringLiteral("vendorServerURL"));
    // The one value of the test's own: the library is not the user's.
    app.preferences.setValue(QStringLiteral("flightLibraryFolder"), folder.path());
    app.launch();

    const int flights = static_cast<int>(sharedFlightCount());
    ASSERT_TRUE(waitUntil([&] { return app.window.statusText().endsWith(QString(" %1 new flights saved into the library.").arg(flights)); }, 60000))
        << app.window.statusText().toStdString();
    library::FlightLibrary* flightLibrary = app.controller->libraryController()->library();
    ASSERT_TRUE(flightLibrary);
    EXPECT_EQ(*flightLibrary->index().count(), flights);
    ASSERT_FALSE(http.urls.empty());
    EXPECT_EQ(QUrl(QString::fromStdString(http.urls.front())).host().toStdString(), "vendor.example");
}

// "Save New Flights Now" runs the connection's sync though the preference keeps it from
// running by itself: offered only while the instrument is connected and free, from the
// library window and the File menu alike, its summary replacing the last one.
TEST(VirtualInstrumentApp, SaveNewFlightsNowRunsTheSync)
{
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    PtyApp pty(instrument);
    AppHarness& app = *pty.app;
    QTemporaryDir folder;
    app.preferences.setValue(QStringLiteral("flightLibraryFolder"), folder.path());
    LibraryController& library = *app.controller->libraryController();
    library.showWindow();
    library::LibraryWindow* window = library.window();
    ASSERT_TRUE(window);
    QAction& saveNow = window->saveNewFlightsAction();
    EXPECT_FALSE(saveNow.isEnabled());
    EXPECT_EQ(saveNow.toolTip(), "Plug in the instrument to save its new flights");
    EXPECT_TRUE(window->emptyTableHint().startsWith("No flights yet.")) << window->emptyTableHint().toStdString();

    app.launch();
    QAction& menuItem = *app.ui().saveNewFlightsMenuItem;
    ASSERT_TRUE(waitUntil([&] { return saveNow.isEnabled() && menuItem.isEnabled(); }));
    EXPECT_EQ(window->model().rowCount(), 0) << "the preference keeps the sync from running by itself";

    const int flights = static_cast<int>(sharedFlightCount());
    saveNow.trigger();
    EXPECT_EQ(window->model().rowCount(), flights);
    EXPECT_TRUE(window->emptyTableHint().isEmpty());
    const QString saved = QString(" %1 new flights saved into the library.").arg(flights);
    EXPECT_TRUE(app.window.statusText().endsWith(saved)) << app.window.statusText().toStdString();
    EXPECT_EQ(window->statusLabel().text(), saved.trimmed());

    menuItem.trigger();
    const QString again = app.window.statusText();
    EXPECT_TRUE(again.endsWith(QString(" No new flights; %1 already in the library.").arg(flights))) << again.toStdString();
    EXPECT_FALSE(again.contains("saved into the library")) << "one summary after the connected line";
    EXPECT_EQ(window->model().rowCount(), flights);

    ASSERT_TRUE(instrument.unplug());
    ASSERT_TRUE(waitUntil([&] { return !saveNow.isEnabled(); }));
    EXPECT_FALSE(menuItem.isEnabled());
    EXPECT_EQ(saveNow.toolTip(), "Plug in the instrument to save its new flights");
}
