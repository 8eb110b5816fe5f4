// No flight lost to an erase: the main window's Erase Log Book saves every flight as
// IGC first, asks before losing any, and leaves the window listing what the instrument
// still holds. (The backup before an erasing firmware update is FirmwareWindowAppTest's.)
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
    // Return answers "No": the erase needs a deliberate click.
    EXPECT_EQ(app.alerts.alerts[0].defaultButton, 1);
    EXPECT_EQ(app.alerts.alerts[0].kind, Alert::Kind::Warning);
    EXPECT_TRUE(pty.backupFiles().empty());
    EXPECT_EQ(app.ui().logEntriesCombo->count(), 7);

    // "Yes": backed up, erased, and the list shows the empty log book.
    app.alerts.alerts.clear();
    app.controller->eraseButtonPressed();
    const auto files = pty.backupFiles();
    ASSERT_EQ(files.size(), 6u);
    for (const std::string& file : files) {
        EXPECT_TRUE(isIgc(file)) << file;
        EXPECT_NE(file.find("/backups/C0FFEE/"), std::string::npos) << file;
    }
    EXPECT_EQ(app.comboTitles(), (std::vector<std::string> { "All Available" }));
    EXPECT_NE(app.window.statusText().toStdString().find("No flights in the log book"), std::string::npos);
    ASSERT_EQ(app.alerts.alerts.size(), 2u);
    EXPECT_EQ(app.alerts.alerts[1].message, "The log book was saved");
    EXPECT_EQ(app.alerts.alerts[1].kind, Alert::Kind::Information);
}
