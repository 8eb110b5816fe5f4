// The firmware installation, the log-book backup and `corvex firmware install` against
// the virtual instrument on a real pty, with firmware files made by srec_cat.
#include "CapturingLogSink.h"
#include "DeviceTestRig.h"
#include "SRecordFirmware.h"
#include "TemporaryFolder.h"
#include "TestFiles.h"
#include "VirtualInstrumentProcess.h"
#include "device/CorvexDevice.h"
#include "platform/PosixSerialLine.h"
#include "updates/FirmwareFile.h"
#include "updates/FirmwareInstallation.h"
#include "updates/LogBookBackup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>

using namespace corvex;
using namespace corvex::testing;
namespace fs = std::filesystem;

namespace {

struct PtySession {
    PtySession()
    {
        CorvexDeviceEnvironment environment;
        environment.ports = &ports;
        environment.log = &log;
        environment.alerts = &alerts;
        device = std::make_unique<CorvexDevice>(&delegate, environment);
    }
    bool connectTo(const std::string& path)
    {
        device->corvexDeviceMatchedAtBsdPath(path, 1);
        return device->hasOpenLine() && device->initializeDevice() && device->getDeviceInfo().has_value();
    }
    FirmwareInstallationEnvironment installation()
    {
        FirmwareInstallationEnvironment environment;
        environment.log = &log;
        environment.alerts = &alerts;
        environment.eventLoop = &eventLoop;
        environment.setProgress = [this](int percent) { progress.push_back(percent); };
        return environment;
    }
    PosixSerialPortOpener ports;
    CapturingLogSink log;
    RecordingAlertPresenter alerts;
    RecordingDelegate delegate;
    RecordingEventLoop eventLoop;
    std::vector<int> progress;
    std::unique_ptr<CorvexDevice> device;
};

// The firmware version the instrument reports once it is back on the bus after its
// restart; nothing when it does not come back within the time.
std::optional<std::uint16_t> versionAfterRestart(const std::string& path)
{
    for (int attempt = 0; attempt < 40; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        PtySession session;
        if (fs::exists(path) && session.connectTo(path))
            return session.device->currentFirmwareVersion();
    }
    return std::nullopt;
}

Bytes bytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

struct ProcessRun {
    int exitCode { -1 };
    std::string output; // stdout and stderr
};

ProcessRun runCorvex(const std::string& arguments, const std::string& environment = {})
{
    ProcessRun run;
    const std::string command = environment + CORVEX_BUILD_DIR "/corvex " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    std::size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, count);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::vector<std::string> filesIn(const std::string& folder)
{
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// What an IGC reader needs first: the A record, CR LF lines, fixes.
void expectIgc(const std::string& path)
{
    const std::string text = readFile(path);
    EXPECT_TRUE(text.starts_with("A")) << path;
    EXPECT_NE(text.find("\r\nB"), std::string::npos) << path;
    EXPECT_NE(text.find("\r\nHFDTE"), std::string::npos) << path;
    const std::string validator = std::string(CORVEX_SOURCE_DIR "/tools/validators");
    if (fs::exists(validator + "/node_modules/igc-parser/package.json") && std::system("command -v node >/dev/null") == 0) {
        const std::string command = "node '" + validator + "/igc-summary.js' '" + path + "' >/dev/null";
        EXPECT_EQ(std::system(command.c_str()), 0) << path;
    }
}

} // namespace

TEST(FirmwareOnTheInstrument, InstallsTwoHundredFiftyLinesAndComesBackWithTheNewVersion)
{
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    TemporaryFolder folder("corvex-firmware");
    const std::string firmware = makeSRecordFirmware(folder.path(), "WREN 2.406", 250);
    ASSERT_EQ(selectFirmwareLines(firmware).size(), 250u);

    PtySession session;
    ASSERT_TRUE(session.connectTo(instrument.portPath()));
    ASSERT_EQ(session.device->currentFirmwareVersion(), 2405);
    const auto result = installFirmwareFromData(*session.device, bytesOf(firmware), session.installation());
    EXPECT_EQ(result.outcome, FirmwareInstallationOutcome::Installed);
    EXPECT_EQ(result.linesSent, 250u);
    // Step 2: after lines 2, 4, ..., 250.
    EXPECT_EQ(session.progress.size(), 125u);
    ASSERT_FALSE(session.progress.empty());
    EXPECT_EQ(session.progress.back(), 100);
    EXPECT_EQ(session.progress[49], 40); // after line 100
    EXPECT_TRUE(session.log.contains("Firmware upload progress 100"));
    EXPECT_TRUE(session.alerts.alerts.empty());
    EXPECT_FALSE(session.device->hasOpenLine());
    EXPECT_EQ(session.delegate.events.back(), "disconnected");

    EXPECT_EQ(versionAfterRestart(instrument.portPath()), std::optional<std::uint16_t>(2406));
}

TEST(FirmwareOnTheInstrument, ARejectedLineEndsTheInstallationWithItsRebootLine)
{
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.control("fault firmware-reject 17"));
    TemporaryFolder folder("corvex-firmware");
    const std::string firmware = makeSRecordFirmware(folder.path(), "WREN 2.406", 40);
    const auto lines = selectFirmwareLines(firmware);

    PtySession session;
    ASSERT_TRUE(session.connectTo(instrument.portPath()));
    session.device->setShouldLogCommunications(true);
    const auto result = installFirmwareFromData(*session.device, bytesOf(firmware), session.installation());
    EXPECT_EQ(result.outcome, FirmwareInstallationOutcome::Failed);
    EXPECT_EQ(result.linesSent, 17u);

    std::string reboot = lines[17];
    reboot[1] = 'E';
    EXPECT_TRUE(session.log.contains("Reboot line #17: " + reboot));
    EXPECT_EQ(session.log.lines.back(),
        "deviceWriteData: " + describeBytes(CorvexDevice::firmwareLineFrame(true, 17, reboot)));
    ASSERT_EQ(session.alerts.alerts.size(), 1u);
    EXPECT_EQ(session.alerts.alerts[0].message, "Oops!");
    EXPECT_EQ(session.alerts.alerts[0].informativeText, "Firmware updating error!");
    // The old firmware stays and the link stays open.
    EXPECT_TRUE(session.device->hasOpenLine());
    auto info = session.device->getDeviceInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->firmwareVer, 2405);
}

TEST(LogBookBackupOnTheInstrument, SavesEveryFlightBeforeTheEraseAndAsksWhenItCannot)
{
    VirtualInstrumentProcess instrument;
    TemporaryFolder folder("corvex-backups");
    PtySession session;
    ASSERT_TRUE(session.connectTo(instrument.portPath()));
    const std::size_t flightCount = session.device->listFlightsShort().value_or(std::vector<FlightRecord> {}).size();
    ASSERT_GT(flightCount, 1u);

    std::vector<std::optional<std::size_t>> questions;
    bool answer = false;
    LogBookBackupEnvironment environment;
    environment.log = &session.log;
    environment.alerts = &session.alerts;
    environment.programVersion = "1.2.3";
    environment.confirmEraseWithoutBackup = [&](std::optional<std::size_t> lost) {
        questions.push_back(lost);
        return answer;
    };

    // A file where the backups folder should be: nothing can be saved, so the user is
    // asked with the number of flights that would go; "no" keeps them all.
    const std::string blocked = folder.path() + "/blocked";
    std::ofstream(blocked) << "not a folder";
    environment.backupsRoot = blocked;
    auto refused = backUpAndEraseLogBook(*session.device, "C0FFEE", environment);
    EXPECT_FALSE(refused.erased);
    EXPECT_EQ(questions, (std::vector<std::optional<std::size_t>> { flightCount }));
    EXPECT_EQ(session.device->listFlightsShort()->size(), flightCount);

    // A sound folder: every flight saved as IGC, then the erase, and the user told where.
    environment.backupsRoot = folder.path() + "/backups";
    session.alerts.alerts.clear();
    auto saved = backUpAndEraseLogBook(*session.device, "C0FFEE", environment);
    EXPECT_TRUE(saved.erased);
    ASSERT_TRUE(saved.backupFolder);
    EXPECT_TRUE(saved.backupFolder->starts_with(folder.path() + "/backups/C0FFEE/"));
    const auto files = filesIn(*saved.backupFolder);
    EXPECT_EQ(files.size(), flightCount);
    for (const std::string& file : files)
        expectIgc(file);
    EXPECT_EQ(questions.size(), 1u);
    ASSERT_EQ(session.alerts.alerts.size(), 1u);
    EXPECT_NE(session.alerts.alerts[0].informativeText.find(*saved.backupFolder), std::string::npos);
    EXPECT_TRUE(session.log.containsPrefix("Log book backup: " + std::to_string(flightCount) + " flights saved in "));
    EXPECT_TRUE(session.device->listFlightsShort()->empty());
}

TEST(FirmwareCommandLine, InstallsWaitsForTheRestartAndBacksUpBeforeTheErase)
{
    VirtualInstrumentProcess instrument;
    TemporaryFolder folder("corvex-firmware-cli");
    const std::string firmware = makeSRecordFirmware(folder.path(), "WREN 2.406", 250);
    const std::string good = folder.path() + "/good.s19";
    std::ofstream(good, std::ios::binary) << firmware;
    const std::string cut = folder.path() + "/cut.s19";
    std::ofstream(cut, std::ios::binary) << firmware.substr(0, firmware.size() - 20);
    const std::string data = "XDG_DATA_HOME='" + folder.path() + "/data' ";

    // Not a terminal: one percentage a line.
    const ProcessRun refused = runCorvex("--port " + instrument.portPath() + " firmware install " + cut);
    EXPECT_EQ(refused.exitCode, 4) << refused.output;
    EXPECT_NE(refused.output.find("nothing was sent"), std::string::npos) << refused.output;
    EXPECT_EQ(refused.output.find("%"), std::string::npos) << refused.output;

    const ProcessRun run
        = runCorvex("--port " + instrument.portPath() + " firmware install " + good + " --erase-log-book", data);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("\n50%\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\n100%\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("The instrument is back with firmware 2.406."), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("The log book was erased."), std::string::npos) << run.output;
    const std::string backups = folder.path() + "/data/Corvex/backups/C0FFEE";
    ASSERT_TRUE(fs::exists(backups)) << run.output;
    const auto files = filesIn(backups);
    EXPECT_EQ(files.size(), 6u);
    for (const std::string& file : files)
        expectIgc(file);

    PtySession session;
    ASSERT_TRUE(session.connectTo(instrument.portPath()));
    EXPECT_EQ(session.device->currentFirmwareVersion(), 2406);
    EXPECT_TRUE(session.device->listFlightsShort().value_or(std::vector<FlightRecord> { FlightRecord {} }).empty());
}
