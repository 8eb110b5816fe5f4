#include "DeviceTestRig.h"
#include "FakeSerialLine.h"
#include "SRecordFirmware.h"
#include "TemporaryFolder.h"
#include "updates/FirmwareFile.h"
#include "device/FirmwareVersion.h"
#include "device/InstrumentSession.h"
#include "updates/FirmwareInstallation.h"
#include "updates/LogBookBackup.h"
#include "platform/InstrumentDirectory.h"

#include <cstdlib>
#include <ctime>
#include <algorithm>
#include <functional>
#include <map>

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::testing;

namespace {

const std::string header = "S00D00005752454E20322E3430369C";
const std::string data1 = "S1131000000102030405060708090A0B0C0D0E0F64";
const std::string data2 = "S10B1010AAAAAAAAAAAAAAAA84";
const std::string end = "S9031000EC";
// The header of a Lark's firmware ("LARK 1.406"), for the installations into a Lark.
const std::string larkHeader = "S00D00004C41524B20312E343036AF";

Bytes bytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// One 89-byte log-book record; block counts the records still to follow.
Bytes logBookRecord(int flightNumber, int block)
{
    char head[64];
    std::snprintf(head, sizeof head, "05 %04X 59 0000 %04X 0C 1E 07 05 18 0258", block, flightNumber);
    return hexBytes(std::string(head) + std::string(2 * 74, '0'));
}

} // namespace

TEST(FirmwareFrames, CarryTheModelsCommandTheLowSixteenBitsOfTheNumberTheTextAndANul)
{
    const std::string line = "S1131000000102AB"; // 16 characters
    const Bytes lark = CorvexDevice::firmwareLineFrame(varioModel(InstrumentGeneration::Lark), 258, line);
    ASSERT_EQ(lark.size(), 20u);
    EXPECT_EQ(lark[0], 0x0B);
    EXPECT_EQ(lark[1], 0x01);
    EXPECT_EQ(lark[2], 0x02);
    EXPECT_EQ(std::string(lark.begin() + 3, lark.end() - 1), line);
    EXPECT_EQ(lark.back(), 0x00);
    EXPECT_EQ(CorvexDevice::firmwareLineFrame(varioModel(InstrumentGeneration::Wren), 258, line)[0], 0x11);

    const Bytes wrapped = CorvexDevice::firmwareLineFrame(varioModel(InstrumentGeneration::Wren), 65536 + 0x0304, line);
    EXPECT_EQ(wrapped[1], 0x03);
    EXPECT_EQ(wrapped[2], 0x04);
}

TEST(FirmwareFrames, DeviceCommandsAnswerAsTheInstrumentDoes)
{
    // Accepted, rejected with a verdict, a short answer, no answer: only the verdict is
    // a refusal.
    DeviceTestRig rig(scriptedAnswers({ hexBytes("11 00 00 00"), hexBytes("11 00 01 07"), hexBytes("11 00") }));
    rig.device->setCurrentFirmwareVersion(2405);
    const auto failure = [&](std::uint64_t number) {
        const auto sent = rig.device->uploadFirmwareLine(data1, number);
        return sent ? std::optional<DeviceError>() : sent.error();
    };
    EXPECT_FALSE(failure(0));
    const auto refused = failure(1);
    EXPECT_EQ(refused->kind, DeviceErrorKind::Refused);
    EXPECT_EQ(refused->verdict, 7);
    EXPECT_EQ(failure(2)->kind, DeviceErrorKind::ShortAnswer);
    EXPECT_EQ(failure(3)->kind, DeviceErrorKind::NoAnswer);
    EXPECT_TRUE(rig.log.contains("Uploading firmware line " + data1 + " line number 1"));
    EXPECT_TRUE(rig.log.contains("firmwareUpdateLineResponse: <11000107>"));
    EXPECT_TRUE(rig.log.contains("firmwareUpdateLineResponse: <1100>"));

    rig.device->rebootDeviceAfterFirmwareUpdate("SE031000EC", 4);
    EXPECT_EQ(rig.line().written.back(), CorvexDevice::firmwareLineFrame(varioModel(InstrumentGeneration::Wren), 4, "SE031000EC"));
    EXPECT_TRUE(rig.device->eraseFirmwareLine(end, 5));
    EXPECT_EQ(rig.line().written.back(), CorvexDevice::firmwareLineFrame(varioModel(InstrumentGeneration::Wren), 5, "SE031000EC"));
    EXPECT_FALSE(rig.device->eraseFirmwareLine("S", 5));
    EXPECT_FALSE(rig.device->eraseFirmwareLine("S9\xC3\xA9", 5));

    // A line that fails either way has hung up: the cable, not the instrument.
    rig.line().failWrites = true;
    EXPECT_EQ(failure(6)->kind, DeviceErrorKind::Unplugged);
    rig.line().failWrites = false;
    rig.line().failReads = true;
    EXPECT_EQ(failure(6)->kind, DeviceErrorKind::Unplugged);

    rig.device->corvexDeviceTerminatedAtBsdPath(std::string("/dev/ttyACM0"));
    rig.log.lines.clear();
    EXPECT_EQ(failure(0)->kind, DeviceErrorKind::Unplugged);
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
    struct VersionCase {
        std::uint16_t current;
        const char* offered;
        bool warn;
    };
    for (const VersionCase& c : std::vector<VersionCase> {
             { 1300, "1.365", true },
             { 1365, "1.400", false },
             { 2100, "2.50", true },
             { 1500, "2.50", false },
             { 1364, "1.364", false },
             { 2400, "2.41", true },
             { 2004, "2.4", false },
             { 2005, "2.410", true },
             { 2405, "2.04", false },
         }) {
        EXPECT_EQ(FirmwareVersion(c.current).updateErasesLogBook(c.offered), c.warn) << c.current << " -> " << c.offered;
    }
}

// Installation on a scripted instrument: what goes out, what the user sees.
struct InstallationRig {
    explicit InstallationRig(FakeSerialLine::Responder responder)
        : rig(std::move(responder))
    {
        rig.device->setCurrentFirmwareVersion(1375);
        options.alerts = &rig.alerts;
        options.backup.backupsRoot = backups.path();
        // What the window shows, it shows with the instrument held.
        shown.onStep = [this] { EXPECT_TRUE(session.isBusy()); };
    }
    FirmwareInstallationResult install(const std::string& file, bool erasesLogBook = false)
    {
        return installFirmware(session, bytes(file), erasesLogBook, options, rig.context().withProgress(&shown));
    }
    // The firmware lines that went out, by their command byte.
    std::size_t firmwareFramesWritten()
    {
        return static_cast<std::size_t>(std::count_if(rig.line().written.begin(), rig.line().written.end(),
            [](const Bytes& frame) { return !frame.empty() && (frame[0] == 0x0B || frame[0] == 0x11); }));
    }
    DeviceTestRig rig;
    InstrumentSession session { *rig.device };
    TemporaryFolder backups { "corvex-firmware-backup" };
    FirmwareInstallationOptions options;
    RecordingProgress shown;
    const std::vector<std::string>& sheet = shown.steps;
};

FakeSerialLine::Responder acceptingInstrument()
{
    return [](const Bytes& request) {
        if (request.size() > 4 && request[4] == 'E')
            return Bytes {};
        return Bytes { request[0], request[1], request[2], 0 };
    };
}

const std::string smallFile = larkHeader + "\r\n" + data1 + "\r\n" + data2 + "\r\n" + end + "\r\n";

TEST(FirmwareInstallation, SendsEveryLineOfASmallFileAndReportsAfterEachOne)
{
    InstallationRig install(acceptingInstrument());
    const auto result = install.install(smallFile);
    EXPECT_EQ(result.outcome, FirmwareInstallationOutcome::Installed);
    EXPECT_EQ(result.versionInFile, "1.406");
    EXPECT_EQ(result.versionBefore, FirmwareVersion(1375));
    EXPECT_EQ(install.shown.perMille, (std::vector<int> { 250, 500, 750, 1000 }));
    EXPECT_EQ(install.sheet, (std::vector<std::string> { std::string("step ") + installingFirmwareSheetText, "end" }));
    ASSERT_EQ(install.rig.line().written.size(), 5u);
    EXPECT_EQ(install.rig.line().written.back(), CorvexDevice::firmwareLineFrame(varioModel(InstrumentGeneration::Lark), 4, "SE031000EC"));
    EXPECT_TRUE(install.rig.log.contains("Reboot line #4: SE031000EC"));
    // The instrument restarts: the link is closed as after a removal.
    EXPECT_FALSE(install.rig.device->hasOpenLine());
    EXPECT_TRUE(install.rig.alerts.alerts.empty());
    // The instrument is free again.
    EXPECT_FALSE(install.session.isBusy());
}

TEST(FirmwareInstallation, ADamagedOrEmptyFileIsRefusedWithNothingSent)
{
    for (const std::string& file : { header + "\n" + data1 + "\n", std::string("<html>Not found</html>\n"), header + "\n\xFF\n" + end,
             std::string() }) {
        InstallationRig install(acceptingInstrument());
        const auto result = install.install(file, true);
        EXPECT_EQ(result.outcome, FirmwareInstallationOutcome::FileRefused);
        EXPECT_TRUE(install.rig.line().written.empty());
        EXPECT_TRUE(install.sheet.empty());
        ASSERT_EQ(install.rig.alerts.alerts.size(), 1u);
        EXPECT_EQ(install.rig.alerts.alerts[0].message, "The firmware file is not correct");
        EXPECT_TRUE(install.rig.device->hasOpenLine());
    }
    // A refused file is the file's fault even without an instrument.
    InstallationRig install(acceptingInstrument());
    install.rig.device->corvexDeviceTerminatedAtBsdPath(std::string("/dev/ttyACM0"));
    EXPECT_EQ(install.install("").outcome, FirmwareInstallationOutcome::FileRefused);
}

// Each way an installation stops: what went out, what the user is told, and why.
TEST(FirmwareInstallation, SaysWhyItStoppedAndSendsNothingBeforeItMayBegin)
{
    struct Case {
        const char* what;
        std::function<void(InstallationRig&)> prepare;
        std::function<Bytes(const Bytes&)> instrument;
        FirmwareInstallationOutcome outcome;
        std::optional<DeviceErrorKind> kind;
        std::size_t firmwareFrames; // the lines and the reboot line
        std::string description; // the alert says it too
    };
    const auto refuseLine2 = [](const Bytes& request) {
        if (request.size() > 4 && request[4] == 'E')
            return Bytes {};
        return Bytes { request[0], request[1], request[2], static_cast<std::uint8_t>(request[2] == 2 ? 1 : 0) };
    };
    const auto silentFromLine2 = [](const Bytes& request) { return request[2] >= 2 ? Bytes {} : Bytes { request[0], request[1], request[2], 0 }; };
    const std::vector<Case> cases {
        { "no instrument", [](InstallationRig& r) { r.rig.device->corvexDeviceTerminatedAtBsdPath(std::string("/dev/ttyACM0")); },
            acceptingInstrument(), FirmwareInstallationOutcome::NotStarted, DeviceErrorKind::Unplugged, 0,
            "the instrument was disconnected; nothing was sent to the instrument" },
        { "another operation holds the instrument", nullptr, acceptingInstrument(), FirmwareInstallationOutcome::NotStarted,
            DeviceErrorKind::Busy, 0, "the instrument is busy saving track logs; nothing was sent to the instrument" },
        { "line 2 refused", nullptr, refuseLine2, FirmwareInstallationOutcome::Failed, DeviceErrorKind::Refused, 4,
            "the instrument refused line 2 of 4; it keeps its old firmware" },
        { "no answer from line 2", nullptr, silentFromLine2, FirmwareInstallationOutcome::Failed, DeviceErrorKind::NoAnswer, 4,
            "the instrument did not answer at line 2 of 4; connect it again and repeat the installation" },
        // The header's frame and answer are 38 bytes, the first data line's 50.
        { "the cable pulled at line 2", [](InstallationRig& r) { r.rig.line().failAfterBytes = 38 + 50; },
            acceptingInstrument(), FirmwareInstallationOutcome::Failed, DeviceErrorKind::Unplugged, 2,
            "the instrument was disconnected at line 2 of 4; connect it again and repeat the installation" },
    };
    for (const Case& c : cases) {
        InstallationRig install(c.instrument);
        if (c.prepare)
            c.prepare(install);
        std::optional<InstrumentSession::Lease> held;
        if (c.kind == DeviceErrorKind::Busy) {
            auto lease = install.session.borrow("saving track logs");
            ASSERT_TRUE(lease);
            held.emplace(std::move(*lease));
        }
        const auto result = install.install(smallFile);
        EXPECT_EQ(result.outcome, c.outcome) << c.what;
        ASSERT_TRUE(result.error) << c.what;
        EXPECT_EQ(result.error->kind, c.kind) << c.what << ": " << deviceErrorKindName(result.error->kind);
        EXPECT_EQ(install.firmwareFramesWritten(), c.firmwareFrames) << c.what;
        ASSERT_EQ(install.rig.alerts.alerts.size(), 1u) << c.what;
        // What happened, up to the first semicolon, whatever the sentence's first letter.
        const std::string what = c.description.substr(1, c.description.find(';') - 1);
        if (c.kind != DeviceErrorKind::Refused) {
            EXPECT_NE(install.rig.alerts.alerts[0].informativeText.find(what), std::string::npos) << c.what;
        }
        EXPECT_EQ(describeFirmwareInstallationFailure(result), c.description) << c.what;
        if (c.outcome == FirmwareInstallationOutcome::NotStarted) {
            EXPECT_TRUE(install.sheet.empty()) << c.what;
        }
    }
}

// An update that erases the log book saves every flight first, while the old firmware
// still reads them: a log book that cannot be listed installs nothing.
TEST(FirmwareInstallation, AnErasingUpdateSavesTheLogBookBeforeTheFirstLine)
{
    // The short list is silent, the full one breaks off after its first record.
    InstallationRig install([fullLists = 0](const Bytes& request) mutable -> Bytes {
        if (request[0] == 0x01)
            return hexBytes("02 00C0FFEE 0000 055F 28" + std::string(2 * 18, '0'));
        if (request[0] == 0x0D)
            return hexBytes("0D 00");
        if (request[0] == 0x03)
            return request.size() > 1 && request[1] == 0x06 && fullLists++ == 0 ? logBookRecord(1, 1) : Bytes {};
        if (request.size() < 3)
            return Bytes {};
        return Bytes { request[0], request[1], request[2], 0 };
    });
    const auto result = install.install(smallFile, true);
    EXPECT_EQ(result.outcome, FirmwareInstallationOutcome::BackupFailed);
    EXPECT_EQ(install.firmwareFramesWritten(), 0u);
    ASSERT_TRUE(result.backup);
    EXPECT_FALSE(result.backup->flightsNotSaved);
    ASSERT_EQ(install.rig.alerts.alerts.size(), 1u);
    EXPECT_EQ(install.rig.alerts.alerts[0].message, "The firmware was not installed");
    EXPECT_EQ(install.rig.alerts.alerts[0].informativeText,
        "The log book could not be saved before the update, which erases it (the flight list could not be read); "
        "nothing was sent to the instrument.");
    EXPECT_EQ(install.sheet,
        (std::vector<std::string> { "step Saving a backup of the log book before the firmware update...", "end" }));
    EXPECT_FALSE(install.session.isBusy());
}

// A signed file says nothing of what it is for: its header does. The cases the command
// line's and the window's tests do not reach: a model by its name, a version written
// otherwise, a header without one, and an offer for another model than is plugged in.
TEST(FirmwareMatch, ComparesTheHeaderWithTheInstrumentAndTheOffer)
{
    using enum FirmwareFit;
    const auto wren = InstrumentGeneration::Wren;
    // Into a Wren on 2.405.
    struct Case {
        std::string header;
        std::optional<FirmwareOffer> offer;
        FirmwareFit fit;
        std::string description;
    };
    const std::vector<Case> cases {
        { "Corvex firmware 2.500", FirmwareOffer { "2.5", wren }, Fits, "" }, // the same number
        { "Corvex firmware", std::nullopt, Fits, "" }, // nothing to compare
        { "WREN 2.405", std::nullopt, SameVersion, "the file is Wren firmware 2.405, which the Wren runs already" },
        { "lark 2.406", std::nullopt, OtherModel, "the file is Lark firmware 2.406, and the instrument is a Wren" },
        { "Corvex firmware", FirmwareOffer { "2.500", wren }, NotAsOffered,
            "the versions feed offered Wren firmware 2.500, but the file it gave is firmware that names no version: the "
            "feed and the file disagree" },
        // The check was made with a Lark; a Wren was plugged in before the download.
        { "WREN 2.500", FirmwareOffer { "2.500", InstrumentGeneration::Lark }, NotAsOffered,
            "the versions feed offered Lark firmware 2.500, but the file it gave is Wren firmware 2.500: the feed and the "
            "file disagree" },
    };
    TemporaryFolder folder("corvex-firmware-match");
    for (const Case& c : cases) {
        const std::string file = makeSRecordFirmware(folder.path(), c.header, 4);
        const FirmwareMatch match = matchFirmware(readFirmwareFile(bytes(file)), FirmwareVersion(2405), c.offer);
        EXPECT_EQ(match.fit, c.fit) << c.header;
        EXPECT_EQ(describeFirmwareMatch(match), c.description);
    }
}

// The installation itself refuses such a file before the backup and the first line.
TEST(FirmwareInstallation, RefusesAnotherModelsFirmwareWithNothingSentNorSaved)
{
    TemporaryFolder folder("corvex-firmware-model");
    InstallationRig install(acceptingInstrument());
    const auto result = install.install(makeSRecordFirmware(folder.path(), "WREN 2.406", 4), true);
    EXPECT_EQ(result.outcome, FirmwareInstallationOutcome::WrongFirmware);
    EXPECT_TRUE(install.rig.line().written.empty());
    EXPECT_TRUE(install.sheet.empty());
    ASSERT_EQ(install.rig.alerts.alerts.size(), 1u);
    EXPECT_EQ(install.rig.alerts.alerts[0].message, "The firmware is not for this instrument");
    EXPECT_EQ(describeFirmwareInstallationFailure(result),
        "the file is Wren firmware 2.406, and the instrument is a Lark; nothing was sent to the instrument");
}

TEST(FirmwareInstallation, TookUnlessTheInstrumentCameBackOnItsUnchangedOldVersion)
{
    FirmwareInstallationResult installed;
    installed.outcome = FirmwareInstallationOutcome::Installed;
    installed.versionBefore = FirmwareVersion(2405);
    struct Case {
        std::optional<std::string> inFile;
        std::uint16_t running;
        bool took;
    };
    for (const Case& c : std::vector<Case> {
             { "2.406", 2406, true },
             { "2.406", 2405, false },
             { "2.405", 2405, true }, // the same version again
             { "2.406", 2407, true }, // changed at all
             { std::nullopt, 2405, true }, // nothing to tell it by
         }) {
        installed.versionInFile = c.inFile;
        EXPECT_EQ(firmwareInstallationTook(installed, FirmwareVersion(c.running)), c.took)
            << c.inFile.value_or("none") << " running " << c.running;
    }

    // After the restart the erase follows only an installation that took.
    for (const bool took : { true, false }) {
        int erases = 0;
        int trackLogRequests = 0;
        DeviceTestRig rig([&](const Bytes& request) {
            trackLogRequests += request.size() > 1 && request[0] == 0x03 && request[1] == 0x03 ? 1 : 0;
            erases += request.size() > 1 && request[0] == 0x03 && request[1] == 0x02 ? 1 : 0;
            return Bytes {};
        });
        InstrumentSession session(*rig.device);
        rig.device->setCurrentFirmwareVersion(took ? 2406 : 2405);
        installed.versionInFile = "2.406";
        installed.erasesLogBook = true;
        const FirmwareRestartResult restart = finishFirmwareInstallation(session, installed, rig.log);
        EXPECT_EQ(restart.took, took);
        EXPECT_EQ(restart.eraseAttempted, took);
        EXPECT_EQ(erases, took ? 1 : 0);
        EXPECT_EQ(rig.log.contains("Firmware installation did not take: the instrument runs 2.405 again, not 2.406"), !took);
    }
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
    const auto record = logBookRecord;
    struct Case {
        const char* name;
        std::vector<Bytes> shortList; // answers in turn; silence once they run out
        std::vector<Bytes> fullList;
        bool erased;
        std::optional<std::optional<std::size_t>> asked; // what the user was asked, if anything
        bool cancelled { false }; // by the user, before the first flight
    };
    const std::vector<Case> cases {
        { "broken short list, two flights", { record(1, 1) }, { record(1, 1), record(2, 0) }, false, std::optional<std::size_t>() },
        { "both lists break off", { record(1, 1) }, { record(1, 1) }, false, std::optional<std::size_t>() },
        { "an empty log book", {}, { hexBytes("05 0000 08 0000 0000") }, true, std::nullopt },
        // No flight is asked for; both count as not saved.
        { "a backup the user cancelled", { record(1, 1), record(2, 0) }, {}, false, std::optional<std::size_t>(2), true },
    };
    for (const Case& c : cases) {
        std::size_t shortAnswers = 0;
        std::size_t fullAnswers = 0;
        int erases = 0;
        int trackLogRequests = 0;
        DeviceTestRig rig([&](const Bytes& request) {
            trackLogRequests += request.size() > 1 && request[0] == 0x03 && request[1] == 0x03 ? 1 : 0;
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
        LogBookBackupOptions options;
        options.backupsRoot = root.path();
        options.confirmEraseWithoutBackup = [&](std::optional<std::size_t> lost) {
            asked = lost;
            return false;
        };
        const CancelToken cancel;
        if (c.cancelled)
            cancel.cancel();
        const LogBookEraseResult result = backUpAndEraseLogBook(*rig.device, "C0FFEE", options, rig.context().withCancel(cancel));
        EXPECT_TRUE(!c.cancelled || trackLogRequests == 0) << c.name;
        EXPECT_EQ(result.erased, c.erased) << c.name;
        EXPECT_EQ(erases, c.erased ? 1 : 0) << c.name;
        EXPECT_EQ(asked, c.asked) << c.name;
        EXPECT_FALSE(result.backupFolder) << c.name;
    }
}
