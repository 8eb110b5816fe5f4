// `corvex airspaces convert` on this computer and with the stand-in service, as a user
// runs it.
#include "VendorServerProcess.h"

#include "airspaces/Airspaces.h"

#include "support/QtTestHelpers.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using corvex::testing::ProgramRun;
using corvex::testing::VendorServerProcess;

namespace {

const QString testData = QStringLiteral(CORVEX_TESTDATA_DIR "/openair/");

ProgramRun runCli(const QStringList& arguments)
{
    return corvex::testing::runProgram(QStringLiteral(CORVEX_BUILD_DIR "/corvex"), arguments, 60000);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString cacheNameIn(const QString& output)
{
    const auto match = QRegularExpression("^Cache file name: (.*)$", QRegularExpression::MultilineOption).match(output);
    return match.hasMatch() ? match.captured(1) : QString();
}

// A loopback port nobody listens on: taken from the system, then let go.
quint16 closedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

} // namespace

TEST(CliAirspacesConvert, HereAndByTheServiceGiveTheSameSet)
{
    VendorServerProcess server;
    ASSERT_TRUE(server.isRunning()) << server.standardError().toStdString();
    QTemporaryDir folder;
    const QString local = folder.filePath("local.as");
    const QString remote = folder.filePath("remote.as");

    const ProgramRun here = runCli({ "airspaces", "convert", testData + "Switzerland.txt", "--out", local, "--description", "Swiss 2016" });
    ASSERT_EQ(here.exitCode, 0) << here.err.toStdString();
    EXPECT_TRUE(here.out.contains("Converted on this computer\n")) << here.out.toStdString();
    const ProgramRun there = runCli(
        { "airspaces", "convert", testData + "Switzerland.txt", "--out", remote, "--description", "Swiss 2016", "--server", server.baseUrl() });
    ASSERT_EQ(there.exitCode, 0) << there.err.toStdString();
    EXPECT_TRUE(there.out.contains("Converted by the airspaces service at " + server.baseUrl())) << there.out.toStdString();

    QByteArray localBytes = readAll(local);
    QByteArray remoteBytes = readAll(remote);
    ASSERT_GT(localBytes.size(), static_cast<qsizetype>(corvex::airspacesFormat::minimumLength));
    ASSERT_EQ(localBytes.size(), remoteBytes.size());
    // Everything but the upload date, which is the moment of each conversion.
    const auto dateAt = static_cast<qsizetype>(corvex::airspacesFormat::uploadDateOffset);
    localBytes.replace(dateAt, 4, QByteArray(4, '\0'));
    remoteBytes.replace(dateAt, 4, QByteArray(4, '\0'));
    EXPECT_TRUE(localBytes == remoteBytes);
    EXPECT_FALSE(cacheNameIn(here.out).isEmpty());
    EXPECT_EQ(cacheNameIn(here.out), cacheNameIn(there.out));

    // A Latin-1 file converts here too, and a file with a mistake says where it is.
    const ProgramRun germany = runCli({ "airspaces", "convert", testData + "Germany.txt", "--out", folder.filePath("de.as") });
    EXPECT_EQ(germany.exitCode, 0) << germany.err.toStdString();
    const QString broken = folder.filePath("bad.txt");
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("AC C\nAN X\nAL 1000 fx\nDP 47:00:00 N 008:00:00 E\n");
    file.close();
    const ProgramRun mistake = runCli({ "airspaces", "convert", broken, "--out", folder.filePath("bad.as") });
    EXPECT_EQ(mistake.exitCode, 4);
    EXPECT_TRUE(mistake.err.contains("line 3: AL altitude '1000 fx' is not understood")) << mistake.err.toStdString();
    EXPECT_FALSE(QFile::exists(folder.filePath("bad.as")));
}

TEST(CliAirspacesConvert, AnUnreachableServiceFallsBackARefusalDoesNot)
{
    QTemporaryDir folder;
    const quint16 port = closedPort();
    ASSERT_NE(port, 0);
    const ProgramRun unreachable = runCli({ "airspaces", "convert", testData + "Switzerland.txt", "--out", folder.filePath("a.as"),
        "--server", QString("http://127.0.0.1:%1").arg(port) });
    ASSERT_EQ(unreachable.exitCode, 0) << unreachable.err.toStdString();
    EXPECT_TRUE(unreachable.out.contains("Converted on this computer (the airspaces service cannot be reached)\n"))
        << unreachable.out.toStdString();
    EXPECT_TRUE(QFile::exists(folder.filePath("a.as")));

    VendorServerProcess server;
    ASSERT_TRUE(server.isRunning()) << server.standardError().toStdString();
    const ProgramRun refused = runCli({ "airspaces", "convert", testData + "Switzerland.txt", "--out", folder.filePath("b.as"),
        "--description", "test: refuse", "--server", server.baseUrl() });
    EXPECT_EQ(refused.exitCode, 4);
    EXPECT_TRUE(refused.err.contains("the airspaces service at " + server.baseUrl() + " refused to convert"))
        << refused.err.toStdString();
    EXPECT_FALSE(refused.out.contains("on this computer"));
    EXPECT_FALSE(QFile::exists(folder.filePath("b.as")));
}
