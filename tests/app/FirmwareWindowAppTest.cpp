// The update window's firmware operations in the whole program, against the stand-in
// vendor server on loopback and the virtual instrument on a real pty: the download with
// the log-book warning, the installation, the restart onto the new version with the
// backed-up erase, and each way a download or an installation can fail.
#include "AppTestSupport.h"
#include "UpdateProducts.h"
#include "VendorServerProcess.h"
#include "VirtualInstrumentProcess.h"
#include "platform/PosixSerialLine.h"
#include "platform/qt/SystemDiscovery.h"
#include "updates/ui/UpdateWindow.h"

#include <QDialog>
#include <QFile>
#include <QLabel>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

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
            return last && last->firmwareUrlV2 == url;
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

    std::uint16_t firmwareOfTheInstrument()
    {
        static_cast<void>(app->device().getDeviceInfo());
        return app->device().currentFirmwareVersion();
    }

    VendorServerProcess server;
    VirtualInstrumentProcess instrument;
    QTemporaryDir backups;
    CapturingLogSink discoveryLog;
    PosixSerialPortOpener ports;
    std::unique_ptr<SerialDeviceDiscovery> discovery;
    std::unique_ptr<AppHarness> app;
    std::optional<UpdateProducts> products;
};

} // namespace

TEST_F(FirmwareWindowTest, ADownloadThatErasesTheLogBookWarnsInstallsAndBacksUpOnTheRestart)
{
    app->launch();
    offer({ UpdateProducts::firmware("wrenfw_asp", "2.410", 250) });
    ASSERT_TRUE(window().lastCheckedAvailableUpdates()->firmwareUpdateAvailableV2);

    window().downloadFirmwareUpdateButton();
    // The instrument restarts onto 2.410; the scheduled erase saves every flight first.
    ASSERT_TRUE(waitUntil([&] { return app->ui().serialLabel->text().endsWith("Device Firmware: 2410"); }, 30000));
    ASSERT_TRUE(waitUntil([&] { return app->ui().logEntriesCombo->count() == 1; }));

    ASSERT_FALSE(app->alerts.alerts.empty());
    EXPECT_EQ(app->alerts.alerts[0].message, "Warning!");
    EXPECT_EQ(app->alerts.alerts[0].buttons, (std::vector<std::string> { "Yes", "No" }));
    EXPECT_TRUE(alerted("The log book was saved"));
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

TEST_F(FirmwareWindowTest, AFileInstalledInBetaModeNeverWarnsNorSchedulesAnErase)
{
    app->launch();
    QTemporaryDir folder;
    const std::string path = folder.path().toStdString() + "/firmware-2.412.s19";
    {
        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const std::string text = UpdateProducts::firmwareText("2.412", 30);
        file.write(text.data(), static_cast<qint64>(text.size()));
    }
    window().setIsBetaVersionUpdateWindow(true);
    window().setPanels({ [&] { return std::optional<QString>(QString::fromStdString(path)); }, {} });
    window().updateFirmwareFromAFile();
    ASSERT_TRUE(waitUntil([&] { return app->ui().serialLabel->text().endsWith("Device Firmware: 2412"); }, 30000));
    EXPECT_FALSE(alerted("Warning!"));
    EXPECT_FALSE(window().isLogBookEraseScheduledForNextDeviceConnect());
    EXPECT_EQ(backupFiles(), 0u);
    ASSERT_TRUE(waitUntil([&] { return app->ui().logEntriesCombo->count() == 7; }));
}
