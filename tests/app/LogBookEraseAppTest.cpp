// No flight lost to an erase: the erase a firmware update scheduled and the main
// window's Erase Log Book both save every flight as IGC first, ask before losing any,
// and leave the window listing what the instrument still holds.
#include "AppTestSupport.h"
#include "VirtualInstrumentProcess.h"
#include "platform/PosixSerialLine.h"
#include "platform/qt/SystemDiscovery.h"
#include "updates/ui/UpdateWindow.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace corvex;
using namespace corvex::testing;
namespace fs = std::filesystem;

namespace {

struct BackingUpPtyApp {
    explicit BackingUpPtyApp(VirtualInstrumentProcess& instrument)
    {
        setenv("CORVEX_INSTRUMENT_DIR", instrument.instrumentsDirectory().c_str(), 1);
        discovery = makeSystemDiscovery(discoveryLog);
        app = std::make_unique<AppHarness>(ports, discovery.get());
        app->controller->setLogBookBackupsRoot(backups.path().toStdString() + "/backups");
    }
    std::vector<std::string> backupFiles() const
    {
        std::vector<std::string> files;
        const std::string root = backups.path().toStdString() + "/backups";
        if (fs::exists(root))
            for (const auto& entry : fs::recursive_directory_iterator(root))
                if (entry.is_regular_file())
                    files.push_back(entry.path().string());
        return files;
    }

    QTemporaryDir backups;
    CapturingLogSink discoveryLog;
    PosixSerialPortOpener ports;
    std::unique_ptr<SerialDeviceDiscovery> discovery;
    std::unique_ptr<AppHarness> app;
};

bool isIgc(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return text.starts_with("A") && text.find("\r\nB") != std::string::npos;
}

} // namespace

TEST(LogBookEraseApp, TheScheduledEraseRunsOnlyAfterEveryFlightWasSaved)
{
    VirtualInstrumentProcess instrument;
    BackingUpPtyApp pty(instrument);
    AppHarness& app = *pty.app;
    ASSERT_TRUE(instrument.unplug());
    app.launch();
    app.controller->updateWindowController()->setIsLogBookEraseScheduledForNextDeviceConnect(true);

    ASSERT_TRUE(instrument.plug());
    ASSERT_TRUE(waitUntil([&] { return app.ui().serialLabel->text().startsWith("Serial Number"); }));
    ASSERT_TRUE(waitUntil([&] { return app.ui().logEntriesCombo->count() == 1; }));
    EXPECT_FALSE(app.controller->updateWindowController()->isLogBookEraseScheduledForNextDeviceConnect());

    const auto files = pty.backupFiles();
    ASSERT_EQ(files.size(), 6u);
    for (const std::string& file : files) {
        EXPECT_TRUE(isIgc(file)) << file;
        EXPECT_NE(file.find("/backups/C0FFEE/"), std::string::npos) << file;
    }
    ASSERT_EQ(app.alerts.alerts.size(), 1u);
    EXPECT_EQ(app.alerts.alerts[0].message, "The log book was saved");
    EXPECT_TRUE(app.log.containsPrefix("Log book backup: 6 flights saved in "));
    EXPECT_EQ(app.comboTitles(), (std::vector<std::string> { "All Available" }));
}

TEST(LogBookEraseApp, ABackupThatFailsAsksWithTheFlightsThatWouldBeLost)
{
    VirtualInstrumentProcess instrument;
    BackingUpPtyApp pty(instrument);
    AppHarness& app = *pty.app;
    // A file where the backups folder should go.
    const std::string blocked = pty.backups.path().toStdString() + "/blocked";
    std::ofstream(blocked) << "x";
    app.controller->setLogBookBackupsRoot(blocked);
    ASSERT_TRUE(instrument.unplug());
    app.launch();
    app.controller->updateWindowController()->setIsLogBookEraseScheduledForNextDeviceConnect(true);

    ASSERT_TRUE(instrument.plug()); // "No" is the first button: the flights stay
    ASSERT_TRUE(waitUntil([&] { return app.ui().logEntriesCombo->count() == 7; }));
    ASSERT_GE(app.alerts.alerts.size(), 2u);
    EXPECT_EQ(app.alerts.alerts[0].message, "The log book could not be saved");
    EXPECT_EQ(app.alerts.alerts[0].informativeText,
        "6 flights could not be saved and would be lost. Do you want to erase the log book anyway?");
    EXPECT_EQ(app.alerts.alerts[0].buttons, (std::vector<std::string> { "No", "Yes" }));
    EXPECT_EQ(app.alerts.alerts[1].message, "The log book was not erased");
}

TEST(LogBookEraseApp, EraseLogBookAsksNamingTheFlightsThenSavesErasesAndRefillsTheList)
{
    VirtualInstrumentProcess instrument;
    BackingUpPtyApp pty(instrument);
    AppHarness& app = *pty.app;
    app.launch();
    ASSERT_EQ(app.ui().logEntriesCombo->count(), 7);

    // "No": nothing happens.
    app.alerts.answers = { 1 };
    app.controller->eraseButtonPressed();
    ASSERT_EQ(app.alerts.alerts.size(), 1u);
    EXPECT_EQ(app.alerts.alerts[0].message, "Erase Log Book");
    EXPECT_TRUE(app.alerts.alerts[0].informativeText.starts_with("The instrument holds 6 flights."))
        << app.alerts.alerts[0].informativeText;
    EXPECT_EQ(app.alerts.alerts[0].buttons, (std::vector<std::string> { "Yes", "No" }));
    EXPECT_TRUE(pty.backupFiles().empty());
    EXPECT_EQ(app.ui().logEntriesCombo->count(), 7);

    // "Yes": backed up, erased, and the list shows the empty log book.
    app.alerts.alerts.clear();
    app.controller->eraseButtonPressed();
    EXPECT_EQ(pty.backupFiles().size(), 6u);
    EXPECT_EQ(app.comboTitles(), (std::vector<std::string> { "All Available" }));
    EXPECT_NE(app.window.statusText().toStdString().find("No flights in the log book"), std::string::npos);
    ASSERT_EQ(app.alerts.alerts.size(), 2u);
    EXPECT_EQ(app.alerts.alerts[1].message, "The log book was saved");
}
