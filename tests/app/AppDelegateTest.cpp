// The controller's own decisions, against a scripted instrument: what the window shows
// after a connection, each failure's alert, the battery arithmetic, the launch order,
// the busy guard, the launcher actions and the preference binding.
#include "AppTestSupport.h"
#include "FakeSerialLine.h"
#include "airspaces/ui/AirspacesWindow.h"
#include "app/FilePanelPresenter.h"
#include "app/FlightRecordMetaType.h"
#include "app/HelpWindows.h"
#include "app/LibraryController.h"
#include "app/LevelIndicator.h"
#include "app/MessageBoxAlertPresenter.h"
#include "app/PleaseWaitSheet.h"
#include "app/Resources.h"
#include "app/UserPreferencesWindow.h"
#include "ui_AirspacesWindow.h"
#include "ui_UserPreferencesWindow.h"
#include "updates/ui/UpdateWindow.h"

#include <QGuiApplication>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTextBrowser>
#include <QTemporaryDir>
#include <QTimer>
#include <QPixmap>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <tuple>

#include <algorithm>

using namespace corvex;
using namespace corvex::testing;

namespace {

const std::string port = "/dev/ttyACM0";
const Bytes airspacesEraseRequest { 0x0F, 0x05, 0x00 };

struct FakeFlight {
    int number;
    int year, month, day, hour, minute;
    int duration;
};

// A scripted instrument: device info, units, an empty pilot-data answer and the short
// flight list, record by record; every request is recorded by the fake line.
struct ScriptedInstrument {
    std::uint32_t deviceId { 0x00C0FFEE };
    std::uint16_t firmware { 2405 };
    std::uint8_t battery { 40 };
    std::vector<FakeFlight> flights;
    bool silentDeviceInfo { false };
    bool corruptFlightList { false };
    std::function<void()> onDeviceInfoRequest;

    std::size_t nextFlight { 0 };

    Bytes answer(const Bytes& request)
    {
        if (request.empty())
            return {};
        switch (request[0]) {
        case 0x01: {
            if (onDeviceInfoRequest)
                onDeviceInfoRequest();
            if (silentDeviceInfo)
                return {};
            Bytes info(28, 0);
            info[0] = 0x02;
            info[1] = static_cast<std::uint8_t>(deviceId >> 24);
            info[2] = static_cast<std::uint8_t>(deviceId >> 16);
            info[3] = static_cast<std::uint8_t>(deviceId >> 8);
            info[4] = static_cast<std::uint8_t>(deviceId);
            info[7] = static_cast<std::uint8_t>(firmware >> 8);
            info[8] = static_cast<std::uint8_t>(firmware);
            info[9] = battery;
            return info;
        }
        case 0x0D:
            return { 0x0D, 0x08 };
        case 0x03:
            if (request.size() >= 2 && request[1] == 0x05)
                return nextRecord();
            if (request.size() >= 2 && request[1] == 0x02)
                return Bytes(28, 0);
            return {};
        default:
            return {};
        }
    }

    Bytes nextRecord()
    {
        if (flights.empty())
            return {};
        if (nextFlight >= flights.size())
            nextFlight = 0;
        const FakeFlight& flight = flights[nextFlight++];
        Bytes record(89, 0);
        record[0] = corruptFlightList ? 0x06 : 0x05;
        const std::size_t following = flights.size() - nextFlight;
        record[1] = static_cast<std::uint8_t>(following >> 8);
        record[2] = static_cast<std::uint8_t>(following);
        record[3] = 89;
        record[6] = static_cast<std::uint8_t>(flight.number >> 8);
        record[7] = static_cast<std::uint8_t>(flight.number);
        record[8] = static_cast<std::uint8_t>(flight.hour);
        record[9] = static_cast<std::uint8_t>(flight.minute);
        record[10] = static_cast<std::uint8_t>(flight.day);
        record[11] = static_cast<std::uint8_t>(flight.month);
        record[12] = static_cast<std::uint8_t>(flight.year);
        record[13] = static_cast<std::uint8_t>(flight.duration >> 8);
        record[14] = static_cast<std::uint8_t>(flight.duration);
        return record;
    }
};

std::size_t countRequests(const FakeSerialLine::State& line, const Bytes& prefix)
{
    return static_cast<std::size_t>(std::count_if(line.written.begin(), line.written.end(), [&](const Bytes& request) {
        return request.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), request.begin());
    }));
}

class AppDelegateTest : public ::testing::Test {
protected:
    AppDelegateTest()
        : app(ports, &discovery, &eventLoop)
    {
        ports.state->responder = [this](const Bytes& request) { return instrument.answer(request); };
    }

    // Launches with the scripted instrument already plugged in.
    void launchConnected()
    {
        discovery.present = { port };
        app.launch();
    }

    void expectDisconnectedWindow()
    {
        Ui::MainWindow& ui = app.ui();
        EXPECT_EQ(ui.serialLabel->text(), "Device is not connected");
        EXPECT_EQ(ui.pilotNameLabel->text(), "");
        EXPECT_TRUE(ui.editPilotDataButton->isHidden());
        EXPECT_FALSE(ui.logTypeMatrix->isEnabled());
        EXPECT_FALSE(ui.downloadLogbookButton->isEnabled());
        EXPECT_FALSE(ui.downloadTracklogButton->isEnabled());
        EXPECT_EQ(ui.batteryVoltageIndicator->doubleValue(), 0);
        EXPECT_FALSE(ui.batteryVoltageIndicator->isEnabled());
        EXPECT_FALSE(ui.logEntriesCombo->isEnabled());
        EXPECT_EQ(ui.logEntriesCombo->count(), 0);
        for (QAction* item : { ui.manageAirspacesMenuItem, ui.clearAirspacesMenuItem, ui.upgradeMenuItem,
                 ui.upgradeBetaMenuItem, ui.eraseLogBookMenuItem, ui.saveNewFlightsMenuItem })
            EXPECT_FALSE(item->isEnabled()) << item->objectName().toStdString();
        EXPECT_EQ(ui.saveNewFlightsMenuItem->toolTip(), "Plug in the instrument to save its new flights");
        EXPECT_EQ(app.window.backgroundName(), "CloudsBackgroundGrayscale.tiff");
    }

    FakeSerialPortOpener ports;
    ManualDiscovery discovery;
    ScriptedInstrument instrument;
    InstantEventLoop eventLoop;
    AppHarness app;
};

TEST_F(AppDelegateTest, LaunchWithoutInstrumentShowsTheDisconnectedWindow)
{
    app.launch();
    expectDisconnectedWindow();
    EXPECT_TRUE(discovery.started());
    EXPECT_NE(app.controller->updateWindowController(), nullptr);
    EXPECT_NE(app.controller->airspacesWindowController(), nullptr);
    EXPECT_EQ(app.controller->updateWindowController()->device(), &app.device());
    EXPECT_EQ(app.controller->airspacesWindowController()->device(), &app.device());
    EXPECT_EQ(app.controller->userPreferencesWindow(), nullptr);
    EXPECT_TRUE(QGuiApplication::quitOnLastWindowClosed());
    EXPECT_TRUE(app.preferences.registeredDefaults().contains("logCommunications"));
}

// The sync and the update check of an instrument plugged in before the start read the
// defaults (sync on, the vendor's host), not empty values.
TEST_F(AppDelegateTest, InstrumentPresentAtLaunchFindsTheDefaultsRegistered)
{
    bool defaultsRegisteredAtConnection = false;
    instrument.onDeviceInfoRequest = [&] {
        if (!defaultsRegisteredAtConnection)
            defaultsRegisteredAtConnection = !app.preferences.registeredDefaults().isEmpty();
    };
    launchConnected();
    EXPECT_TRUE(defaultsRegisteredAtConnection);
    EXPECT_FALSE(app.preferences.registeredDefaults().isEmpty());
    EXPECT_EQ(app.ui().serialLabel->text(), "Serial Number: C0FFEE\nDevice Firmware: 2405");
}

TEST_F(AppDelegateTest, ConnectionFillsTheWindow)
{
    instrument.flights = { { 3, 13, 7, 5, 9, 3, 3725 }, { 7, 13, 7, 6, 14, 30, 600 }, { 5, 13, 7, 5, 12, 0, 60 } };
    launchConnected();
    Ui::MainWindow& ui = app.ui();

    EXPECT_EQ(ui.pilotNameLabel->text(), "Pilot: Unknown");
    EXPECT_FALSE(ui.editPilotDataButton->isHidden());
    EXPECT_TRUE(app.log.contains("App ver 9.8.7, device firmware ver 2405"));

    // Newest first, as the short list sorts them, after the entry for all flights.
    EXPECT_EQ(app.comboTitles(),
        (std::vector<std::string> { "All Available", "7: 13-07-06    14:30    10 min", "5: 13-07-05    12:00    1 min",
            "3: 13-07-05    09:03    1 h 02" }));
    EXPECT_FALSE(ui.logEntriesCombo->itemData(0).isValid());
    const FlightRecord carried = ui.logEntriesCombo->itemData(1).value<FlightRecord>();
    EXPECT_EQ(carried.flightNumber, 7);
    EXPECT_EQ(carried.duration, 600);
    EXPECT_EQ(ui.logEntriesCombo->currentIndex(), -1);
    EXPECT_EQ(ui.logEntriesCombo->placeholderText(), "Select Tracklog");

    EXPECT_TRUE(ui.logEntriesCombo->isEnabled());
    EXPECT_TRUE(ui.logTypeMatrix->isEnabled());
    EXPECT_TRUE(ui.downloadLogbookButton->isEnabled());
    EXPECT_FALSE(ui.downloadTracklogButton->isEnabled());
    EXPECT_TRUE(ui.batteryVoltageIndicator->isEnabled());
    EXPECT_TRUE(ui.upgradeMenuItem->isEnabled());
    EXPECT_TRUE(ui.upgradeBetaMenuItem->isEnabled());
    EXPECT_TRUE(ui.eraseLogBookMenuItem->isEnabled());
    EXPECT_TRUE(ui.saveNewFlightsMenuItem->isEnabled());
    EXPECT_EQ(app.window.backgroundName(), "CloudsBackground.tiff");
    EXPECT_EQ(app.controller->updateWindowController()->checkUpdatesRequests(), 1);

    // The summary a sync adds after this line wraps instead of widening the window.
    app.window.show();
    const int width = app.window.width();
    const QString longStatus = app.window.statusText() + QString(" 12 new flights saved into the library").repeated(6);
    app.window.setStatusText(longStatus);
    QCoreApplication::processEvents();
    EXPECT_EQ(app.window.width(), width);
    EXPECT_LE(app.window.sizeHint().width(), width);
    EXPECT_EQ(app.window.findChild<QLabel*>("statusLabel")->toolTip(), longStatus);
    app.window.hide();

    emit ui.logEntriesCombo->activated(2);
    EXPECT_TRUE(ui.downloadTracklogButton->isEnabled());
    EXPECT_TRUE(app.alerts.alerts.empty());
}

TEST_F(AppDelegateTest, SerialNumberIsUpperCaseHexadecimalWithoutLeadingZeros)
{
    launchConnected();
    for (auto [deviceId, text] : { std::pair<std::uint32_t, const char*> { 255, "FF" }, { 4096, "1000" }, { 0, "0" } }) {
        instrument.deviceId = deviceId;
        app.controller->deviceConnected();
        EXPECT_EQ(app.ui().serialLabel->text().toStdString(), std::string("Serial Number: ") + text + "\nDevice Firmware: 2405");
    }
}

TEST_F(AppDelegateTest, InstrumentWithoutFlightsOffersOnlyAllAvailable)
{
    launchConnected();
    Ui::MainWindow& ui = app.ui();
    EXPECT_EQ(app.comboTitles(), std::vector<std::string> { "All Available" });
    EXPECT_EQ(ui.logEntriesCombo->currentIndex(), -1);
    EXPECT_FALSE(ui.downloadTracklogButton->isEnabled());
    emit ui.logEntriesCombo->activated(0);
    EXPECT_TRUE(ui.downloadTracklogButton->isEnabled());
}

TEST_F(AppDelegateTest, BatteryLevelIsLinearFromThreeAndAHalfToFourPointTwoVolts)
{
    launchConnected();
    LevelIndicator* indicator = app.ui().batteryVoltageIndicator;
    const double maximum = indicator->maxValue();
    ASSERT_GT(maximum, 0);
    struct Case {
        std::uint8_t tenths;
        double expected;
    };
    for (const Case& c : { Case { 35, 0.0 }, Case { 42, maximum }, Case { 39, maximum * 4 / 7 }, Case { 30, maximum * -5 / 7 } }) {
        instrument.battery = c.tenths;
        app.controller->updateBatteryIndicator();
        EXPECT_NEAR(indicator->doubleValue(), c.expected, 1e-9) << int(c.tenths);
    }
    // Full is exactly the maximum: the divisor is the double difference 4.2 - 3.5, with
    // which 4.2 V lands on the maximum, where a plain 0.7 would overshoot it.
    instrument.battery = 42;
    app.controller->updateBatteryIndicator();
    EXPECT_EQ(indicator->doubleValue(), maximum);
    instrument.battery = 35;
    app.controller->updateBatteryIndicator();
    EXPECT_EQ(indicator->doubleValue(), 0.0);
    // Below empty is kept as computed and only drawn as empty.
    EXPECT_EQ(indicator->fraction(), 0);

    // A failed read keeps the value.
    instrument.battery = 42;
    app.controller->updateBatteryIndicator();
    instrument.silentDeviceInfo = true;
    app.controller->updateBatteryIndicator();
    EXPECT_NEAR(indicator->doubleValue(), maximum, 1e-9);
    EXPECT_TRUE(app.alerts.alerts.empty());
}

TEST_F(AppDelegateTest, LineThatCannotBeConfiguredEndsTheConnectionWithItsAlert)
{
    ports.state->setup.validDescriptor = false;
    launchConnected();
    ASSERT_EQ(app.alerts.alerts.size(), 1u);
    EXPECT_EQ(app.alerts.alerts[0].message, "Error initializing device");
    EXPECT_EQ(app.alerts.alerts[0].informativeText, "Device initialization function returned error");
    EXPECT_EQ(app.alerts.alerts[0].buttons, std::vector<std::string> { "Ok" });
    expectDisconnectedWindow();
}

TEST_F(AppDelegateTest, UnreadableDeviceInfoEndsTheConnectionWithItsAlert)
{
    instrument.silentDeviceInfo = true;
    launchConnected();
    ASSERT_EQ(app.alerts.alerts.size(), 1u);
    EXPECT_EQ(app.alerts.alerts[0].message, "Error");
    EXPECT_EQ(app.alerts.alerts[0].informativeText, "Error getting device info");
    expectDisconnectedWindow();
    EXPECT_EQ(app.controller->updateWindowController()->checkUpdatesRequests(), 0);
}

TEST_F(AppDelegateTest, FailedFlightListAlertsOnceAndLeavesTheWindowConnected)
{
    instrument.flights = { { 3, 13, 7, 5, 9, 3, 3725 } };
    instrument.corruptFlightList = true;
    launchConnected();
    ASSERT_EQ(app.alerts.alerts.size(), 1u);
    EXPECT_EQ(app.alerts.alerts[0].message, "Error downloading flights list");
    EXPECT_EQ(app.alerts.alerts[0].informativeText, "Make sure device has the latest firmware version");
    EXPECT_EQ(app.comboTitles(), std::vector<std::string> { "All Available" });
    EXPECT_TRUE(app.ui().logEntriesCombo->isEnabled());
    EXPECT_TRUE(app.ui().downloadLogbookButton->isEnabled());
    EXPECT_EQ(app.window.backgroundName(), "CloudsBackground.tiff");
}

TEST_F(AppDelegateTest, UnplugDuringTheFlightListAlertLeavesTheWindowDisconnected)
{
    // The alert turns the event loop; a removal delivered meanwhile has already put the
    // window into its disconnected state, which the rest of the sequence must not undo.
    instrument.corruptFlightList = true;
    instrument.flights = { { 3, 13, 7, 5, 9, 3, 3725 } };
    app.alerts.duringAlert = [&] { discovery.unplug(port); };
    launchConnected();
    ASSERT_EQ(app.alerts.alerts.size(), 1u);
    expectDisconnectedWindow();
}

TEST_F(AppDelegateTest, UnplugDuringTheUpdateCheckLeavesTheWindowDisconnected)
{
    // The check of every connection turns the event loop before the flight list is read.
    instrument.flights = { { 3, 13, 7, 5, 9, 3, 3725 } };
    bool unplugged = false;
    eventLoop.duringTurn = [&] {
        UpdateWindow* updates = app.controller->updateWindowController();
        if (!unplugged && updates && updates->checkUpdatesRequests() > 0) {
            unplugged = true;
            discovery.unplug(port);
        }
    };
    launchConnected();
    ASSERT_TRUE(unplugged);
    EXPECT_TRUE(app.alerts.alerts.empty());
    expectDisconnectedWindow();
}

TEST_F(AppDelegateTest, UnplugGreysTheWindowAndClosesTheUpdateWindow)
{
    instrument.flights = { { 3, 13, 7, 5, 9, 3, 3725 } };
    launchConnected();
    // The window shows only once a check has completed.
    ASSERT_TRUE(waitUntil([&] { return app.controller->updateWindowController()->lastCheckedAvailableUpdates().has_value(); }));
    app.ui().upgradeMenuItem->trigger();
    ASSERT_TRUE(app.controller->updateWindowController()->isVisible());
    app.controller->airspacesWindowController()->presentAirspacesWindow();

    discovery.unplug(port);
    expectDisconnectedWindow();
    EXPECT_FALSE(app.controller->updateWindowController()->isVisible());
    EXPECT_EQ(app.controller->airspacesWindowController()->ui().instrumentStatusLabel->text(), "No instrument connected.");
    app.controller->airspacesWindowController()->close();
}

// A plugged-in instrument whose port cannot be opened is not "waiting to be plugged
// in": the window says why until the instrument goes.
TEST_F(AppDelegateTest, APortThatCannotBeOpenedSaysWhyUntilTheInstrumentGoes)
{
    const QString waiting = "Waiting for an instrument. Plug the Corvex Vario in by USB.";
    const std::tuple<int, std::string, QString> cases[] = {
        { EACCES, "", "no permission to open the instrument's serial device. Install the udev rule from the README (or join the \"dialout\" group and log in again), then connect the instrument again." },
        { EBUSY, "corvex-vario (process 4711)", "the instrument is in use by corvex-vario (process 4711). Close the other program, or wait until it has finished, and try again." },
    };
    app.launch();
    for (const auto& [systemError, holder, reason] : cases) {
        ports.refuseOpens = 3;
        ports.refusalError = systemError;
        ports.refusalHolder = holder;
        discovery.plug(port);
        EXPECT_EQ(app.window.statusText(), "The Corvex Vario is plugged in but cannot be opened: " + reason);
        expectDisconnectedWindow();
        discovery.unplug(port);
        EXPECT_EQ(app.window.statusText(), waiting);
    }
}

// The erase after a firmware update belongs to an installation that went in, whose
// flights were saved before its first line: without one, a connection erases nothing.
TEST_F(AppDelegateTest, AnEraseScheduledWithoutAnInstallationErasesNothing)
{
    app.launch();
    app.controller->updateWindowController()->setIsLogBookEraseScheduledForNextDeviceConnect(true);
    discovery.plug(port);
    EXPECT_FALSE(app.log.contains("Log book erase scheduled from the last firmware update. Performing..."));
    EXPECT_EQ(countRequests(*ports.state, { 0x03, 0x02 }), 0u);
}

TEST_F(AppDelegateTest, AirspacesGateLogsItsDecision)
{
    struct Case {
        std::uint16_t firmware;
        bool enabled;
        const char* line;
    };
    const Case cases[] = {
        { 1365, true, "Enabling AIRSPACES, for Lark device, since FW VER is '1.365' (which is >= 1.365)" },
        { 1364, false, "This lark fw does not support Airspaces" },
        { 2401, true, "Enabling AIRSPACES for Wren device, since FW VER is '2.401' (which is >= 2.401)" },
        { 2400, false, "This wren fw does not support Airspaces" },
        { 2000, false, "This wren fw does not support Airspaces" },
    };
    app.launch();
    for (const Case& c : cases) {
        instrument.firmware = c.firmware;
        app.log.lines.clear();
        discovery.plug(port);
        EXPECT_TRUE(app.log.contains(c.line)) << c.firmware;
        EXPECT_EQ(app.ui().manageAirspacesMenuItem->isEnabled(), c.enabled) << c.firmware;
        EXPECT_EQ(app.ui().clearAirspacesMenuItem->isEnabled(), c.enabled) << c.firmware;
        discovery.unplug(port);
    }
}

TEST_F(AppDelegateTest, ALeaseKeepsASecondInstrumentCommandFromStarting)
{
    launchConnected();
    Ui::MainWindow& ui = app.ui();
    ASSERT_TRUE(ui.flightsPanel->isEnabled());
    InstrumentSession& session = *app.controller->instrumentSession();
    // The other windows' instrument commands are greyed too, and come back as they were.
    AirspacesWindow& airspaces = *app.controller->airspacesWindowController();
    QPushButton* clearAirspaces = airspaces.ui().clearAirspacesButton;
    clearAirspaces->setEnabled(true);
    {
        auto lease = session.borrow("installing firmware");
        ASSERT_TRUE(lease);
        EXPECT_FALSE(clearAirspaces->isEnabled());
        {
            auto second = session.borrow("reading the log book");
            ASSERT_FALSE(second);
            EXPECT_EQ(second.error().kind, DeviceErrorKind::Busy);
            EXPECT_EQ(describeDeviceError(second.error()), "the instrument is busy installing firmware. Wait until it has finished, then try again.");
        }
        EXPECT_TRUE(session.isBusy());
        EXPECT_FALSE(ui.flightsPanel->isEnabled());
        EXPECT_FALSE(ui.downloadLogbookButton->isEnabled());
        EXPECT_FALSE(ui.editPilotDataButton->isEnabled());
        EXPECT_FALSE(ui.instrumentMenu->menuAction()->isEnabled());
        EXPECT_FALSE(ui.updatesMenu->menuAction()->isEnabled());

        ui.eraseLogBookMenuItem->trigger();
        app.controller->airspacesClearMenuClicked();
        ui.upgradeMenuItem->trigger();
        EXPECT_EQ(countRequests(*ports.state, { 0x03, 0x02 }), 0u);
        EXPECT_EQ(countRequests(*ports.state, airspacesEraseRequest), 0u);
        EXPECT_FALSE(app.controller->updateWindowController()->isVisible());
    }
    EXPECT_FALSE(session.isBusy());
    EXPECT_TRUE(clearAirspaces->isEnabled());
    EXPECT_TRUE(ui.flightsPanel->isEnabled());
    EXPECT_TRUE(ui.downloadLogbookButton->isEnabled());
    // The track-log button keeps its own state: it waits for a pick in the list.
    EXPECT_FALSE(ui.downloadTracklogButton->isEnabled());
    EXPECT_TRUE(ui.instrumentMenu->menuAction()->isEnabled());

    ui.eraseLogBookMenuItem->trigger();
    EXPECT_EQ(countRequests(*ports.state, { 0x03, 0x02 }), 1u);
    app.controller->airspacesClearMenuClicked();
    EXPECT_EQ(countRequests(*ports.state, airspacesEraseRequest), 1u);
}

// Declines every panel, keeping their titles.
struct DecliningPanels final : FilePanelPresenter {
    std::optional<QString> runSavePanel(const SavePanelRequest& request) override
    {
        titles.push_back(request.title);
        return std::nullopt;
    }
    std::optional<QString> runFolderPanel(const FolderPanelRequest& request) override
    {
        titles.push_back(request.title);
        return std::nullopt;
    }
    std::vector<QString> titles;
};

TEST_F(AppDelegateTest, LauncherActionsWaitUntilTheInstrumentIsConnectedAndFree)
{
    DecliningPanels panels;
    app.controller->setFilePanelPresenter(&panels);
    app.launch();
    AirspacesWindow& airspaces = *app.controller->airspacesWindowController();

    // Before the instrument: the newest instrument action is held; the others run at once.
    app.controller->performLauncherAction("manage-airspaces");
    app.controller->performLauncherAction("save-all-flights");
    app.controller->performLauncherAction("no-such-action");
    app.controller->performLauncherAction("check-for-updates");
    EXPECT_TRUE(app.log.contains("upgrade menu clicked"));
    runEventLoopFor(50);
    EXPECT_TRUE(panels.titles.empty());

    // As from the window: all flights in the list, then the download button's panel.
    discovery.plug(port);
    ASSERT_TRUE(waitUntil([&] { return !panels.titles.empty(); }, 3000));
    // The folder panel of all flights ("Exporting IGC files"), not one flight's.
    EXPECT_TRUE(panels.titles.front().endsWith(" files")) << panels.titles.front().toStdString();
    EXPECT_EQ(app.ui().logEntriesCombo->currentText(), "All Available");
    EXPECT_FALSE(airspaces.isVisible());

    {
        auto lease = app.controller->instrumentSession()->borrow("testing");
        app.controller->performLauncherAction("manage-airspaces");
        runEventLoopFor(50);
        EXPECT_FALSE(airspaces.isVisible());
    }
    EXPECT_TRUE(waitUntil([&] { return airspaces.isVisible(); }, 3000));
    airspaces.close();
    EXPECT_EQ(panels.titles.size(), 1u);
}

TEST_F(AppDelegateTest, ConnectionReplacingTheWindowStateWhileLockedKeepsItsOwnStates)
{
    // A removal and a new arrival while a command holds the instrument: the controls take
    // the new session's states, shown once the command ends.
    instrument.flights = { { 3, 13, 7, 5, 9, 3, 3725 } };
    launchConnected();
    {
        auto lease = app.controller->instrumentSession()->borrow("testing");
        discovery.unplug(port);
        EXPECT_FALSE(app.ui().downloadLogbookButton->isEnabled());
    }
    EXPECT_FALSE(app.ui().downloadLogbookButton->isEnabled());
    EXPECT_FALSE(app.ui().logEntriesCombo->isEnabled());
    discovery.plug(port);
    EXPECT_TRUE(app.ui().downloadLogbookButton->isEnabled());

    // An arrival while a command holds the line: its connect sequence waits for the
    // command instead of sending requests between the command's own.
    discovery.unplug(port);
    {
        auto lease = app.controller->instrumentSession()->borrow("testing");
        const std::size_t infoRequests = countRequests(*ports.state, { 0x01 });
        discovery.plug(port);
        runEventLoopFor(50);
        EXPECT_EQ(countRequests(*ports.state, { 0x01 }), infoRequests);
        EXPECT_FALSE(app.ui().downloadLogbookButton->isEnabled());
        EXPECT_TRUE(app.log.contains("The instrument's connect sequence waits: the instrument is busy testing"));
    }
    EXPECT_TRUE(waitUntil([&] { return app.ui().downloadLogbookButton->isEnabled(); }, 3000));
}

TEST_F(AppDelegateTest, UpgradeMenusLogAndChooseTheChannel)
{
    launchConnected();
    UpdateWindow* updates = app.controller->updateWindowController();
    ASSERT_TRUE(waitUntil([&] { return updates->lastCheckedAvailableUpdates().has_value(); }));
    app.ui().upgradeBetaMenuItem->trigger();
    EXPECT_TRUE(app.log.contains("upgrade Beta menu clicked"));
    EXPECT_TRUE(updates->isBetaVersionUpdateWindow());
    EXPECT_TRUE(updates->isVisible());
    app.ui().upgradeMenuItem->trigger();
    EXPECT_TRUE(app.log.contains("upgrade menu clicked"));
    EXPECT_FALSE(updates->isBetaVersionUpdateWindow());

    // A click on an update notification opens the release channel too.
    updates->setIsBetaVersionUpdateWindow(true);
    updates->close();
    EXPECT_TRUE(app.controller->shouldPresentNotification({}));
    app.controller->didActivateNotification({});
    EXPECT_TRUE(updates->isVisible());
    EXPECT_FALSE(updates->isBetaVersionUpdateWindow());
    updates->close();
}

TEST_F(AppDelegateTest, StoredCommunicationsLogPreferenceReachesTheDeviceAtLaunchAndOnChange)
{
    app.preferences.setValue("logCommunications", true);
    app.launch();
    EXPECT_TRUE(app.device().shouldLogCommunications());

    app.ui().preferencesMenuItem->trigger();
    UserPreferencesWindow* preferencesWindow = app.controller->userPreferencesWindow();
    ASSERT_NE(preferencesWindow, nullptr);
    EXPECT_TRUE(preferencesWindow->ui().logCommunicationsCheckbox->isChecked());
    preferencesWindow->ui().logCommunicationsCheckbox->click();
    EXPECT_FALSE(app.device().shouldLogCommunications());
    EXPECT_FALSE(app.preferences.boolValue("logCommunications"));

    // Any change re-reads it, whichever key changed.
    app.device().setShouldLogCommunications(true);
    app.preferences.setValue("openAirEnabled", false);
    EXPECT_FALSE(app.device().shouldLogCommunications());

    // Created on first use, then kept.
    preferencesWindow->close();
    app.ui().preferencesMenuItem->trigger();
    EXPECT_EQ(app.controller->userPreferencesWindow(), preferencesWindow);
    preferencesWindow->close();
}

// The contests: the table's one from the list, the others ticked; the table's own box
// is ticked and cannot be unticked; what is stored is read back as it was stored.
TEST_F(AppDelegateTest, ContestsChosenInThePreferencesNameTheRuleSetsInOrder)
{
    app.launch();
    app.ui().preferencesMenuItem->trigger();
    UserPreferencesWindow* window = app.controller->userPreferencesWindow();
    ASSERT_NE(window, nullptr);
    const auto box = [&](const char* id) {
        for (QCheckBox* each : window->otherContestBoxes())
            if (each->property("ruleSet").toString() == id)
                return each;
        return static_cast<QCheckBox*>(nullptr);
    };
    ASSERT_TRUE(box("xcontest") && box("ffvl") && box("olc"));
    EXPECT_EQ(window->listedContestPopup().currentData().toString(), "xcontest");
    EXPECT_TRUE(box("xcontest")->isChecked());
    EXPECT_FALSE(box("xcontest")->isEnabled());

    box("olc")->click();
    EXPECT_EQ(app.preferences.stringValue("contestRuleSets"), "xcontest, olc");
    QComboBox& listed = window->listedContestPopup();
    listed.setCurrentIndex(listed.findData("ffvl"));
    emit listed.activated(listed.currentIndex());
    EXPECT_EQ(app.preferences.stringValue("contestRuleSets"), "ffvl, xcontest, olc");
    EXPECT_TRUE(box("ffvl")->isChecked() && !box("ffvl")->isEnabled());
    EXPECT_TRUE(box("xcontest")->isEnabled());

    // A stored value with an unknown or repeated id shows what it can.
    app.preferences.setValue("contestRuleSets", "olc olc, nosuch");
    EXPECT_EQ(listed.currentData().toString(), "olc");
    EXPECT_FALSE(box("xcontest")->isChecked());

    // The units and the times of the library: metric and local by default, each
    // control its preference, a word it does not know shown as metric.
    QComboBox& units = window->unitsPopup();
    EXPECT_EQ(units.currentData().toString(), "metric");
    EXPECT_FALSE(window->timesInUtcBox().isChecked());
    units.setCurrentIndex(units.findData("aviation"));
    emit units.activated(units.currentIndex());
    EXPECT_EQ(app.preferences.stringValue("units"), "aviation");
    window->timesInUtcBox().click();
    EXPECT_TRUE(app.preferences.boolValue("timesInUtc"));
    app.preferences.setValue("units", "furlongs");
    EXPECT_EQ(units.currentData().toString(), "metric");
    window->close();
}

// The terrain folder: none by default, then what the chosen folder holds or what is
// wrong with it, on one line; None clears the preference.
TEST_F(AppDelegateTest, TerrainPreferenceShowsWhatItsFolderHolds)
{
    if (std::getenv("CORVEX_TERRAIN"))
        GTEST_SKIP() << "CORVEX_TERRAIN is set: it stands over the preference";
    app.launch();
    app.ui().preferencesMenuItem->trigger();
    UserPreferencesWindow* window = app.controller->userPreferencesWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->terrainFolderLabel().text(), "Folder: none");
    EXPECT_FALSE(window->clearTerrainFolderButton().isEnabled());
    const QTemporaryDir empty;
    const struct {
        QString folder;
        QString summary;
    } rows[] {
        { empty.path(), "no tiles in " + empty.path() },
        { empty.path() + "/gone", empty.path() + "/gone does not exist" },
    };
    for (const auto& row : rows) {
        app.preferences.setValue("terrainFolder", row.folder);
        EXPECT_EQ(window->terrainFolderLabel().text(), "Folder: " + row.folder);
        EXPECT_EQ(window->terrainSummaryLabel().text(), row.summary);
        EXPECT_TRUE(window->clearTerrainFolderButton().isEnabled());
    }
    window->clearTerrainFolderButton().click();
    EXPECT_EQ(app.preferences.stringValue("terrainFolder"), "");
    EXPECT_EQ(window->terrainFolderLabel().text(), "Folder: none");
    window->close();
}

// The airspace tolerances: each box its preference, reaching the library window's
// checks at once; a stored value the box cannot hold shows clamped and rounded.
TEST_F(AppDelegateTest, AirspaceTolerancesReachTheLibraryWindowsChecks)
{
    const QTemporaryDir folder;
    app.preferences.setValue("flightLibraryFolder", folder.path());
    app.launch();
    LibraryController& library = *app.controller->libraryController();
    library.showWindow();
    ASSERT_TRUE(library.window());
    app.ui().preferencesMenuItem->trigger();
    UserPreferencesWindow* window = app.controller->userPreferencesWindow();
    ASSERT_NE(window, nullptr);
    const struct {
        int horizontal, vertical;
        double stored[2];
    } rows[] { { 200, 50, { 200, 50 } }, { 5000, 1000, { 1000, 1000 } }, { 0, 0, { 0, 0 } } };
    for (const auto& row : rows) {
        window->horizontalToleranceBox().setValue(row.horizontal);
        window->verticalToleranceBox().setValue(row.vertical);
        EXPECT_EQ(app.preferences.value("airspaceToleranceVertical").toDouble(), row.stored[1]);
        const auto& tolerance = library.window()->airspaceCheckSettings().tolerance;
        EXPECT_EQ(tolerance.horizontalMetres, row.stored[0]);
        EXPECT_EQ(tolerance.verticalMetres, row.stored[1]);
    }
    app.preferences.setValue("airspaceToleranceHorizontal", 12.6);
    app.preferences.setValue("airspaceToleranceVertical", -30);
    EXPECT_EQ(window->horizontalToleranceBox().value(), 13);
    EXPECT_EQ(window->verticalToleranceBox().value(), 0);
    window->close();
}

// About names the version, the licence and where the map's data comes from, for each
// tile server configured; Help shows the manual page. Both open over the main window.
TEST_F(AppDelegateTest, HelpShowsTheManualPageAndAboutNamesVersionLicenceAndMapSources)
{
    app.launch();
    app.window.show();
    struct Row {
        const char* standard;
        const char* standardAttribution;
        const char* satellite;
        const char* satelliteAttribution;
        std::vector<const char*> shown;
    };
    const Row rows[] = {
        { "https://tiles.example/{z}/{x}/{y}.png", "\xc2\xa9 Map contributors", "", "", { "\xc2\xa9 Map contributors" } },
        { "https://tiles.example/{z}/{x}/{y}.png", "Tiles A", "https://sat.example/{z}/{x}/{y}.jpg", "Imagery B",
            { "Tiles A", "Imagery B" } },
        // Offline only: no tile attribution is owed.
        { "", "Unused", "", "", {} },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.standardAttribution);
        app.preferences.setValue("mapTileURLStandard", row.standard);
        app.preferences.setValue("mapTileAttributionStandard", row.standardAttribution);
        app.preferences.setValue("mapTileURLSatellite", row.satellite);
        app.preferences.setValue("mapTileAttributionSatellite", row.satelliteAttribution);
        app.ui().aboutMenuItem->trigger();
        QMessageBox* about = app.controller->aboutBox();
        ASSERT_NE(about, nullptr);
        EXPECT_TRUE(about->isVisible());
        EXPECT_EQ(about->parentWidget(), &app.window);
        EXPECT_EQ(about->windowModality(), Qt::WindowModal);
        const QString text = about->text();
        EXPECT_TRUE(text.contains("Version 9.8.7")) << text.toStdString();
        EXPECT_TRUE(text.contains("Proprietary licence")) << text.toStdString();
        EXPECT_TRUE(text.contains("GSHHG")) << text.toStdString();
        for (const char* attribution : row.shown)
            EXPECT_TRUE(text.contains(QString::fromUtf8(attribution).toHtmlEscaped())) << text.toStdString();
        EXPECT_EQ(text.contains("Unused"), false);
        EXPECT_EQ(text.contains("no tile server is configured"), row.shown.empty());
        about->close();
    }

    app.ui().helpMenuItem->trigger();
    HelpWindow* help = app.controller->helpWindow();
    ASSERT_NE(help, nullptr);
    EXPECT_TRUE(help->isVisible());
    EXPECT_EQ(help->parentWidget(), &app.window);
    const QString manual = help->browser()->toPlainText();
    EXPECT_TRUE(manual.contains("corvex-vario - desktop companion of the Corvex Vario glider variometer")) << manual.toStdString();
    EXPECT_TRUE(manual.contains("SEE ALSO"));
    // The library: how flights come in, and how a removal is undone.
    EXPECT_TRUE(manual.contains("THE FLIGHT LIBRARY"));
    EXPECT_TRUE(manual.contains("Save New Flights Now"));
    EXPECT_TRUE(manual.contains("Undo"));
    help->close();
    app.window.hide();
}

TEST(ManualPageHtml, TheScdocMarkupBecomesHtml)
{
    const std::pair<const char*, const char*> rows[] = {
        { "corvex-vario(1) \"Corvex Vario\" \"User Commands\"\n\n# NAME\n\nfoo - bar\nbaz\n",
            "<h1>corvex-vario(1)</h1>\n<h2>NAME</h2>\n<p>foo - bar baz</p>\n" },
        { "*corvex*(1) and _FILE_", "<p><b>corvex</b>(1) and <i>FILE</i></p>\n" },
        { "it sets *ID_MM_DEVICE_IGNORE*, so", "<p>it sets <b>ID_MM_DEVICE_IGNORE</b>, so</p>\n" },
        { "_~/x/SERIAL/DATE_TIME/_", "<p><i>~/x/SERIAL/DATE_TIME/</i></p>\n" },
        { "- one\n  two\n- three\n\nafter", "<ul>\n<li>one two</li>\n<li>three</li>\n</ul>\n<p>after</p>\n" },
        { "*--x* _N_\n\tStart.\n\tMore.", "<p><b>--x</b> <i>N</i></p>\n<p style=\"margin-left:28px\">Start. More.</p>\n" },
        { "```\nsudo a < b\n```", "<pre>sudo a &lt; b\n</pre>\n" },
        { "a <b> & c", "<p>a &lt;b&gt; &amp; c</p>\n" },
    };
    for (const auto& [scdoc, html] : rows)
        EXPECT_EQ(manualPageHtml(QString::fromUtf8(scdoc)).toStdString(), html) << scdoc;
}

// An alert opens over the main window, with the icon of its kind and the default the
// alert names: Return answers that button.
TEST_F(AppDelegateTest, AlertsOpenOverTheMainWindowWithTheirKindAndDefault)
{
    app.window.show();
    MessageBoxAlertPresenter presenter;
    presenter.setParentWindow(&app.window);
    struct Row {
        Alert alert;
        QMessageBox::Icon icon;
        int answered;
    };
    const Row rows[] = {
        { Alert { "Erase Log Book", "Sure?", { "Yes", "No" }, Alert::Kind::Warning, 1 }, QMessageBox::Warning, 1 },
        { Alert { "Warning!", "Erases.", { "Yes", "No" }, Alert::Kind::Warning, 0 }, QMessageBox::Warning, 0 },
        { Alert { "The log book was saved", "In /x.", { "Ok" }, Alert::Kind::Information }, QMessageBox::Information, 0 },
        // A default out of range falls back to the first button.
        { Alert { "Odd", "", { "A", "B" }, Alert::Kind::Information, 7 }, QMessageBox::Information, 0 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.alert.message);
        QWidget* parent = nullptr;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            timer.stop();
            parent = box->parentWidget();
            icon = box->icon();
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(box, &enter);
        });
        timer.start(10);
        EXPECT_EQ(presenter.showAlert(row.alert), row.answered);
        EXPECT_EQ(parent, &app.window);
        EXPECT_EQ(icon, row.icon);
    }
    app.window.hide();
}

TEST_F(AppDelegateTest, PleaseWaitSheetIsModalToTheMainWindowAndCannotBeDismissed)
{
    app.launch();
    app.window.show();
    app.controller->showSheetWithText("Downloading track log...");
    PleaseWaitSheet* sheet = app.controller->pleaseWaitSheet();
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet->parentWidget(), &app.window);
    EXPECT_EQ(sheet->pleaseWaitSheetLabel()->text(), "Downloading track log...");
    sheet->reject();
    sheet->close();
    EXPECT_TRUE(sheet->isVisible());
    app.controller->hideSheet();
    EXPECT_FALSE(sheet->isVisible());
    app.window.hide();
}

} // namespace

namespace {

TEST(MainWindowBackgrounds, ShippedCloudImagesLoad)
{
    // Qt reads TIFF through the image-formats plugin; without it the window falls back
    // to plain colours and logs it, which this catches on a machine set up by
    // scripts/install-deps.
    initializeResources();
    for (const char* name : { ":/images/CloudsBackground.tiff", ":/images/CloudsBackgroundGrayscale.tiff",
             ":/images/cloudsBrightest.tiff" }) {
        QPixmap image(QString::fromLatin1(name));
        EXPECT_FALSE(image.isNull()) << name;
    }
}

TEST_F(AppDelegateTest, BackgroundsFollowTheConnectionWithoutFallback)
{
    launchConnected();
    EXPECT_EQ(app.window.backgroundName(), "CloudsBackground.tiff");
    discovery.unplug(port);
    EXPECT_EQ(app.window.backgroundName(), "CloudsBackgroundGrayscale.tiff");
    EXPECT_FALSE(app.log.containsPrefix("Cannot load the background image"));
}

} // namespace
