// The update window offscreen: the whole program against the virtual instrument and
// the stand-in server for its labels and buttons per model and mode, and the window on
// its own for the notification rule, the check box and the update sheet.
#include "AppTestSupport.h"
#include "UpdateProducts.h"
#include "VendorServerProcess.h"
#include "VirtualInstrumentProcess.h"
#include "platform/qt/DesktopNotifier.h"
#include "platform/qt/SystemDiscovery.h"
#include "ui_UpdateWindow.h"
#include "updates/ui/UpdateWindow.h"

#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace corvex;
using namespace corvex::testing;

namespace {

const QString notifyKey = QStringLiteral("NotifyWhenUpdatesAvailable");

struct Shown {
    QString title;
    QString software;
    bool softwareButton;
    QString firmware;
    bool firmwareButton;
    bool installFromFile;
};

Shown shown(UpdateWindow& window)
{
    Ui::UpdateWindow& ui = window.ui();
    return { window.windowTitle(), ui.softwareUpdateInfoLabel->text(), ui.softwareUpdateButton->isEnabled(),
        ui.firmwareUpdateInfoLabel->text(), ui.firmwareUpdateButton->isEnabled(),
        !ui.installFirmwareFromFileButton->isHidden() };
}

void expectShown(UpdateWindow& window, const Shown& expected)
{
    const Shown actual = shown(window);
    EXPECT_EQ(actual.title, expected.title);
    EXPECT_EQ(actual.software, expected.software);
    EXPECT_EQ(actual.softwareButton, expected.softwareButton);
    EXPECT_EQ(actual.firmware, expected.firmware);
    EXPECT_EQ(actual.firmwareButton, expected.firmwareButton);
    EXPECT_EQ(actual.installFromFile, expected.installFromFile);
}

const QString softwareUpToDate = QStringLiteral("Your Corvex Vario software is up to date!");
const QString firmwareUpToDate = QStringLiteral("Your Corvex Vario firmware is up to date!");

struct ModelCase {
    const char* model;
    std::uint16_t firmware;
    Shown release;
    Shown beta;
};

void PrintTo(const ModelCase& c, std::ostream* out)
{
    *out << c.model << " " << c.firmware;
}

class UpdateWindowModels : public ::testing::TestWithParam<ModelCase> { };

// The program runs 9.8.7 (the test main's version). The feed offers a newer release
// and beta program, Lark firmware 1.400 (release) and 1.500 (beta), and Wren firmware
// 2.405 (release, the instrument's own) and 2.600 (beta).
TEST_P(UpdateWindowModels, ShowsTheOffersForTheConnectedModelInEachMode)
{
    const ModelCase& c = GetParam();
    VendorServerProcess server;
    ASSERT_TRUE(server.isRunning());
    UpdateProducts::make(server.productsDirectory().toStdString(), server.baseUrl().toStdString(),
        { UpdateProducts::software("larkswMac", "9.9.0"), UpdateProducts::software("larkswMacBeta", "9.9.1"),
            UpdateProducts::firmware("larkfw_asp", "1.400"), UpdateProducts::firmware("larkfwBeta", "1.500"),
            UpdateProducts::firmware("wrenfw_asp", "2.405"), UpdateProducts::firmware("wrenfwBeta", "2.600") });

    VirtualInstrumentProcess::Options options;
    options.model = c.model;
    options.firmwareVersion = c.firmware;
    VirtualInstrumentProcess instrument(options);
    ASSERT_TRUE(instrument.isRunning());
    setenv("CORVEX_INSTRUMENT_DIR", instrument.instrumentsDirectory().c_str(), 1);
    CapturingLogSink discoveryLog;
    PosixSerialPortOpener ports;
    auto discovery = makeSystemDiscovery(discoveryLog);
    AppHarness app(ports, discovery.get());
    app.preferences.setValue(QStringLiteral("vendorServerURL"), server.baseUrl());
    app.launch();

    UpdateWindow& window = *app.controller->updateWindowController();
    ASSERT_TRUE(waitUntil([&] { return window.lastCheckedAvailableUpdates().has_value(); }, 15000));
    EXPECT_EQ(window.lastCheckedAvailableUpdates()->theDeviceIsWren(), std::string(c.model) == "wren");

    app.ui().upgradeMenuItem->trigger();
    EXPECT_TRUE(window.isVisible());
    {
        SCOPED_TRACE("release");
        expectShown(window, c.release);
    }
    app.ui().upgradeBetaMenuItem->trigger();
    EXPECT_TRUE(window.isVisible());
    {
        SCOPED_TRACE("beta");
        expectShown(window, c.beta);
    }
    window.close();
}

INSTANTIATE_TEST_SUITE_P(LarkAndWren, UpdateWindowModels,
    ::testing::Values(
        ModelCase { "lark", 1365,
            { "Corvex Vario Update", "Software update is available! You have v9.8.7, available v9.9.0", true,
                "Firmware update is available! You have v1.365, available v1.400", true, false },
            { "Corvex Vario Update BETA", "BETA Software update is available! You have v9.8.7, available v9.9.1", true,
                "BETA Firmware update is available! You have v1.365, available v1.500", true, true } },
        // The Lark's release line differs from 2.405 too, but a Wren never looks at it.
        ModelCase { "wren", 2405,
            { "Corvex Vario Update", "Software update is available! You have v9.8.7, available v9.9.0", true,
                firmwareUpToDate, false, false },
            { "Corvex Vario Update BETA", "BETA Software update is available! You have v9.8.7, available v9.9.1", true,
                "Firmware update is available! You have v2.405, available v2.600", true, true } }),
    [](const ::testing::TestParamInfo<ModelCase>& param) { return std::string(param.param.model); });

// The window on its own, with the check going to the stand-in server and the posted
// notifications recorded.
class UpdateWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.isRunning());
        preferences.setValue(QStringLiteral("vendorServerURL"), server.baseUrl());
        UpdateWindow::Environment environment;
        environment.preferences = &preferences;
        environment.log = &log;
        environment.postNotification = [this](const DesktopNotification& notification) {
            notifications.push_back(notification);
        };
        window = std::make_unique<UpdateWindow>(environment);
    }

    void writeFeed(const std::string& text)
    {
        QFile file(server.productsDirectory() + "/versions.xml");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.data(), static_cast<qint64>(text.size()));
    }

    // Runs a check and waits until its outcome is stored and shown.
    void checkAndWait()
    {
        log.lines.clear();
        window->checkUpdates();
        ASSERT_TRUE(waitUntil([&] { return log.containsPrefix("Current firmware version"); }, 15000));
        runEventLoopFor(50);
    }

    VendorServerProcess server;
    QTemporaryDir settingsFolder;
    PreferencesStore preferences { settingsFolder.filePath(QStringLiteral("CorvexVario.conf")) };
    CapturingLogSink log;
    std::vector<DesktopNotification> notifications;
    std::unique_ptr<UpdateWindow> window;
};

TEST_F(UpdateWindowTest, ANotificationAnnouncesReleaseUpdatesOnlyAndOnlyWhenTheUserWantsIt)
{
    const std::string releaseUpdate = "<corvex><products>"
                                      "<product id=\"larkswMac\" version=\"9.9.0\" url=\"http://h/sw.zip\"/>"
                                      "</products></corvex>";
    const std::string onlyBeta = "<corvex><products>"
                                 "<product id=\"larkswMacBeta\" version=\"9.9.0\" url=\"http://h/sw.zip\"/>"
                                 "<product id=\"larkfwBeta\" version=\"1.500\" url=\"http://h/fw.s19\"/>"
                                 "<product id=\"wrenfw_asp\" version=\"2.500\" url=\"http://h/w.s19\"/>"
                                 "</products></corvex>";
    struct Case {
        const char* what;
        std::string feed;
        std::optional<bool> preference; // absent: never set
        std::size_t notifications;
        QString softwareLabel;
        // A server that does not answer instead of the stand-in one; the label then
        // starts with the expected text, and the transport's reason follows.
        bool unreachable { false };
    };
    const QString feed = server.baseUrl() + "/versions.xml";
    const Case cases[] = {
        { "release update, preference never set", releaseUpdate, std::nullopt, 1,
            "Software update is available! You have v9.8.7, available v9.9.0" },
        { "release update, notifications off", releaseUpdate, false, 0,
            "Software update is available! You have v9.8.7, available v9.9.0" },
        // Beta entries, and the other model's release line, are not announced.
        { "only beta updates", onlyBeta, true, 0, softwareUpToDate },
        // A check that failed says so, and why: nothing is known to be up to date.
        { "an error page", "<html><body>502</body>", true, 0,
            "Could not check for software updates: the versions feed at " + feed + " is not XML (an error page?)." },
        { "no server", releaseUpdate, true, 0,
            "Could not check for software updates: cannot read the versions feed at http://127.0.0.1:1/versions.xml: ",
            true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        notifications.clear();
        if (c.preference)
            preferences.setValue(notifyKey, *c.preference);
        else
            preferences.removeValue(notifyKey);
        writeFeed(c.feed);
        preferences.setValue(QStringLiteral("vendorServerURL"), c.unreachable ? QStringLiteral("http://127.0.0.1:1") : server.baseUrl());
        checkAndWait();
        ASSERT_EQ(notifications.size(), c.notifications);
        if (!notifications.empty()) {
            EXPECT_EQ(notifications[0].title, "Corvex Vario Updates are available!");
            EXPECT_EQ(notifications[0].informativeText, "Please open Upgrade menu item for details");
        }
        // A check stores the default the first time.
        EXPECT_EQ(preferences.boolValue(notifyKey), c.preference.value_or(true));
        EXPECT_TRUE(preferences.hasUserValue(notifyKey));
        // The window is refreshed whether it is shown or not.
        const QString software = window->ui().softwareUpdateInfoLabel->text();
        if (c.unreachable) {
            EXPECT_TRUE(software.startsWith(c.softwareLabel) && software.size() > c.softwareLabel.size() + 1)
                << software.toStdString();
        } else {
            EXPECT_EQ(software, c.softwareLabel);
        }
        const QString firmware = window->ui().firmwareUpdateInfoLabel->text();
        EXPECT_EQ(firmware.startsWith("Could not check for firmware updates: "), software.startsWith("Could not check"))
            << firmware.toStdString();
        EXPECT_FALSE(window->ui().firmwareUpdateButton->isEnabled());
        EXPECT_FALSE(window->isVisible());
    }
}

TEST_F(UpdateWindowTest, OpensOnlyAfterACheckAndMirrorsTheNotificationPreference)
{
    // Nothing checked yet: the window goes off the screen again at once.
    window->showWindow();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(log.contains("Update Window is shown"));

    writeFeed("<corvex><products/></corvex>");
    preferences.setValue(notifyKey, false);
    checkAndWait();
    window->showWindow();
    ASSERT_TRUE(window->isVisible());
    expectShown(*window, { "Corvex Vario Update", softwareUpToDate, false, firmwareUpToDate, false, false });
    QCheckBox& box = *window->ui().notifyWhenUpdatesAvailableCheckbox;
    EXPECT_FALSE(box.isChecked());
    box.click();
    EXPECT_TRUE(preferences.boolValue(notifyKey));
    // Written through: another store on the same file reads it.
    EXPECT_TRUE(PreferencesStore(preferences.settingsFileName()).boolValue(notifyKey));
    box.click();
    EXPECT_FALSE(preferences.boolValue(notifyKey));

    // The update sheet over the window.
    window->ui().softwareUpdateInfoLabel->setText("x");
    window->showUpdateSheetWithText("Downloading an Corvex Vario Firmware update, please wait...", true);
    QDialog& sheet = *window->updateSheet();
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
    EXPECT_EQ(window->updateSheetLabel()->text(), "Downloading an Corvex Vario Firmware update, please wait...");
    EXPECT_TRUE(window->updateSheetCancelButton()->isEnabled());
    window->updateSheetProgressBar()->setValue(40);
    window->hideUpdateSheet();
    EXPECT_FALSE(sheet.isVisible());
    window->showUpdateSheetWithText("Installing an Corvex Vario Firmware, DO NOT DISCONNECT the device", false);
    EXPECT_EQ(window->updateSheetProgressBar()->value(), 0);
    EXPECT_EQ(window->updateSheetProgressBar()->maximum(), 100);
    EXPECT_FALSE(window->updateSheetCancelButton()->isEnabled());
    // Without Cancel, Escape does not take the sheet away.
    sheet.reject();
    EXPECT_TRUE(sheet.isVisible());
    window->hideUpdateSheet();

    window->deviceDisconnected();
    EXPECT_TRUE(log.contains("Update window device disconnected"));
    window->closeButton();
    EXPECT_FALSE(window->isVisible());
}

} // namespace
