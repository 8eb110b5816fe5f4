// One program per user, with the real corvex-vario on a private session bus: a second
// start hands itself over to the running program (with or without a launcher action)
// and ends at once, a launcher's own ActivateAction call arrives, and once the program
// is gone the next start owns the name again. Without a bus, a lock file keeps the
// second start out, and a second program that got past it cannot take the instrument.
#include "PrivateSessionBus.h"
#include "TemporaryFolder.h"
#include "VirtualInstrumentProcess.h"
#include "support/QtTestHelpers.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>

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

// Without a session bus: programs of one session (one runtime folder) are kept apart
// by the lock file there; two whose runtime folders differ both start, but only the
// first has the instrument, and the second names it instead of fighting over the line.
TEST(SingleInstanceWithoutBus, ASecondProgramIsKeptOutOrCannotTakeTheInstrument)
{
    VirtualInstrumentProcess instrument;
    TemporaryFolder runtimeA { "corvex-runtime" }, runtimeB { "corvex-runtime" };
    const auto environmentIn = [&](const TemporaryFolder& runtime) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/corvex-test-bus");
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.path()));
        environment.insert("CORVEX_INSTRUMENT_DIR", QString::fromStdString(instrument.instrumentsDirectory()));
        environment.insert("CORVEX_NO_UDEV", "1");
        environment.insert("CORVEX_LOG_STDERR", "1");
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        return environment;
    };
    QProcess first;
    first.setProcessEnvironment(environmentIn(runtimeA));
    first.setProcessChannelMode(QProcess::MergedChannels);
    first.start(program, {});
    ASSERT_TRUE(first.waitForStarted());
    QString firstLog;
    const auto firstLogContains = [&](const QString& line) {
        return waitUntil([&] {
            firstLog += QString::fromUtf8(first.readAll());
            return firstLog.contains(line);
        }, 15000);
    };
    ASSERT_TRUE(firstLogContains("a second start of the program is kept out by " + QString::fromStdString(runtimeA.path())))
        << firstLog.toStdString();
    ASSERT_TRUE(firstLogContains("Initializing device")) << firstLog.toStdString();
    const QString holder = QStringLiteral("corvex-vario (process %1)").arg(first.processId());

    // The same session: the second start ends at once and says who runs.
    QProcess second;
    second.setProcessEnvironment(environmentIn(runtimeA));
    second.start(program, { "--action", "manage-airspaces" });
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(QString::fromUtf8(second.readAllStandardError()).contains("Corvex Vario is already running as " + holder));

    // Another runtime folder: it runs, but the instrument stays with the first.
    QProcess other;
    other.setProcessEnvironment(environmentIn(runtimeB));
    other.setProcessChannelMode(QProcess::MergedChannels);
    other.start(program, {});
    ASSERT_TRUE(other.waitForStarted());
    QString otherLog;
    EXPECT_TRUE(waitUntil([&] {
        otherLog += QString::fromUtf8(other.readAll());
        return otherLog.contains(", held by " + holder);
    }, 15000)) << otherLog.toStdString();
    EXPECT_FALSE(otherLog.contains("Initializing device")) << otherLog.toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);
    firstLog += QString::fromUtf8(first.readAll());
    EXPECT_FALSE(firstLog.contains("Device terminated")) << firstLog.toStdString();

    for (QProcess* process : { &other, &first }) {
        process->kill();
        process->waitForFinished();
    }
}

} // namespace
