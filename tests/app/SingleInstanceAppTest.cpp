// One program per user, with the real corvex-vario on a private session bus: a second
// start hands itself over to the running program (with or without a launcher action)
// and ends at once, a launcher's own ActivateAction call arrives, and once the program
// is gone the next start owns the name again. Without a bus, a lock file keeps the
// second start out.
#include "PrivateSessionBus.h"
#include "TemporaryFolder.h"
#include "library/FlightLibrary.h"
#include "support/QtTestHelpers.h"
#include "support/TestFiles.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>

using namespace corvex::testing;

namespace {

const QString applicationId = QStringLiteral(CORVEX_APP_ID);
const QString program = QStringLiteral(CORVEX_BUILD_DIR "/corvex-vario");

// The program with its log on stderr, on the test's bus, finding no instrument.
class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(bus.isRunning()) << "cannot start dbus-daemon"; }

    void adjust(QProcessEnvironment& environment) const
    {
        environment.insert("CORVEX_INSTRUMENT_DIR", QString::fromStdString(instruments.path()));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
    }

    void start(QProcess& process)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("CORVEX_NO_UDEV", "1");
        environment.insert("CORVEX_LOG_STDERR", "1");
        adjust(environment);
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, {});
        ASSERT_TRUE(process.waitForStarted());
    }

    // Whether the name comes to belong to the process.
    static bool waitForNameOwner(const QProcess& process)
    {
        return waitUntil([&] {
            const auto owner = QDBusConnection::sessionBus().interface()->servicePid(applicationId);
            return owner.isValid() && owner.value() == static_cast<uint>(process.processId());
        });
    }

    PrivateSessionBus bus;
    TemporaryFolder instruments { "corvex-no-instruments" };
};

TEST_F(SingleInstanceTest, SecondStartsAndLaunchersReachTheRunningProgramUntilItIsGone)
{
    QProcess first;
    start(first);
    ASSERT_TRUE(waitForNameOwner(first));
    QString log;

    struct Case {
        const char* what;
        QStringList secondStart;
        QString launcherAction; // given: no second start, the test calls ActivateAction as a launcher does
        QString line; // in the running program's log
    };
    const Case cases[] = {
        { "second start", {}, {}, "Activated from the session bus" },
        { "second start with an action", { "--action", "manage-airspaces" }, {}, "Launcher action manage-airspaces" },
        { "second start with an unknown action", { "--action", "fly" }, {}, "Unknown launcher action fly, ignored" },
        { "launcher", {}, "check-for-updates", "Launcher action check-for-updates" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.launcherAction.isEmpty()) {
            QDBusMessage call = QDBusMessage::createMethodCall(applicationId, "/org/corvex/Vario",
                "org.freedesktop.Application", "ActivateAction");
            call << c.launcherAction << QVariantList() << QVariantMap { { "activation-token", "token-from-the-test" } };
            const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
            EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        } else {
            QElapsedTimer elapsed;
            elapsed.start();
            const ProgramRun second = runProgram(program, c.secondStart, 10000, [this](QProcessEnvironment& e) { adjust(e); });
            EXPECT_EQ(second.exitCode, 0) << second.err.toStdString();
            EXPECT_LT(elapsed.elapsed(), 5000);
        }
        EXPECT_TRUE(waitUntil([&] {
            log += QString::fromUtf8(first.readAll());
            return log.contains(c.line);
        }, 5000)) << log.toStdString();
    }
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_FALSE(log.contains("No session bus"));

    // Held: no instrument is connected.
    EXPECT_TRUE(log.contains("Launcher action manage-airspaces waits for the instrument"));

    // Once the program is gone, the next start owns the name.
    first.kill();
    first.waitForFinished();
    QProcess next;
    start(next);
    EXPECT_TRUE(waitForNameOwner(next));
    next.kill();
    next.waitForFinished();
}

// Without a session bus the lock file in the runtime folder keeps a second start out;
// it says who runs and ends at once, instead of taking up the instrument beside it.
TEST(SingleInstanceWithoutBus, TheLockFileKeepsASecondStartOut)
{
    TemporaryFolder runtime { "corvex-runtime" }, instruments { "corvex-no-instruments" };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/corvex-test-bus");
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.path()));
    environment.insert("CORVEX_INSTRUMENT_DIR", QString::fromStdString(instruments.path()));
    environment.insert("CORVEX_NO_UDEV", "1");
    environment.insert("CORVEX_LOG_STDERR", "1");
    environment.insert("QT_QPA_PLATFORM", "offscreen");

    // A quit while the library window's pass scores long flights (after the picture of
    // the window, as the menu's Quit) ends the process at once, their scores left for
    // the next pass; the program started next is not kept out.
    const std::string library = runtime.path() + "/Flights";
    for (unsigned copy = 1; copy <= 2; ++copy) {
        std::ofstream(runtime.path() + "/w.igc") << wanderingFlightIgc(8, "XWD00" + std::to_string(copy), copy);
        ASSERT_TRUE((*corvex::library::FlightLibrary::open(library))->importFile(runtime.path() + "/w.igc").flight);
    }
    environment.insert("CORVEX_LIBRARY", QString::fromStdString(library));
    QProcess quitting;
    quitting.setProcessEnvironment(environment);
    quitting.setProcessChannelMode(QProcess::MergedChannels);
    quitting.start(program, { "--screenshot", QString::fromStdString(runtime.path() + "/w.png"), "--screenshot-window", "library", "--screenshot-delay", "1500" });
    QString said;
    ASSERT_TRUE(waitUntil([&] { return (said += QString::fromUtf8(quitting.readAll())).contains("Wrote "); }, 60000)) << said.toStdString();
    QElapsedTimer sinceQuit;
    sinceQuit.start();
    ASSERT_TRUE(quitting.waitForFinished(30000));
#if defined(CORVEX_SANITIZED_BUILD)
    EXPECT_LT(sinceQuit.elapsed(), 3000);
#else
    EXPECT_LT(sinceQuit.elapsed(), 1000);
#endif
    EXPECT_EQ(quitting.exitCode(), 0);
    const auto flights = *(*corvex::library::FlightLibrary::open(library))->index().flights();
    EXPECT_TRUE(std::any_of(flights.begin(), flights.end(), [](const auto& flight) { return !flight.scorerVersion; }));

    QProcess first, second;
    first.setProcessEnvironment(environment);
    first.setProcessChannelMode(QProcess::MergedChannels);
    first.start(program, {});
    QString log;
    ASSERT_TRUE(waitUntil([&] {
        log += QString::fromUtf8(first.readAll());
        return log.contains("a second start of the program is kept out by " + QString::fromStdString(runtime.path()));
    }, 15000)) << log.toStdString();

    second.setProcessEnvironment(environment);
    second.start(program, { "--action", "manage-airspaces" });
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(second.readAllStandardError())
                    .contains(QStringLiteral("Corvex Vario is already running as corvex-vario (process %1)").arg(first.processId())));
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();
}

} // namespace
