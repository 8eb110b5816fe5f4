#include "DeviceTestRig.h"
#include "FakeSerialLine.h"
#include "SRecordFirmware.h"
#include "TemporaryFolder.h"
#include "updates/FirmwareFile.h"
#include "device/FirmwareVersion.h"
#include "updates/FirmwareInstallation.h"
#include "updates/LogBookBackup.h"
#include "platform/InstrumentDirectory.h"

#include <cstdlib>
#include <ctime>
#include <map>

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::testing;

namespace {

const std::string header = "S00D00005752454E20322E3430369C";
const std::string data1 = "S1131000000102030405060708090A0B0C0D0E0F64";
const std::string data2 = "S10B1010AAAAAAAAAAAAAAAA84";
const std::string end = "S9031000EC";

Bytes bytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

} // namespace

TEST(FirmwareFrames, CarryTheModelsCommandTheLowSixteenBitsOfTheNumberTheTextAndANul)
{
    const std::string line = "S1131000000102AB"; // 16 characters
    const Bytes lark = CorvexDevice::firmwareLineFrame(false, 258, line);
    ASSERT_EQ(lark.size(), 20u);
    EXPECT_EQ(lark[0], 0x0B);
    EXPECT_EQ(lark[1], 0x01);
    EXPECT_EQ(lark[2], 0x02);
    EXPECT_EQ(std::string(lark.begin() + 3, lark.end() - 1), line);
    EXPECT_EQ(lark.back(), 0x00);
    EXPECT_EQ(CorvexDevice::firmwareLineFrame(true, 258, line)[0], 0x11);

    const Bytes wrapped = CorvexDevice::firmwareLineFrame(true, 65536 + 0x0304, line);
    EXPECT_EQ(wrapped[1], 0x03);
    EXPECT_EQ(wrapped[2], 0x04);
}

TEST(FirmwareFrames, DeviceCommandsAnswerAsTheInstrumentDoes)
{
    // Accepted, rejected with a verdict, a short answer, no answer.
    DeviceTestRig rig(scriptedAnswers({ hexBytes("11 00 00 00"), hexBytes("11 00 01 07"), hexBytes("11 00") }));
    rig.device->setCurrentFirmwareVersion(2405);
    EXPECT_EQ(rig.device->uploadFirmwareLine(data1, 0), 0);
    EXPECT_EQ(rig.device->uploadFirmwareLine(data1, 1), 7);
    EXPECT_EQ(rig.device->uploadFirmwareLine(data1, 2), -1);
    EXPECT_EQ(rig.device->uploadFirmwareLine(data1, 3), -1);
    EXPECT_TRUE(rig.log.contains("Uploading firmware line " + data1 + " line number 1"));
    EXPECT_TRUE(rig.log.contains("firmwareUpdateLineResponse: <11000107>"));

    rig.device->rebootDeviceAfterFirmwareUpdate("SE031000EC", 4);
    EXPECT_EQ(rig.line().written.back(), CorvexDevice::firmwareLineFrame(true, 4, "SE031000EC"));
    EXPECT_TRUE(rig.device->eraseFirmwareLine(end, 5));
    EXPECT_EQ(rig.line().written.back(), CorvexDevice::firmwareLineFrame(true, 5, "SE031000EC"));
    EXPECT_FALSE(rig.device->eraseFirmwareLine("S", 5));
    EXPECT_FALSE(rig.device->eraseFirmwareLine("S9\xC3\xA9", 5));

    rig.line().failWrites = true;
    EXPECT_EQ(rig.device->uploadFirmwareLine(data1, 6), -1);

    rig.device->corvexDeviceTerminatedAtBsdPath(std::string("/dev/ttyACM0"));
    rig.log.lines.clear();
    EXPECT_EQ(rig.device->uploadFirmwareLine(data1, 0), 1);
    rig.device->rebootDeviceAfterFirmwareUpdate("SE031000EC", 0);
    EXPECT_FALSE(rig.device->eraseFirmwareLine(end, 0));
    EXPECT_EQ(rig.log.count("deviceFile is nil"), 3u);
}

TEST(FirmwareFile, SelectsTheSLinesWhateverTheLineEndings)
{
    const std::string lf = header + "\n" + data1 + "   \n" + " " + data2 + "\ns1 lower\n\n" + end + "\n";
    std::string crlf;
    for (char c : lf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const std::vector<std::string> expected { header, data1, end };
    EXPECT_EQ(selectFirmwareLines(lf), expected);
    EXPECT_EQ(selectFirmwareLines(crlf), expected);
    EXPECT_TRUE(selectFirmwareLines("").empty());
}

TEST(FirmwareFile, RefusesEveryDamagedFileBeforeALineGoesOut)
{
    struct Case {
        const char* what;
        std::string text;
        std::optional<FirmwareFileProblem> problem;
    };
    std::string badChecksum = data1;
    badChecksum.back() = '5';
    const std::string whole = header + "\n" + data1 + "\n" + data2 + "\n" + end + "\n";
    const std::vector<Case> cases {
        { "a sound file", whole, std::nullopt },
        { "lower-case hex", header + "\n" + "S9031000ec\n", std::nullopt },
        { "a bad checksum", header + "\n" + badChecksum + "\n" + end, FirmwareFileProblem::DamagedLine },
        { "an odd length", header + "\n" + data1 + "0\n" + end, FirmwareFileProblem::DamagedLine },
        { "a non-hex digit", header + "\n" + "S1131000000102030405060708090A0B0C0D0E0G64\n" + end, FirmwareFileProblem::DamagedLine },
        { "a wrong byte count", header + "\n" + "S1141000000102030405060708090A0B0C0D0E0F64\n" + end, FirmwareFileProblem::DamagedLine },
        { "a reserved type", header + "\nS4030000FC\n" + end, FirmwareFileProblem::DamagedLine },
        { "no termination", header + "\n" + data1 + "\n" + data2 + "\n", FirmwareFileProblem::NoTermination },
        { "a truncated file", whole.substr(0, whole.size() - 6), FirmwareFileProblem::DamagedLine },
        { "an HTML error page", "<html>\n<body>\n<h1>502 Bad Gateway</h1>\n</body>\n</html>\n", FirmwareFileProblem::NoFirmwareLines },
        { "an empty file", "", FirmwareFileProblem::NoFirmwareLines },
        { "not ASCII", header + "\n\xC3\xA9\n" + end, FirmwareFileProblem::NotAscii },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(readFirmwareFile(bytes(c.text)).problem, c.problem) << c.what;
    }
    EXPECT_EQ(readFirmwareFile(bytes(cases[2].text)).damagedLine, 1u);
}

TEST(FirmwareLogBookDecision, WarnsWhenTheUpdateErasesTheLogBook)
{
    EXPECT_EQ(firmwareVersionText(1365), "1.365");
    EXPECT_EQ(firmwareVersionText(2004), "2.004");
    struct Case {
        const char* current;
        const char* offered;
        bool warn;
    };
    for (const Case& c : std::vector<Case> {
             { "1.300", "1.365", true },
             { "1.365", "1.400", false },
             { "2.100", "2.50", true },
             { "1.500", "2.50", false },
             { "1.364", "1.364", false },
             { "2.400", "2.41", true },
             { "2.004", "2.4", false },
         }) {
        EXPECT_EQ(firmwareUpdateErasesLogBook(c.current, c.offered), c.warn) << c.current << " -> " << c.offered;
    }
}

// Installation on a scripted instrument: what goes out, what the user sees.
struct InstallationRig {
    explicit InstallationRig(FakeSerialLine::Responder responder)
        : rig(std::move(responder))
    {
        rig.device->setCurrentFirmwareVersion(1375);
        environment.log = &rig.log;
        environment.alerts = &rig.alerts;
        environment.eventLoop = &rig.eventLoop;
        environment.showSheet = [this](const std::string& text, bool cancel) { sheet.push_back(text + (cancel ? "+" : "-")); };
        environment.hideSheet = [this] { sheet.push_back("hide"); };
        environment.setProgress = [this](int percent) { progress.push_back(percent); };
    }
    DeviceTestRig rig;
    FirmwareInstallationEnvironment environment;
    std::vector<std::string> sheet;
    std::vector<int> progress;
};

FakeSerialLine::Responder acceptingInstrument()
{
    return [](const Bytes& request) {
        if (request.size() > 4 && request[4] == 'E')
            return Bytes {};
        return Bytes { request[0], request[1], request[2], 0 };
    };
}

TEST(FirmwareInstallation, SendsEveryLineOfASmallFileAndReportsAfterEachOne)
{
    InstallationRig install(acceptingInstrument());
    const std::string file = header + "\r\n" + data1 + "\r\n" + data2 + "\r\n" + end + "\r\n";
    const auto result = installFirmwareFromData(*install.rig.device, bytes(file), install.environment);
    EXPECT_EQ(result.outcome, FirmwareInstallationOutcome::Installed);
    EXPECT_EQ(install.progress, (std::vector<int> { 25, 50, 75, 100 }));
    EXPECT_EQ(install.rig.eventLoop.turns, (std::vector<double> { 0.01, 0.01, 0.01, 0.01 }));
    EXPECT_EQ(install.sheet, (std::vector<std::string> { std::string(installingFirmwareSheetText) + "-", "hide" }));
    ASSERT_EQ(install.rig.line().written.size(), 5u);
    EXPECT_EQ(install.rig.line().written.back(), CorvexDevice::firmwareLineFrame(false, 4, "SE031000EC"));
    EXPECT_TRUE(install.rig.log.contains("Reboot line #4: SE031000EC"));
    // The instrument restarts: the link is closed as after a removal.
    EXPECT_FALSE(install.rig.device->hasOpenLine());
    EXPECT_TRUE(install.rig.alerts.alerts.empty());
}

TEST(FirmwareInstallation, ADamagedOrEmptyFileIsRefusedWithNothingSent)
{
    for (const std::string& file : { header + "\n" + data1 + "\n", std::string("<html>Not found</html>\n"), header + "\n\xFF\n" + end }) {
        InstallationRig install(acceptingInstrument());
        const auto result = installFirmwareFromData(*install.rig.device, bytes(file), install.environment);
        EXPECT_EQ(result.outcome, FirmwareInstallationOutcome::FileRefused);
        EXPECT_TRUE(install.rig.line().written.empty());
        EXPECT_TRUE(install.sheet.empty());
        ASSERT_EQ(install.rig.alerts.alerts.size(), 1u);
        EXPECT_EQ(install.rig.alerts.alerts[0].message, "The firmware file is not correct");
        EXPECT_TRUE(install.rig.device->hasOpenLine());
    }
}

TEST(FirmwareInstallation, NothingHappensWithoutAnInstrument)
{
    InstallationRig install(acceptingInstrument());
    install.rig.device->corvexDeviceTerminatedAtBsdPath(std::string("/dev/ttyACM0"));
    const std::string file = header + "\n" + end + "\n";
    EXPECT_EQ(installFirmwareFromData(*install.rig.device, bytes(file), install.environment).outcome,
        FirmwareInstallationOutcome::NotStarted);
    EXPECT_TRUE(install.rig.alerts.alerts.empty());
    EXPECT_TRUE(install.sheet.empty());
}

TEST(LogBookBackupFolder, LivesUnderTheUsersDataFolderBySerialAndLocalTime)
{
    std::map<std::string, std::string> variables { { "HOME", "/home/pilot" } };
    const auto environment = [&](const char* name) -> std::optional<std::string> {
        auto found = variables.find(name);
        return found == variables.end() ? std::nullopt : std::optional<std::string>(found->second);
    };
    EXPECT_EQ(userDataHomePath(environment), "/home/pilot/.local/share");
    variables["XDG_DATA_HOME"] = "relative/data"; // ignored, as the XDG rules say
    EXPECT_EQ(userDataHomePath(environment), "/home/pilot/.local/share");
    variables["XDG_DATA_HOME"] = "/srv/data";
    EXPECT_EQ(userDataHomePath(environment), "/srv/data");

    setenv("TZ", "UTC", 1);
    tzset();
    const auto moment = std::chrono::sys_days(std::chrono::year(2026) / 3 / 4) + std::chrono::hours(5)
        + std::chrono::minutes(6) + std::chrono::seconds(7);
    EXPECT_EQ(logBookBackupFolder("/srv/data/Corvex/backups", "C0FFEE", moment),
        "/srv/data/Corvex/backups/C0FFEE/2026-03-04_05-06-07");
}

// A list that breaks off is no empty log book: only a log book that is really empty
// is erased without a word.
TEST(LogBookBackupBeforeErase, AListThatBreaksOffIsNoEmptyLogBook)
{
    const auto record = [](int flightNumber, int block) {
        char head[64];
        std::snprintf(head, sizeof head, "05 %04X 59 0000 %04X 0C 1E 07 05 18 0258", block, flightNumber);
        return hexBytes(std::string(head) + std::string(2 * 74, '0'));
    };
    struct Case {
        const char* name;
        std::vector<Bytes> shortList; // answers in turn; silence once they run out
        std::vector<Bytes> fullList;
        bool erased;
        std::optional<std::optional<std::size_t>> asked; // what the user was asked, if anything
    };
    const std::vector<Case> cases {
        { "broken short list, two flights", { record(1, 1) }, { record(1, 1), record(2, 0) }, false, std::optional<std::size_t>() },
        { "both lists break off", { record(1, 1) }, { record(1, 1) }, false, std::optional<std::size_t>() },
        { "an empty log book", {}, { hexBytes("05 0000 08 0000 0000") }, true, std::nullopt },
    };
    for (const Case& c : cases) {
        std::size_t shortAnswers = 0;
        std::size_t fullAnswers = 0;
        int erases = 0;
        DeviceTestRig rig([&](const Bytes& request) {
            if (request == hexBytes("0D"))
                return hexBytes("0D 00");
            if (request.size() < 2 || request[0] != 0x03)
                return Bytes {};
            if (request[1] == 0x05)
                return shortAnswers < c.shortList.size() ? c.shortList[shortAnswers++] : Bytes {};
            if (request[1] == 0x06)
                return fullAnswers < c.fullList.size() ? c.fullList[fullAnswers++] : Bytes {};
            if (request[1] == 0x02) {
                ++erases;
                return hexBytes("03 02");
            }
            return Bytes {};
        });
        TemporaryFolder root { "corvex-backup" };
        std::optional<std::optional<std::size_t>> asked;
        LogBookBackupEnvironment environment;
        environment.log = &rig.log;
        environment.backupsRoot = root.path();
        environment.confirmEraseWithoutBackup = [&](std::optional<std::size_t> lost) {
            asked = lost;
            return false;
        };
        const LogBookEraseResult result = backUpAndEraseLogBook(*rig.device, "C0FFEE", environment);
        EXPECT_EQ(result.erased, c.erased) << c.name;
        EXPECT_EQ(erases, c.erased ? 1 : 0) << c.name;
        EXPECT_EQ(asked, c.asked) << c.name;
        EXPECT_FALSE(result.backupFolder) << c.name;
    }
}
