// The update window's software button and manual download against the stand-in vendor
// server, offscreen: the browser is a recorder, the installation goes into a temporary
// prefix and the real update helper replaces the program folder there.
#include "CapturingLogSink.h"
#include "DeviceTestRig.h"
#include "TemporaryFolder.h"
#include "UpdateProducts.h"
#include "VendorServerProcess.h"
#include "ZipWriting.h"
#include "platform/ProcessLauncher.h"
#include "platform/qt/PreferencesStore.h"
#include "platform/qt/QtHttpClient.h"
#include "support/QtTestHelpers.h"
#include "ui_UpdateWindow.h"
#include "updates/ui/UpdateWindow.h"

#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

using namespace corvex;
using namespace corvex::testing;

namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

class UpdateWindowSoftwareTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.isRunning()) << server.standardError().toStdString();
        preferences.setValue(QStringLiteral("vendorServerURL"), server.baseUrl());
        fs::create_directories(programFolder() + "/bin");
        fs::create_directories(programFolder() + "/libexec");
        std::ofstream(programFolder() + "/bin/corvex-vario") << "#!/bin/sh\necho old >> '" << startsRecord() << "'\n";
        fs::permissions(programFolder() + "/bin/corvex-vario", fs::perms(0755));
        fs::copy_file(std::string(CORVEX_BUILD_DIR) + "/CorvexVarioUpdateHelperTool",
            programFolder() + "/libexec/CorvexVarioUpdateHelperTool");

        UpdateWindow::Environment environment;
        environment.preferences = &preferences;
        environment.log = &log;
        environment.alerts = &alerts;
        environment.http = &http;
        environment.programVersion = "1.0.0";
        window = std::make_unique<UpdateWindow>(environment);
        window->setPanels({ {}, [this](const QString& url) { opened.push_back(url.toStdString()); } });
        installAs(programFolder() + "/bin/corvex-vario");
    }

    void TearDown() override { endProgram(); }

    // A stand-in left running would hold ctest's output pipe open until it ends.
    void endProgram()
    {
        if (program > 0) {
            ::kill(program, SIGKILL);
            ::waitpid(program, nullptr, 0);
        }
        program = 0;
    }

    std::string programFolder() const { return root.path() + "/apps/corvex-vario"; }
    std::string workingDirectory() const { return root.path() + "/CorvexVarioUpdaterTmpDirectory"; }
    // The working directories the installations made (the stem with a random suffix).
    std::vector<std::string> workingDirectories() const
    {
        std::vector<std::string> made;
        for (const std::string& path : corvex::testing::filesBelow(root.path()))
            if (path.starts_with("CorvexVarioUpdaterTmpDirectory"))
                made.push_back(path);
        return made;
    }
    std::string startsRecord() const { return root.path() + "/starts"; }
    std::string base() const { return server.baseUrl().toStdString(); }

    // The program the window runs as; the helper waits for a stand-in process that
    // ends when the window asks the program to end.
    void installAs(const std::string& executable)
    {
        UpdateWindow::SoftwareInstallation installation;
        installation.programFolder = ProgramFolder::ofExecutable(executable);
        installation.workingDirectory = workingDirectory();
        installation.processes = &processes;
        installation.terminateApplication = [this] {
            ++terminations;
            // The program ends a little later, as a real one does after its event loop;
            // the helper must wait for it.
            QThread::msleep(300);
            EXPECT_EQ(readFile(startsRecord()), "") << "the helper started the program before it had ended";
            endProgram();
        };
        endProgram();
        const auto started = processes.startDetached("/bin/sleep", { "60" }, "/");
        ASSERT_TRUE(started);
        program = *started;
        installation.processId = program;
        window->setSoftwareInstallation(installation);
    }

    void writeFeed(const std::string& softwareUrl, const std::string& betaUrl = "")
    {
        std::string feed = "<corvex><products><product id=\"larkswMac\" version=\"9.9.0\" url=\"" + softwareUrl + "\"/>";
        if (!betaUrl.empty())
            feed += "<product id=\"larkswMacBeta\" version=\"10.0.0\" url=\"" + betaUrl + "\"/>";
        feed += "</products></corvex>";
        QFile file(server.productsDirectory() + "/versions.xml");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(feed.data(), static_cast<qint64>(feed.size()));
    }

    // Runs a check, as every connection does, and waits for its outcome.
    void check()
    {
        const auto completed = [this] {
            return std::count_if(log.lines.begin(), log.lines.end(),
                [](const std::string& line) { return line.starts_with("Current software version: "); });
        };
        const auto before = completed();
        window->checkUpdates();
        ASSERT_TRUE(waitUntil([&] { return completed() > before; }));
    }

    void pressSoftwareButton()
    {
        ASSERT_TRUE(window->ui().softwareUpdateButton->isEnabled());
        window->ui().softwareUpdateButton->click();
    }

    bool sheetShown() const { return window->updateSheet()->isVisible(); }

    VendorServerProcess server;
    TemporaryFolder root { "corvex-window-sw" };
    PreferencesStore preferences { QString::fromStdString(root.path() + "/settings.ini") };
    CapturingLogSink log;
    RecordingAlertPresenter alerts;
    QtHttpClient http;
    PosixProcessLauncher processes;
    std::unique_ptr<UpdateWindow> window;
    std::vector<std::string> opened;
    pid_t program { 0 };
    int terminations { 0 };
};

TEST_F(UpdateWindowSoftwareTest, ADownloadedPackageReplacesTheProgramFolderAndTheProgramStartsAgain)
{
    UpdateProducts::Entry entry = UpdateProducts::software("larkswMac", "9.9.0");
    entry.files[0].contents = "#!/bin/sh\necho 9.9.0 >> '" + startsRecord() + "'\n";
    // Some megabytes, so that the unpacking's bar has steps to show.
    entry.files.push_back({ "corvex-vario/share/data", std::string(5 << 20, 'd') });
    const UpdateProducts products = UpdateProducts::make(server.productsDirectory().toStdString(), base(), { entry });
    check();
    int progressSeen = 0;
    std::vector<int> unpackingProgress;
    QObject::connect(window->updateSheetProgressBar(), &QProgressBar::valueChanged, [&](int value) {
        progressSeen = value;
        if (window->updateSheetLabel()->text() == "Unpacking the Corvex Vario Software update, please wait...") {
            EXPECT_TRUE(sheetShown() || value == 0); // 0 as the sheet opens
            EXPECT_FALSE(window->updateSheetCancelButton()->isEnabled());
            unpackingProgress.push_back(value);
        }
    });

    pressSoftwareButton();
    EXPECT_TRUE(sheetShown());
    EXPECT_EQ(window->updateSheetLabel()->text(), "Downloading an Corvex Vario Software update, please wait...");
    EXPECT_TRUE(window->updateSheetCancelButton()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return terminations > 0; }, 15000)) << ::testing::PrintToString(log.lines);
    EXPECT_FALSE(sheetShown());
    EXPECT_EQ(progressSeen, 100);
    EXPECT_TRUE(alerts.alerts.empty());
    EXPECT_TRUE(log.contains("Unzipped successfully"));
    // The unpacking ran off the window's thread while its bar moved on this one (how
    // many steps it shows depends on how fast the disk is: the latest share wins).
    EXPECT_GE(unpackingProgress.size(), 2u) << ::testing::PrintToString(unpackingProgress);
    EXPECT_EQ(unpackingProgress.empty() ? -1 : unpackingProgress.front(), 0);
    EXPECT_TRUE(std::is_sorted(unpackingProgress.begin(), unpackingProgress.end()));
    EXPECT_EQ(unpackingProgress.empty() ? 0 : unpackingProgress.back(), 100);

    EXPECT_TRUE(waitUntil([&] { return readFile(startsRecord()) == "9.9.0\n"; }, 10000)) << readFile(startsRecord());
    EXPECT_EQ(readFile(programFolder() + "/share/VERSION"), "9.9.0\n");
    EXPECT_TRUE(waitUntil([&] { return workingDirectories().empty(); }, 5000)) << ::testing::PrintToString(workingDirectories());
    EXPECT_TRUE(opened.empty());
}

TEST_F(UpdateWindowSoftwareTest, PackagesThatAreNoZipAreOpenedInTheBrowserOrRefused)
{
    struct Case {
        const char* what;
        std::string url;
        std::vector<std::string> opened;
        std::string alert; // "" when none
    };
    const std::string site = "https://downloads.example";
    const std::string notOpened = "The address is not secure (https), so it was not opened in the browser: ";
    const Case cases[] = {
        { "a disk image", site + "/CorvexVario-9.9.0.dmg", { site + "/CorvexVario-9.9.0.dmg" }, "" },
        { "a disk image with a query", site + "/get/Corvex%20Vario.dmg?from=feed", { site + "/get/Corvex%20Vario.dmg?from=feed" }, "" },
        // Nothing but https goes to the desktop's browser.
        { "a disk image over http", base() + "/CorvexVario-9.9.0.dmg", {}, notOpened + base() + "/CorvexVario-9.9.0.dmg" },
        { "a local disk image", "file:///tmp/CorvexVario-9.9.0.dmg", {}, notOpened + "file:///tmp/CorvexVario-9.9.0.dmg" },
        { "capital DMG", base() + "/CorvexVario-9.9.0.DMG", {}, "The URL returned by the server is neither zip nor dmg" },
        { "capital ZIP", base() + "/CorvexVario-9.9.0.ZIP", {}, "The URL returned by the server is neither zip nor dmg" },
        { "no extension", base() + "/download", {}, "The URL returned by the server is neither zip nor dmg" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        opened.clear();
        alerts.alerts.clear();
        writeFeed(c.url);
        check();
        pressSoftwareButton();
        EXPECT_FALSE(sheetShown());
        EXPECT_EQ(opened, c.opened);
        if (!c.alert.empty()) {
            ASSERT_EQ(alerts.alerts.size(), 1u);
            EXPECT_EQ(alerts.alerts[0].message, "Error");
            EXPECT_EQ(alerts.alerts[0].informativeText, c.alert);
            EXPECT_EQ(alerts.alerts[0].buttons, std::vector<std::string> { "Ok" });
        } else {
            EXPECT_TRUE(alerts.alerts.empty());
        }
        EXPECT_FALSE(window->softwareDownloadConnection());
    }
}

TEST_F(UpdateWindowSoftwareTest, FailedDownloadsAndADamagedPackageInstallNothing)
{
    UpdateProducts products = UpdateProducts::make(
        server.productsDirectory().toStdString(), base(), { UpdateProducts::software("larkswMac", "9.9.0") });
    struct Case {
        const char* what;
        std::function<void()> arrange;
        const char* title;
        const char* text; // the start of the alert's text
    };
    const Case cases[] = {
        { "a missing file", [&] { writeFeed(base() + "/missing.zip"); }, "Error downloading software update",
            "The server didn't return correct response. URLResponse status code 404" },
        { "nobody listening", [&] { writeFeed("http://127.0.0.1:1/corvex-vario.zip"); }, "Error downloading software update",
            "There was a problem downloading software update. " },
        // Signed by nobody, or by a key the program does not trust: refused before anything is unpacked.
        { "an unsigned package",
            [&] {
                UpdateProducts::Entry entry = UpdateProducts::software("larkswMac", "9.9.0");
                entry.signer = UpdateProducts::Entry::Signer::nobody;
                UpdateProducts::make(server.productsDirectory().toStdString(), base(), { entry });
            },
            "Error downloading software update", "The update is not signed by the vendor. Nothing was installed" },
        { "a package signed by an unknown key",
            [&] {
                UpdateProducts::Entry entry = UpdateProducts::software("larkswMac", "9.9.0");
                entry.signer = UpdateProducts::Entry::Signer::unknownKey;
                UpdateProducts::make(server.productsDirectory().toStdString(), base(), { entry });
            },
            "Error downloading software update", "The update is not signed by the vendor. Nothing was installed" },
        { "a package at a file address", [&] { writeFeed("file://" + products.product("larkswMac").path); },
            "Error downloading software update", "The update server offers the program at an address that is not secure" },
        // The served file is not the one the feed signed: its signature gives it away first.
        { "a damaged package",
            [&] {
                const Bytes other = UpdateProducts::zipArchive({ { "corvex-vario/bin/corvex-vario", "#!/bin/sh\n", true, false } });
                std::ofstream(products.product("larkswMac").path, std::ios::binary | std::ios::trunc)
                    .write(reinterpret_cast<const char*>(other.data()), static_cast<std::streamsize>(other.size()));
                QFile::remove(server.productsDirectory() + "/versions.xml");
                products = UpdateProducts::make(server.productsDirectory().toStdString() + "/unused", base(),
                    { UpdateProducts::software("larkswMac", "9.9.0") });
                QFile::copy(QString::fromStdString(products.feedPath()), server.productsDirectory() + "/versions.xml");
            },
            "Error downloading software update", "The update is not signed by the vendor. Nothing was installed" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        alerts.alerts.clear();
        c.arrange();
        check();
        pressSoftwareButton();
        ASSERT_TRUE(waitUntil([&] { return !alerts.alerts.empty(); }, 15000));
        EXPECT_EQ(alerts.alerts[0].message, c.title);
        EXPECT_TRUE(alerts.alerts[0].informativeText.starts_with(c.text)) << alerts.alerts[0].informativeText;
        EXPECT_EQ(alerts.alerts[0].buttons, std::vector<std::string> { "Close" });
        EXPECT_TRUE(waitUntil([&] { return !sheetShown(); }, 2000));
        EXPECT_EQ(terminations, 0);
        EXPECT_EQ(workingDirectories(), std::vector<std::string> {});
    }
    EXPECT_EQ(readFile(startsRecord()), "");
}

TEST_F(UpdateWindowSoftwareTest, CancelStopsTheDownloadAndInstallsNothing)
{
    UpdateProducts::make(server.productsDirectory().toStdString(), base(), { UpdateProducts::software("larkswMac", "9.9.0") });
    check();
    pressSoftwareButton();
    // Callbacks come on later turns of the loop: the download still runs.
    window->updateSheetCancelButton()->click();
    EXPECT_TRUE(log.contains("User cancelled apparently, since nsdata is nil"));
    EXPECT_FALSE(sheetShown());
    runEventLoopFor(500);
    EXPECT_TRUE(alerts.alerts.empty());
    EXPECT_EQ(terminations, 0);
    EXPECT_EQ(workingDirectories(), std::vector<std::string> {});
}

TEST_F(UpdateWindowSoftwareTest, AProgramOfThePackageManagerSendsTheUserThereAndOpensNothing)
{
    installAs("/usr/bin/corvex-vario");
    for (const std::string& url : { base() + "/corvex-vario-9.9.0.zip", base() + "/CorvexVario-9.9.0.dmg" }) {
        SCOPED_TRACE(url);
        alerts.alerts.clear();
        writeFeed(url);
        check();
        pressSoftwareButton();
        EXPECT_FALSE(sheetShown());
        ASSERT_EQ(alerts.alerts.size(), 1u);
        EXPECT_EQ(alerts.alerts[0].message, "Corvex Vario was installed by the package manager");
        EXPECT_TRUE(opened.empty());
        EXPECT_FALSE(window->softwareDownloadConnection());
    }
}

TEST_F(UpdateWindowSoftwareTest, ManualDownloadOpensTheWebSiteBeforeAnyCheckAndThenTheOfferedPackage)
{
    // The stand-in server's site is plain http: said, not opened.
    window->manuallyDownloadLatestSoftware();
    ASSERT_EQ(alerts.alerts.size(), 1u);
    EXPECT_EQ(alerts.alerts[0].informativeText,
        "The address is not secure (https), so it was not opened in the browser: " + base() + "/");
    const std::string site = "https://downloads.example";
    writeFeed(site + "/release/Corvex Vario 9.9.0.zip", site + "/beta/corvex-vario-10.0.0.dmg");
    check();
    window->manuallyDownloadLatestSoftware();
    window->setIsBetaVersionUpdateWindow(true);
    window->manuallyDownloadLatestSoftware();
    EXPECT_EQ(opened, (std::vector<std::string> { site + "/release/Corvex%20Vario%209.9.0.zip",
                          site + "/beta/corvex-vario-10.0.0.dmg" }));
    EXPECT_EQ(alerts.alerts.size(), 1u);
}

} // namespace
