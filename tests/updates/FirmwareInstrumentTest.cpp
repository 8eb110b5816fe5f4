// A rejected line against the virtual instrument on a real pty, and `corvex firmware
// install` as a process (installation, restart, backup, erase), with firmware files made
// by srec_cat. The whole download-install-restart round is the window's test.
#include "CapturingLogSink.h"
#include "DeviceTestRig.h"
#include "SRecordFirmware.h"
#include "TemporaryFolder.h"
#include "TestFiles.h"
#include "VirtualInstrumentProcess.h"
#include "device/CorvexDevice.h"
#include "device/InstrumentSession.h"
#include "platform/PosixSerialLine.h"
#include "updates/FirmwareFile.h"
#include "updates/FirmwareInstallation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <tuple>

using namespace corvex;
using namespace corvex::testing;
namespace fs = std::filesystem;

namespace {

struct PtySession {
    PtySession()
    {
        CorvexDeviceEnvironment environment;
        environment.ports = &ports;
        environment.alerts = &alerts;
        device = std::make_unique<CorvexDevice>(&delegate, environment, OperationContext(log));
    }
    bool connectTo(const std::string& path)
    {
        device->corvexDeviceMatchedAtBsdPath(path, 1);
        return device->hasOpenLine() && device->initializeDevice() && device->getDeviceInfo().hasValue();
    }
    FirmwareInstallationResult install(InstrumentSession& session, const Bytes& firmware)
    {
        FirmwareInstallationOptions options;
        options.alerts = &alerts;
        return installFirmware(session, firmware, false, options, OperationContext(log).withProgress(&progress));
    }
    PosixSerialPortOpener ports;
    CapturingLogSink log;
    RecordingAlertPresenter alerts;
    RecordingDelegate delegate;
    RecordingProgress progress;
    std::unique_ptr<CorvexDevice> device;
};

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
    InstrumentSession instrumentSession(*session.device);
    const auto result = session.install(instrumentSession, bytesOf(firmware));
    EXPECT_EQ(result.outcome, FirmwareInstallationOutcome::Failed);
    EXPECT_EQ(result.linesSent, 17u);

    std::string reboot = lines[17];
    reboot[1] = 'E';
    EXPECT_TRUE(session.log.contains("Reboot line #17: " + reboot));
    EXPECT_EQ(session.log.lines.back(),
        "deviceWriteData: " + describeBytes(CorvexDevice::firmwareLineFrame(varioModel(InstrumentGeneration::Wren), 17, reboot)));
    ASSERT_EQ(session.alerts.alerts.size(), 1u);
    EXPECT_EQ(session.alerts.alerts[0].message, "Oops!");
    EXPECT_EQ(session.alerts.alerts[0].informativeText, "Firmware updating error!");
    // The old firmware stays and the link stays open.
    EXPECT_TRUE(session.device->hasOpenLine());
    auto info = session.device->getDeviceInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->firmwareVer, 2405);
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

    // A damaged, empty, endless or huge file is refused before anything is announced or
    // sent, and read no further than a firmware file can be long.
    const std::string empty = folder.path() + "/empty.s19";
    std::ofstream(empty, std::ios::binary).flush();
    const std::string huge = folder.path() + "/huge.s19";
    std::ofstream(huge, std::ios::binary) << "S0";
    fs::resize_file(huge, largestFirmwareFileBytes + 1); // sparse: no disk spent
    // Another model's firmware, and an older version unless asked for, are refused too.
    const auto write = [&](const std::string& name, const std::string& header) {
        std::ofstream(folder.path() + "/" + name, std::ios::binary) << makeSRecordFirmware(folder.path(), header, 40);
        return folder.path() + "/" + name;
    };
    const std::string lark = write("lark.s19", "LARK 1.400");
    const std::string older = write("older.s19", "WREN 2.300");
    const std::tuple<std::string, std::string, int> refusals[] = {
        { cut, cut + " is not sound firmware; nothing was sent", 4 },
        { empty, empty + " is not sound firmware; nothing was sent", 4 },
        { "/dev/zero", "cannot read /dev/zero: it is a device, not a file; nothing was sent", 4 },
        { huge, huge + " is larger than any firmware (32 MiB); nothing was sent", 4 },
        { folder.path(), "cannot read " + folder.path() + ": it is a folder, not a file; nothing was sent", 4 },
        { lark + " --allow-downgrade",
            "not installing " + lark + ": the file is Lark firmware 1.400, and the instrument is a Wren; nothing was sent", 4 },
        { older,
            "not installing " + older + ": the file is Wren firmware 2.300, older than the 2.405 the Wren runs: run again "
            "with --allow-downgrade to install the older firmware; nothing was sent", 1 },
    };
    for (const auto& [bad, message, exitCode] : refusals) {
        const ProcessRun refused = runCorvex("--port " + instrument.portPath() + " firmware install " + bad);
        EXPECT_EQ(refused.exitCode, exitCode) << refused.output;
        EXPECT_NE(refused.output.find(message), std::string::npos) << refused.output;
        EXPECT_EQ(refused.output.find("Installing"), std::string::npos) << refused.output;
        EXPECT_EQ(refused.output.find("%"), std::string::npos) << refused.output;
    }

    const ProcessRun run
        = runCorvex("--port " + instrument.portPath() + " firmware install " + good + " --erase-log-book", data);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("\n50%\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\n100%\n"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("The instrument is back with firmware 2.406."), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("The log book was erased."), std::string::npos) << run.output;
    // The flights are saved while the old firmware still reads them: before the lines.
    const std::size_t saving = run.output.find("Saving a backup of the log book before the firmware update...");
    const std::size_t saved = run.output.find("The log book was saved: 6 flights were saved as IGC files in " + folder.path() + "/data/Corvex/backups/C0FFEE/");
    const std::size_t installing = run.output.find("Installing " + good);
    EXPECT_LT(saving, saved) << run.output;
    EXPECT_LT(saved, installing) << run.output;
    EXPECT_NE(installing, std::string::npos) << run.output;
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
    session.device->corvexDeviceTerminatedAtBsdPath(instrument.portPath());

    // Back to an older version when asked for.
    const ProcessRun back = runCorvex("--port " + instrument.portPath() + " firmware install --allow-downgrade " + older);
    EXPECT_EQ(back.exitCode, 0) << back.output;
    EXPECT_NE(back.output.find("Installing the older firmware 2.300 over 2.406, as asked."), std::string::npos) << back.output;
    EXPECT_NE(back.output.find("The instrument is back with firmware 2.300."), std::string::npos) << back.output;
}
