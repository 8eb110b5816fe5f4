// corvex firmware install --latest as a process, against the stand-in vendor server and
// the virtual instrument: the log-book warning refuses without --erase-log-book; with
// it the firmware goes in, the instrument comes back, every flight is saved, then erased.
#include "UpdateProducts.h"
#include "VendorServerProcess.h"
#include "VirtualInstrumentProcess.h"
#include "support/QtTestHelpers.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace corvex;
using namespace corvex::testing;

TEST(FirmwareLatestCli, RefusesAnUpdateThatErasesTheLogBookUnlessToldThenBacksUpAndErases)
{
    VendorServerProcess server;
    ASSERT_TRUE(server.isRunning()) << server.standardError().toStdString();
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    UpdateProducts::make(server.productsDirectory().toStdString(), server.baseUrl().toStdString(),
        { UpdateProducts::firmware("wrenfw_asp", "2.410", 60) });
    QTemporaryDir data;
    const auto privateData = [&](QProcessEnvironment& environment) { environment.insert("XDG_DATA_HOME", data.path()); };
    const QStringList install { "--port", QString::fromStdString(instrument.portPath()), "firmware", "install", "--latest",
        "--server", server.baseUrl() };

    // 2.405 to 2.410 erases the log book.
    const ProgramRun refused = runProgram(CORVEX_BUILD_DIR "/corvex", install, 60000, privateData);
    EXPECT_EQ(refused.exitCode, 1) << refused.err.toStdString();
    EXPECT_TRUE(refused.err.contains("--erase-log-book")) << refused.err.toStdString();
    EXPECT_FALSE(refused.out.contains("%"));

    const ProgramRun run = runProgram(CORVEX_BUILD_DIR "/corvex", install + QStringList { "--erase-log-book" }, 60000, privateData);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("The instrument is back with firmware 2.410.")) << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("The log book was erased.")) << run.out.toStdString();
    const QDir backups(data.path() + "/Corvex/backups/C0FFEE");
    const QStringList stamps = backups.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(stamps.size(), 1);
    EXPECT_EQ(QDir(backups.filePath(stamps.front())).entryList(QDir::Files).size(), 6);

    // Up to date now: nothing to do.
    const ProgramRun again = runProgram(CORVEX_BUILD_DIR "/corvex", install, 60000, privateData);
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_TRUE(again.out.contains("Firmware 2.410 is up to date")) << again.out.toStdString();
}

// Firmware the vendor did not sign never reaches the instrument: refused after the
// download, before the backup and the first line, with exit code 4.
TEST(FirmwareLatestCli, RefusesFirmwareTheVendorDidNotSign)
{
    VendorServerProcess server;
    ASSERT_TRUE(server.isRunning()) << server.standardError().toStdString();
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.isRunning());
    QTemporaryDir data;
    const QStringList install { "--port", QString::fromStdString(instrument.portPath()), "firmware", "install", "--latest",
        "--erase-log-book", "--server", server.baseUrl() };
    using Signer = UpdateProducts::Entry::Signer;
    struct Case {
        const char* what;
        Signer signer;
        bool trustTestKey;
    };
    const Case cases[] = {
        { "no signature", Signer::nobody, true },
        { "an unknown key", Signer::unknownKey, true },
        { "the test key, not trusted", Signer::testKey, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateProducts::Entry entry = UpdateProducts::firmware("wrenfw_asp", "2.410", 60);
        entry.signer = c.signer;
        UpdateProducts::make(server.productsDirectory().toStdString(), server.baseUrl().toStdString(), { entry });
        const ProgramRun run = runProgram(CORVEX_BUILD_DIR "/corvex", install, 60000, [&](QProcessEnvironment& environment) {
            environment.insert("XDG_DATA_HOME", data.path());
            if (!c.trustTestKey)
                environment.remove("CORVEX_UPDATE_PUBLIC_KEYS");
        });
        EXPECT_EQ(run.exitCode, 4) << run.out.toStdString() << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("corvex: The update is not signed by the vendor")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("nothing was installed")) << run.err.toStdString();
        EXPECT_FALSE(run.out.contains("Installing")) << run.out.toStdString();
        EXPECT_FALSE(run.out.contains("%"));
        EXPECT_FALSE(QDir(data.path() + "/Corvex/backups").exists());
    }
    // The instrument still runs what it ran.
    const ProgramRun info = runProgram(CORVEX_BUILD_DIR "/corvex", { "--port", QString::fromStdString(instrument.portPath()), "info" });
    EXPECT_TRUE(info.out.contains("Device Firmware: 2405")) << info.out.toStdString();
}

// A signed file is installed only as what the feed's entry offers: another model's
// image, or another version than the entry names, is refused before the backup and the
// first line (exit 4); a release older than what runs (a Lark's rollback) goes in only
// with --allow-downgrade (exit 1 without).
TEST(FirmwareLatestCli, InstallsOnlyWhatTheFeedOfferedForThisModelAndGoesBackOnlyWhenAsked)
{
    VendorServerProcess server;
    ASSERT_TRUE(server.isRunning()) << server.standardError().toStdString();
    VirtualInstrumentProcess::Options lark;
    lark.model = "lark";
    lark.firmwareVersion = 1375;
    VirtualInstrumentProcess instruments[] = { VirtualInstrumentProcess(), VirtualInstrumentProcess(lark) };
    QTemporaryDir data;
    const auto image = [](const std::string& version) {
        const std::string text = UpdateProducts::firmwareText(version, 40);
        return Bytes(text.begin(), text.end());
    };
    const std::pair<UpdateProducts::Entry, QString> cases[] = {
        { UpdateProducts::raw("wrenfw_asp", "2.500", "lark.s19", image("1.400")),
            "corvex: not installing firmware 2.500: the file is Lark firmware 1.400, and the instrument is a Wren; nothing was installed" },
        { UpdateProducts::raw("wrenfw_asp", "2.500", "older.s19", image("2.300")),
            "corvex: not installing firmware 2.500: the versions feed offered Wren firmware 2.500, but the file it gave is "
            "Wren firmware 2.300: the feed and the file disagree; nothing was installed" },
        { UpdateProducts::firmware("larkfw_asp", "1.370", 40),
            "corvex: not installing firmware 1.370: the file is Lark firmware 1.370, older than the 1.375 the Lark runs: run "
            "again with --allow-downgrade to install the older firmware; nothing was installed" },
    };
    for (const auto& [entry, message] : cases) {
        UpdateProducts::make(server.productsDirectory().toStdString(), server.baseUrl().toStdString(), { entry });
        const bool rollback = entry.id == "larkfw_asp";
        QStringList arguments { "--port", QString::fromStdString(instruments[rollback].portPath()), "firmware", "install",
            "--latest", "--erase-log-book", "--server", server.baseUrl() };
        if (!rollback)
            arguments << "--allow-downgrade"; // changes nothing for these
        const ProgramRun run = runProgram(CORVEX_BUILD_DIR "/corvex", arguments, 60000, [&](QProcessEnvironment& environment) { environment.insert("XDG_DATA_HOME", data.path()); });
        EXPECT_EQ(run.exitCode, rollback ? 1 : 4) << run.out.toStdString() << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(message)) << run.err.toStdString();
        EXPECT_FALSE(run.out.contains("Installing")) << run.out.toStdString();
        EXPECT_FALSE(QDir(data.path() + "/Corvex/backups").exists());
    }
}
