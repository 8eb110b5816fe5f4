// `corvex update check` as a user runs it, against the stand-in server and the virtual
// instrument.
#include "UpdateProducts.h"
#include "VendorServerProcess.h"
#include "VirtualInstrumentProcess.h"
#include "support/QtTestHelpers.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace corvex::testing;

namespace {

ProgramRun runCli(const QStringList& arguments, const QString& instrumentsDirectory, const QString& vendorUrl = {})
{
    return runProgram(QStringLiteral(CORVEX_BUILD_DIR "/corvex"), arguments, 30000, [&](QProcessEnvironment& environment) {
        environment.insert("CORVEX_INSTRUMENT_DIR", instrumentsDirectory);
        if (vendorUrl.isEmpty())
            environment.remove("CORVEX_VENDOR_URL");
        else
            environment.insert("CORVEX_VENDOR_URL", vendorUrl);
    });
}

TEST(CliUpdateCheck, ReportsWhatTheFeedOffersAndExitsTenForAnUpdate)
{
    VendorServerProcess server;
    ASSERT_TRUE(server.isRunning());
    QTemporaryDir noInstruments;
    // The program's own version, as the feed's entries are compared with it.
    const QString program = runCli({ "--version" }, noInstruments.path()).out.trimmed().section(' ', 1);
    ASSERT_FALSE(program.isEmpty());

    VirtualInstrumentProcess::Options options;
    options.model = "wren";
    options.firmwareVersion = 2405;
    VirtualInstrumentProcess instrument(options);
    ASSERT_TRUE(instrument.isRunning());
    const QString instruments = QString::fromStdString(instrument.instrumentsDirectory());
    const QString port = QString::fromStdString(instrument.portPath());

    const auto products = UpdateProducts::make(server.productsDirectory().toStdString(), server.baseUrl().toStdString(),
        { UpdateProducts::software("larkswMac", program.toStdString()), UpdateProducts::software("larkswMacBeta", "0.0.1"),
            UpdateProducts::firmware("wrenfw_asp", "2.500"), UpdateProducts::firmware("wrenfwBeta", "2.405"),
            UpdateProducts::firmware("larkfw_asp", "1.400") });

    struct Case {
        const char* what;
        QStringList arguments;
        QString instruments;
        int exitCode;
        QStringList lines;
    };
    const QString serverOption = "--server=" + server.baseUrl();
    const Case cases[] = {
        { "the instrument found by discovery", { "update", "check", serverOption }, instruments, 10,
            { "Versions feed: " + server.baseUrl() + "/versions.xml (release)",
                "Program: " + program + ", offered " + program + ": up to date",
                "Firmware (Wren): 2.405, offered 2.500: update available",
                "  " + QString::fromStdString(products.product("wrenfw_asp").url) } },
        { "the instrument on --port, beta entries", { "--port", port, "update", "check", "--beta", serverOption },
            noInstruments.path(), 0,
            { "Program: " + program + ", offered 0.0.1: up to date", "Firmware (Wren): 2.405, offered 2.405: up to date" } },
        { "no instrument at all", { "update", "check", serverOption }, noInstruments.path(), 0,
            { "Firmware: no instrument connected" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ProgramRun run = runCli(c.arguments, c.instruments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        const QStringList lines = run.out.split('\n');
        for (const QString& line : c.lines)
            EXPECT_TRUE(lines.contains(line)) << line.toStdString() << "\nin:\n" << run.out.toStdString();
    }

    // Without --server the preference's address, overridden by CORVEX_VENDOR_URL.
    UpdateProducts::make(server.productsDirectory().toStdString(), server.baseUrl().toStdString(),
        { UpdateProducts::software("larkswMac", "999.0") });
    const ProgramRun fromEnvironment = runCli({ "update", "check" }, noInstruments.path(), server.baseUrl());
    EXPECT_EQ(fromEnvironment.exitCode, 10);
    EXPECT_TRUE(fromEnvironment.out.contains("Program: " + program + ", offered 999.0: update available"));
}

TEST(CliUpdateCheck, FailuresSayWhatWentWrong)
{
    VendorServerProcess server;
    ASSERT_TRUE(server.isRunning());
    QTemporaryDir noInstruments;
    QFile feed(server.productsDirectory() + "/versions.xml");
    ASSERT_TRUE(feed.open(QIODevice::WriteOnly));
    feed.write("<html><body>Service unavailable</body>");
    feed.close();

    struct Case {
        const char* what;
        QStringList arguments;
        int exitCode;
        QString message;
    };
    const Case cases[] = {
        { "an error page", { "update", "check", "--server", server.baseUrl() }, 5,
            "corvex: the versions feed at " + server.baseUrl() + "/versions.xml is not XML" },
        { "nobody listening", { "update", "check", "--server", "http://127.0.0.1:1" }, 5,
            "corvex: cannot read the versions feed at http://127.0.0.1:1/versions.xml: " },
        { "a named port that is not there", { "--port", "/nonexistent/tty", "update", "check", "--server", server.baseUrl() },
            2, "corvex: cannot open the instrument at /nonexistent/tty" },
        { "no sub-command", { "update" }, 1, "corvex: missing sub-command" },
        // A byte a second is never silent for the inactivity time-out: only the deadline ends it.
        { "a server that trickles", { "--timeout", "2", "update", "check", "--server", server.baseUrl() + "/test/trickle" },
            5, "the transfer did not end within its deadline of 2 seconds" },
        { "a deadline that is no number", { "--timeout", "soon", "update", "check" }, 1,
            "corvex: --timeout takes a number of seconds above 0, not 'soon'" },
        { "no deadline at all", { "--timeout=0", "update", "check" }, 1, "corvex: --timeout takes a number" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ProgramRun run = runCli(c.arguments, noInstruments.path());
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.err.contains(c.message, Qt::CaseInsensitive)) << run.err.toStdString();
        EXPECT_FALSE(run.out.contains("update available"));
    }
}

} // namespace
