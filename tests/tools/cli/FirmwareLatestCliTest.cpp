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
