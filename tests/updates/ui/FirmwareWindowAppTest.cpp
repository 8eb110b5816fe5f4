// The update window's firmware operations in the whole program, against the stand-in
// vendor server on loopback and the virtual instrument on a real pty: the download with
// the log-book warning, the backup before the first line, the installation holding the
// instrument against every other command, the restart onto the new version with the
// erase, and each way a download, a backup or an installation can fail.
#include "AppTestSupport.h"
#include "UpdateProducts.h"
#include "VendorServerProcess.h"
#include "VirtualInstrumentProcess.h"
#include "device/InstrumentSession.h"
#include "platform/PosixSerialLine.h"
#include "platform/qt/SystemDiscovery.h"
#include "updates/ui/UpdateWindow.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace corvex;
using namespace corvex::testing;
namespace fs = std::filesystem;

namespace {

class FirmwareWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.isRunning()) << server.standardError().toStdString();
        ASSERT_TRUE(instrument.isRunning());
        setenv("CORVEX_VENDOR_URL", server.baseUrl().toUtf8().constData(), 1);
        setenv("CORVEX_INSTRUMENT_DIR", instrument.instrumentsDirectory().c_str(), 1);
        discovery = makeSystemDiscovery(discoveryLog);
        ports.beforeWrite = [this](ByteView request) {
            requests.emplace_back(request.begin(), request.end());
            if (onRequest)
                onRequest(requests.back());
        };
        app = std::make_unique<AppHarness>(ports, discovery.get());
        app->controller->setLogBookBackupsRoot(backups.path().toStdString());
    }
    void TearDown() override { unsetenv("CORVEX_VENDOR_URL"); }

    UpdateWindow& window() { return *app->controller->updateWindowController(); }

    // Serves the entries and waits until the window's check has seen the Wren entry.
    void offer(const std::vector<UpdateProducts::Entry>& entries)
    {
        products = UpdateProducts::make(server.productsDirectory().toStdString(), server.baseUrl().toStdString(), entries);
        const std::string url = products->product("wrenfw_asp").url;
        window().checkUpdates();
        ASSERT_TRUE(waitUntil([&] {
            const auto& last = window().lastCheckedAvailableUpdates();
            return last && last->firmwareOf(InstrumentGeneration::Wren).release.url == url;
        }));
    }

    void serve(const std::string& name, const std::string& text)
    {
        QFile file(server.productsDirectory() + "/" + QString::fromStdString(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.data(), static_cast<qint64>(text.size()));
    }

    bool alerted(const std::string& message)
    {
        for (const Alert& alert : app->alerts.alerts)
            if (alert.message == message)
                return true;
        return false;
    }

    std::size_t backupFiles() const
    {
        std::size_t count = 0;
        for (const auto& entry : fs::recursive_directory_iterator(backups.path().toStdString()))
            count += entry.is_regular_file() ? 1 : 0;
        return count;
    }

    // A firmware file of the given lines naming the version, for the window's file panel.
    std::string firmwareFile(const std::string& version, int lines)
    {
        const std::string path = firmwareFolder.path().toStdString() + "/firmware-" + version + ".s19";
        std::ofstream(path, std::ios::binary) << UpdateProducts::firmwareText(version, lines);
        window().setPanels({ [path] { return std::optional<QString>(QString::fromStdString(path)); }, {} });
        return path;
    }

    std::uint16_t firmwareOfTheInstrument()
    {
        static_cast<void>(app->device().getDeviceInfo());
        return app->device().currentFirmwareVersion();
    }

    VendorServerProcess server;
    VirtualInstrumentProcess instrument;
    QTemporaryDir backups;
    QTemporaryDir firmwareFolder;
    CapturingLogSink discoveryLog;
    // Every request the program sends, in order.
    HookedPorts ports;
    std::vector<Bytes> requests;
    std::function<void(const Bytes&)> onRequest;
    std::unique_ptr<SerialDeviceDiscovery> discovery;
    std::unique_ptr<AppHarness> app;
    std::optional<UpdateProducts> products;
};

} // namespace

TEST_F(FirmwareWindowTest, ADownloadThatErasesTheLogBookWarnsInstallsAndBacksUpOnTheRestart)
{
    app->launch();
    offer({ UpdateProducts::firmware("wrenfw_asp", "2.410", 250) });
    ASSERT_TRUE(window().lastCheckedAvailableUpdates()->firmwareOf(InstrumentGeneration::Wren).release.isUpdate);

    window().downloadFirmwareUpdateButton();
    // The instrument restarts onto 2.410; the scheduled erase saves every flight first.
    ASSERT_TRUE(waitUntil([&] { return app->ui().serialLabel->text().endsWith("Device Firmware: 2410"); }, 30000));
    ASSERT_TRUE(waitUntil([&] { return app->ui().logEntriesCombo->count() == 1; }));

    ASSERT_FALSE(app->alerts.alerts.empty());
    EXPECT_EQ(app->alerts.alerts[0].message, "Warning!");
    EXPECT_EQ(app->alerts.alerts[0].buttons, (std::vector<std::string> { "Yes", "No" }));
    // The warning keeps "Yes" as its default; the backup's report is news, not a warning,
    // and says where the flights went.
    EXPECT_EQ(app->alerts.alerts[0].defaultButton, 0);
    EXPECT_EQ(app->alerts.alerts[0].kind, Alert::Kind::Warning);
    EXPECT_TRUE(alerted("The log book was saved"));
    for (const Alert& alert : app->alerts.alerts) {
        if (alert.message != "The log book was saved")
            continue;
        EXPECT_EQ(alert.kind, Alert::Kind::Information);
        EXPECT_NE(alert.informativeText.find(backups.path().toStdString()), std::string::npos) << alert.informativeText;
    }
    EXPECT_TRUE(app->log.containsPrefix("Log book backup: 6 flights saved in "));
    EXPECT_EQ(backupFiles(), 6u);
    EXPECT_FALSE(window().isLogBookEraseScheduledForNextDeviceConnect());
    std::size_t progressLines = 0;
    for (const std::string& line : app->log.lines)
        progressLines += line.starts_with("Firmware upload progress ") ? 1 : 0;
    EXPECT_EQ(progressLines, 125u);
    EXPECT_TRUE(app->log.contains("Firmware upload progress 100"));
    // The finished download is cancelled with the instrument's removal once more.
    EXPECT_EQ(app->log.count("User cancelled apparently, since nsdata is nil"), 1u);
}

TEST_F(FirmwareWindowTest, CancelOrNoToTheWarningInstallsNothingAndSchedulesNothing)
{
    app->launch();
    offer({ UpdateProducts::firmware("wrenfw_asp", "2.410", 40) });
    window().downloadFirmwareUpdateButton();
    EXPECT_TRUE(window().updateSheet()->isVisible());
    window().updateSheetCancelButtonPressed();
    EXPECT_FALSE(window().updateSheet()->isVisible());
    EXPECT_EQ(app->log.count("User cancelled apparently, since nsdata is nil"), 1u);
    runEventLoopFor(200);
    EXPECT_TRUE(app->alerts.alerts.empty());

    app->alerts.answers = { 1 };
    window().downloadFirmwareUpdateButton();
    ASSERT_TRUE(waitUntil([&] { return alerted("Warning!"); }));
    runEventLoopFor(200);
    EXPECT_FALSE(window().isLogBookEraseScheduledForNextDeviceConnect());
    EXPECT_FALSE(app->log.containsPrefix("Uploading firmware line"));
    EXPECT_EQ(firmwareOfTheInstrument(), 2405);
}

TEST_F(FirmwareWindowTest, EveryFailedDownloadOrInstallationLeavesTheFirmwareAndTheLogBook)
{
    app->launch();
    const std::string good = UpdateProducts::firmwareText("2.410", 40);
    struct Case {
        const char* what;
        std::function<void()> prepare;
        std::string alertMessage;
        std::string alertText;
    };
    const std::vector<Case> cases {
        { "a missing file (404)",
            [&] { fs::remove(products->product("wrenfw_asp").path); },
            "Error downloading firmware", "The server didn't return correct response. URLResponse status code 404" },
        { "a file that is not what the feed's checksum names",
            [&] { serve(products->product("wrenfw_asp").fileName, good + "S9030000FC\n"); },
            "Error downloading firmware",
            "The downloaded firmware does not match the checksum the update server gives for it. Nothing was installed. Try again later" },
        { "a download cut short, served with its own checksum",
            [&] { offer({ UpdateProducts::raw("wrenfw_asp", "2.410", "cut.s19", Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2))) }); },
            "The firmware file is not correct", "" },
        { "firmware nobody signed",
            [&] {
                UpdateProducts::Entry entry = UpdateProducts::firmware("wrenfw_asp", "2.410", 40);
                entry.signer = UpdateProducts::Entry::Signer::nobody;
                entry.fileName = "unsigned.s19"; // a new address: the check that offers it is awaited
                offer({ entry });
            },
            "Error downloading firmware", "The update is not signed by the vendor. Nothing was installed" },
        { "firmware signed by a key nobody trusts",
            [&] {
                UpdateProducts::Entry entry = UpdateProducts::firmware("wrenfw_asp", "2.410", 40);
                entry.signer = UpdateProducts::Entry::Signer::unknownKey;
                entry.fileName = "unknown-key.s19";
                offer({ entry });
            },
            "Error downloading firmware", "The update is not signed by the vendor. Nothing was installed" },
        // Signed by the vendor, but not what the feed's entry offers: refused before the
        // log-book warning.
        { "2.300 offered as 2.410",
            [&] {
                const std::string older = UpdateProducts::firmwareText("2.300", 40);
                offer({ UpdateProducts::raw("wrenfw_asp", "2.410", "older.s19", Bytes(older.begin(), older.end())) });
            },
            "The firmware is not the one offered",
            "The versions feed offered Wren firmware 2.410, but the file it gave is Wren firmware 2.300: the feed and the "
            "file disagree. Nothing was sent to the instrument." },
        { "line 17 rejected by the instrument",
            [&] { ASSERT_TRUE(instrument.control("fault firmware-reject 17")); },
            "Oops!", "Firmware updating error!" },
    };
    for (const Case& c : cases) {
        offer({ UpdateProducts::firmware("wrenfw_asp", "2.410", 40) });
        c.prepare();
        app->alerts.alerts.clear();
        app->log.lines.clear();
        window().downloadFirmwareUpdateButton();
        ASSERT_TRUE(waitUntil([&] { return alerted(c.alertMessage); }, 20000)) << c.what;
        runEventLoopFor(100);
        const Alert& last = app->alerts.alerts.back();
        EXPECT_EQ(last.message, c.alertMessage) << c.what;
        if (!c.alertText.empty()) {
            EXPECT_EQ(last.informativeText, c.alertText) << c.what;
        }
        // A failed installation takes back the erase its warning scheduled.
        EXPECT_FALSE(window().isLogBookEraseScheduledForNextDeviceConnect()) << c.what;
        EXPECT_EQ(firmwareOfTheInstrument(), 2405) << c.what;
        EXPECT_EQ(app->ui().logEntriesCombo->count(), 7) << c.what;
    }
}

// The user's own file is read no further than a firmware file can be long.
TEST_F(FirmwareWindowTest, AFileThatNeverEndsOrCannotBeReadIsRefusedWithNothingSent)
{
    app->launch();
    window().setIsBetaVersionUpdateWindow(true);
    const std::pair<QString, std::string> files[] = {
        { "/dev/zero", "The file cannot be read: it is a device, not a file." },
        { "/nonexistent/firmware.s19", "The file cannot be read: no such file." },
    };
    for (const auto& [path, text] : files) {
        SCOPED_TRACE(path.toStdString());
        window().setPanels({ [path = path] { return std::optional<QString>(path); }, {} });
        app->alerts.alerts.clear();
        window().updateFirmwareFromAFile();
        ASSERT_TRUE(waitUntil([&] { return alerted("The firmware file is not correct"); }));
        EXPECT_EQ(app->alerts.alerts.back().informativeText, text);
        EXPECT_EQ(firmwareOfTheInstrument(), 2405);
    }
}

// An older version than the instrument runs goes in only when the pilot says so; Cancel
// is the default.
TEST_F(FirmwareWindowTest, AnOlderFileIsInstalledOnlyWhenThePilotSaysSo)
{
    app->launch();
    firmwareFile("2.300", 30);
    app->alerts.answers = { 1 };
    window().updateFirmwareFromAFile();
    ASSERT_TRUE(waitUntil([&] { return alerted("Install the older firmware 2.300 over 2.405?"); }));
    const Alert question = app->alerts.alerts.back();
    EXPECT_EQ(question.buttons, (std::vector<std::string> { "Install", "Cancel" }));
    EXPECT_EQ(question.defaultButton, 1);
    runEventLoopFor(200);
    EXPECT_EQ(app->alerts.alerts.size(), 1u);
    EXPECT_FALSE(app->log.containsPrefix("Uploading firmware line"));
    EXPECT_EQ(firmwareOfTheInstrument(), 2405);

    window().updateFirmwareFromAFile(); // "Install"
    ASSERT_TRUE(waitUntil([&] { return app->ui().serialLabel->text().endsWith("Device Firmware: 2300"); }, 30000));
    EXPECT_EQ(app->alerts.alerts.size(), 2u);
}

TEST_F(FirmwareWindowTest, AFileInstalledInBetaModeNeverWarnsNorSchedulesAnErase)
{
    app->launch();
    firmwareFile("2.412", 30);
    window().setIsBetaVersionUpdateWindow(true);
    window().updateFirmwareFromAFile();
    ASSERT_TRUE(waitUntil([&] { return app->ui().serialLabel->text().endsWith("Device Firmware: 2412"); }, 30000));
    EXPECT_FALSE(alerted("Warning!"));
    EXPECT_FALSE(window().isLogBookEraseScheduledForNextDeviceConnect());
    EXPECT_EQ(backupFiles(), 0u);
    ASSERT_TRUE(waitUntil([&] { return app->ui().logEntriesCombo->count() == 7; }));
}

// The instrument is the installation's from the backup to the reboot line: the main
// window's commands are greyed, and those that are reached anyway (a launcher, a
// shortcut) refuse, so that no other request gets between two firmware lines.
TEST_F(FirmwareWindowTest, NoOtherCommandReachesTheInstrumentWhileFirmwareIsInstalled)
{
    AnsweringPanels panels;
    QTemporaryDir saves;
    panels.answer = saves.path() + "/saved";
    app->controller->setFilePanelPresenter(&panels);
    app->launch();
    ASSERT_TRUE(waitUntil([&] { return app->ui().logEntriesCombo->count() == 7; }));
    app->ui().logEntriesCombo->setCurrentIndex(0); // All Available
    app->controller->logEntriesComboItemSelected(0);
    firmwareFile("2.410", 300);

    int pokes = 0;
    const auto saveEverything = [&] {
        ++pokes;
        EXPECT_TRUE(app->controller->instrumentSession()->isBusy());
        EXPECT_FALSE(app->ui().flightsPanel->isEnabled());
        EXPECT_FALSE(app->ui().instrumentMenu->menuAction()->isEnabled());
        app->ui().downloadLogbookButton->click();
        app->ui().downloadTracklogButton->click();
        app->controller->downloadLogbook(); // "Save Log Book..."
        app->controller->downloadTracklog(); // "Save Track Log..."
    };
    // During the backup: its report; during the lines: the first turn of the loop.
    app->alerts.duringAlert = [&] {
        if (app->controller->instrumentSession()->isBusy())
            saveEverything();
    };
    QString statusDuringBackup;
    bool linesStarted = false;
    onRequest = [&](const Bytes& request) {
        if (request[0] == 0x03 && statusDuringBackup.isEmpty())
            statusDuringBackup = app->window.statusText();
        if (request[0] == 0x11 && !linesStarted) {
            linesStarted = true;
            QTimer::singleShot(0, saveEverything);
        }
    };
    requests.clear();
    window().setIsLogBookEraseScheduledForNextDeviceConnect(true);
    window().updateFirmwareFromAFile();
    onRequest = nullptr;
    ASSERT_TRUE(waitUntil([&] { return app->ui().serialLabel->text().endsWith("Device Firmware: 2410"); }, 30000));
    ASSERT_TRUE(waitUntil([&] { return app->ui().logEntriesCombo->count() == 1; }));

    EXPECT_EQ(pokes, 2);
    // Both commands ask for their file before their first request: they never began.
    EXPECT_TRUE(panels.saveRequests.empty());
    EXPECT_TRUE(panels.folderRequests.empty());
    EXPECT_EQ(statusDuringBackup, "Saving a backup of the log book before the firmware update...");
    EXPECT_EQ(backupFiles(), 6u);
    // From the first firmware line to the reboot line, nothing but firmware lines.
    const auto isLine = [](const Bytes& request) { return request[0] == 0x11; };
    const auto first = std::find_if(requests.begin(), requests.end(), isLine);
    const auto last = std::find_if(requests.rbegin(), requests.rend(), isLine).base();
    ASSERT_NE(first, requests.end());
    EXPECT_EQ(std::count_if(first, last, isLine), last - first) << "foreign requests among the firmware lines";
    EXPECT_GT(last - first, 300);
}

TEST_F(FirmwareWindowTest, ABackupThatFailsBeforeAnErasingUpdateInstallsNothing)
{
    // A file where the backups folder should go.
    const std::string blocked = backups.path().toStdString() + "/blocked";
    std::ofstream(blocked) << "x";
    app->controller->setLogBookBackupsRoot(blocked);
    app->launch();
    offer({ UpdateProducts::firmware("wrenfw_asp", "2.410", 40) });
    const QString status = app->window.statusText();
    window().downloadFirmwareUpdateButton();
    ASSERT_TRUE(waitUntil([&] { return alerted("The firmware was not installed"); }, 20000));
    EXPECT_EQ(app->alerts.alerts.back().informativeText,
        "The log book could not be saved before the update, which erases it (6 flights were not saved); nothing was "
        "sent to the instrument.");
    EXPECT_FALSE(app->log.containsPrefix("Uploading firmware line"));
    EXPECT_FALSE(window().isLogBookEraseScheduledForNextDeviceConnect());
    EXPECT_EQ(app->window.statusText(), status);
    EXPECT_EQ(firmwareOfTheInstrument(), 2405);
    EXPECT_EQ(app->ui().logEntriesCombo->count(), 7);
}
