// The corvex command line as a user runs it, against the virtual instrument.
#include "SyntheticFlight.h"
#include "VirtualInstrumentProcess.h"

#include "base/Sha256.h"
#include "library/FlightLibrary.h"
#include "library/LibraryTable.h"
#include "platform/FileLock.h"
#include "platform/PosixSerialLine.h"
#include "support/QtTestHelpers.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <poll.h>
#include <fstream>
#include <set>
#include <csignal>
#include <sys/stat.h>
#include <pty.h>
#include <thread>
#include <unistd.h>
#include <utility>

using corvex::testing::VirtualInstrumentProcess;

namespace {

using CliRun = corvex::testing::ProgramRun;

// Runs build/corvex with the arguments; discovery sees only the given instruments folder.
CliRun runCli(const QStringList& arguments, const QString& instrumentsDirectory = {}, bool withRuntimeFolder = true)
{
    QTemporaryDir emptyDirectory;
    return corvex::testing::runProgram(QStringLiteral(CORVEX_BUILD_DIR "/corvex"), arguments, 30000,
        [&](QProcessEnvironment& environment) {
            environment.insert("CORVEX_INSTRUMENT_DIR",
                instrumentsDirectory.isEmpty() ? emptyDirectory.path() : instrumentsDirectory);
            if (!withRuntimeFolder)
                environment.remove("XDG_RUNTIME_DIR");
        });
}

// The same run with stderr on a terminal (the slave of a fresh pty): what a person
// watching sees there, as the terminal shows it (line ends as CR LF).
CliRun runCliOnATerminal(const QStringList& arguments)
{
    int master = -1;
    int slave = -1;
    char slaveName[256] = {};
    if (openpty(&master, &slave, slaveName, nullptr, nullptr) != 0)
        return {};
    QTemporaryDir emptyDirectory;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("CORVEX_NO_UDEV", "1");
    environment.remove("CORVEX_LOG_STDERR");
    environment.insert("CORVEX_INSTRUMENT_DIR", emptyDirectory.path());
    // The upload records what it sent in the flight library: never the user's own.
    environment.insert("CORVEX_LIBRARY", emptyDirectory.path() + "/Flights");
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardErrorFile(QString::fromLocal8Bit(slaveName));
    // Read as it comes, so that a long progress never fills the terminal's buffer.
    std::string terminal;
    std::atomic<bool> finished { false };
    std::thread reader([&] {
        char buffer[4096];
        for (;;) {
            pollfd watched { master, POLLIN, 0 };
            if (::poll(&watched, 1, 50) > 0) {
                const ssize_t count = ::read(master, buffer, sizeof buffer);
                if (count > 0) {
                    terminal.append(buffer, static_cast<std::size_t>(count));
                    continue;
                }
            }
            if (finished)
                return;
        }
    });
    process.start(QStringLiteral(CORVEX_BUILD_DIR "/corvex"), arguments);
    CliRun run;
    if (process.waitForFinished(60000))
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    else
        process.kill(), process.waitForFinished();
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    finished = true;
    reader.join();
    ::close(slave);
    ::close(master);
    run.err = QString::fromStdString(terminal);
    return run;
}

} // namespace

// The long transfers show their progress on stderr when a person watches it on a
// terminal, and print nothing more than before when stderr is a pipe or a file.
TEST(Cli, LongTransfersShowProgressOnlyOnATerminal)
{
    QTemporaryDir scratch;
    const QString set = scratch.path() + "/alps.as";
    ASSERT_EQ(runCli({ "airspaces", "convert", CORVEX_TESTDATA_DIR "/openair/openair.txt", "--out", set }).exitCode, 0);
    struct Case {
        const char* what;
        QStringList arguments;
        QString lastProgress;
        std::vector<std::string> instrumentArguments {};
    };
    const Case cases[] = {
        { "download all", { "download", "all", "--format", "igc", "--out", scratch.path() + "/flights" },
            "\rflight 6 of 6 (100%)\x1b[K\r\n" },
        { "airspaces upload", { "airspaces", "upload", set }, "(100%)\x1b[K\r\n" },
        { "airspaces read", { "airspaces", "read", scratch.path() + "/read.as" }, " bytes\x1b[K\r\n",
            { "--airspaces", set.toStdString() } },
    };
    for (const Case& c : cases) {
        for (const bool terminal : { false, true }) {
            VirtualInstrumentProcess::Options options;
            options.extraArguments = c.instrumentArguments;
            VirtualInstrumentProcess instrument(options);
            const QStringList arguments = QStringList { "--port", QString::fromStdString(instrument.portPath()) } + c.arguments;
            const CliRun run = terminal ? runCliOnATerminal(arguments) : runCli(arguments);
            ASSERT_EQ(run.exitCode, 0) << c.what << ": " << run.err.toStdString();
            if (!terminal) {
                EXPECT_EQ(run.err, "") << c.what;
                continue;
            }
            EXPECT_TRUE(run.err.contains(c.lastProgress)) << c.what << ": " << run.err.toStdString();
            if (!c.instrumentArguments.empty()) {
                const QString whole = QString("\rread %1 bytes\x1b[K\r\n").arg(QFileInfo(set).size());
                EXPECT_TRUE(run.err.contains(whole)) << c.what << ": the whole set is counted";
            }
        }
    }
}

TEST(Cli, InfoPrintsTheIdentityLines)
{
    VirtualInstrumentProcess::Options options;
    options.deviceId = 0x00C0FFEE;
    options.firmwareVersion = 2405;
    options.batteryTenthsOfVolt = 41;
    VirtualInstrumentProcess instrument(options);
    CliRun run = runCli({ "--port", QString::fromStdString(instrument.portPath()), "info" });
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "Serial Number: C0FFEE\nDevice Firmware: 2405\nModel: Wren\nBattery: 4.1 V\n");
}

TEST(Cli, FlightsUsesDiscoveryAndListsNewestFirst)
{
    VirtualInstrumentProcess instrument;
    CliRun run = runCli({ "flights" }, QString::fromStdString(instrument.instrumentsDirectory()));
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 6);
    // "%d: %02d-%02d-%02d    %02d:%02d" then the duration.
    QRegularExpression title(R"(^\d+: \d\d-\d\d-\d\d    \d\d:\d\d    \d+:\d\d:\d\d$)");
    for (const QString& line : lines)
        EXPECT_TRUE(title.match(line).hasMatch()) << line.toStdString();
    EXPECT_TRUE(lines.front().contains(": 24-10-07    06:26")) << lines.front().toStdString();
    EXPECT_TRUE(lines.back().contains(": 10-10-28    01:14")) << lines.back().toStdString();
}

TEST(Cli, ClearFailuresWithoutOrWithASilentInstrument)
{
    CliRun none = runCli({ "info" });
    EXPECT_NE(none.exitCode, 0);
    EXPECT_TRUE(none.err.contains("no instrument found")) << none.err.toStdString();

    // A port that is not there, or that another program holds (this one, as a running
    // corvex-vario would; root included), says so on one line, without Qt's warning
    // about an unset XDG_RUNTIME_DIR (cron, su).
    QTemporaryDir scratch;
    VirtualInstrumentProcess held;
    const QString port = QString::fromStdString(held.portPath());
    auto holding = corvex::PosixSerialPortOpener().open(port.toStdString());
    ASSERT_TRUE(holding) << holding.error().detail;
    const std::pair<QString, QString> unavailable[] = {
        { scratch.path() + "/ttyACM9", "the instrument's serial device is not there. Connect the instrument again." },
        { port, QString::fromStdString("the instrument is in use by " + corvex::processDescription(::getpid())
                    + ". Close the other program, or wait until it has finished, and try again.") },
    };
    for (const auto& [path, reason] : unavailable) {
        const CliRun run = runCli({ "--port", path, "info" }, {}, false);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err, "corvex: cannot open the instrument at " + path + ": " + reason + "\n");
    }

    // A silent instrument is never one with an empty log book: every command fails
    // with exit 3, prints nothing on stdout, and a file it would write is kept.
    VirtualInstrumentProcess instrument;
    ASSERT_TRUE(instrument.control("fault silent"));
    const QString kept = scratch.path() + "/keep.csv";
    const QByteArray keptText = "header\n1\n2\n3\n4\n5\n6\n";
    {
        QFile file(kept);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(keptText);
    }
    const struct {
        QStringList arguments;
        const char* said;
    } cases[] = {
        { { "info" }, "does not answer" },
        { { "flights" }, "did not send its flight list: the instrument did not answer" },
        { { "logbook", "--out", kept }, "Error dowloading logbook" },
        { { "download", "all", "--format", "igc", "--out", scratch.path() + "/flights" }, "does not answer" },
        { { "sync", "--library", scratch.path() + "/library" }, "answer" },
    };
    for (const auto& c : cases) {
        CliRun silent = runCli(QStringList { "--port", QString::fromStdString(instrument.portPath()) } + c.arguments);
        EXPECT_EQ(silent.exitCode, 3) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(silent.err.contains(c.said)) << silent.err.toStdString();
        EXPECT_TRUE(silent.out.isEmpty()) << silent.out.toStdString();
    }
    QFile file(kept);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), keptText) << "a failed read never replaces a file";
    EXPECT_TRUE(QDir(scratch.path() + "/flights").entryList(QDir::Files).isEmpty());
    EXPECT_TRUE(QDir(scratch.path() + "/library").entryList({ "20*" }, QDir::Dirs).isEmpty()) << "nothing recorded";
}

TEST(Cli, HelpVersionAndUsageErrors)
{
    CliRun help = runCli({ "--help" });
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("Usage: corvex [--port PATH] [--timeout SECONDS] [--units U] [--utc] COMMAND"));
    EXPECT_TRUE(help.out.contains("flights"));
    CliRun version = runCli({ "--version" });
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith("corvex "));
    CliRun unknown = runCli({ "fly" });
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(unknown.err.contains("unknown command fly"));
    CliRun noCommand = runCli({});
    EXPECT_EQ(noCommand.exitCode, 1);
}

// Every command goes through the one option parser: a mistake is a usage error (exit 1)
// with a message on stderr, found before any instrument is looked for (none is there:
// looking would end in exit 2).
TEST(Cli, ParserErrorsAreUsageErrorsInEveryCommand)
{
    struct Case {
        QStringList arguments;
        QString message;
    };
    const Case cases[] = {
        { { "--frob" }, "unknown option 'frob'" },
        { { "--port" }, "missing value after '--port'" },
        { { "info", "--frob" }, "unknown option 'frob'" },
        { { "info", "now" }, "unexpected argument now" },
        { { "flights", "--help=x" }, "unexpected value after '--help'" },
        { { "pilot", "--set" }, "missing value after '--set'" },
        { { "pilot", "pilot=x" }, "unexpected argument pilot=x" },
        { { "download", "1", "--format" }, "missing value after '--format'" },
        { { "download", "1", "2", "--format", "igc" }, "unexpected argument 2" },
        { { "download", "--format", "igc" }, "missing argument" },
        { { "download", "1" }, "missing --format" },
        { { "logbook", "--out" }, "missing value after '--out'" },
        { { "logbook", "book.csv" }, "unexpected argument book.csv" },
        { { "airspaces" }, "missing sub-command" },
        { { "airspaces", "wipe" }, "unknown sub-command wipe" },
        { { "airspaces", "read" }, "missing argument" },
        { { "airspaces", "clear", "now" }, "unexpected argument now" },
        { { "airspaces", "upload", "--frob", "set.bin" }, "unknown option 'frob'" },
        { { "airspaces", "convert", "alps.txt" }, "missing --out" },
        { { "airspaces", "convert", "alps.txt", "--out" }, "missing value after '--out'" },
        { { "airspaces", "render", "alps.as" }, "missing --out" },
        { { "airspaces", "render", "alps.as", "--out", "a.png", "--offline=yes" }, "unexpected value after '--offline'" },
        { { "sync", "now" }, "unexpected argument now" },
        { { "library" }, "missing sub-command" },
        { { "library", "show" }, "missing argument" },
        { { "library", "export", "1", "--format", "gpx" }, "missing --out" },
        { { "library", "list", "--library" }, "missing value after '--library'" },
        { { "library", "remove" }, "missing argument" },
        { { "library", "restore", "1", "2" }, "unexpected argument 2" },
        { { "library", "edit", "1" }, "say what to change: --glider, --pilot, --site, --comment or --scored-track" },
        { { "library", "edit", "1", "--scored-track", "ground" }, "--scored-track is flight, whole or default, not ground" },
        { { "library", "check", "now" }, "unexpected argument now" },
        { { "score" }, "missing argument" },
        { { "score", "a.igc", "b.igc" }, "unexpected argument b.igc" },
        { { "score", "a.igc", "--rules" }, "missing value after '--rules'" },
        { { "score", "a.igc", "--rules", "olc-plus" }, "unknown rules olc-plus" },
        { { "score", "--rules", "olc" }, "missing argument" },
        { { "airspace-check", "--airspaces", "france.txt" }, "missing argument" },
        { { "airspace-check", "a.igc", "b.igc", "--airspaces", "france.txt" }, "unexpected argument b.igc" },
        { { "airspace-check", "a.igc", "--airspaces" }, "missing value after '--airspaces'" },
        { { "airspace-check", "a.igc", "--airspaces", "france.txt", "--json=yes" }, "unexpected value after '--json'" },
        { { "debrief" }, "missing argument" },
        { { "debrief", "a.igc", "b.igc" }, "unexpected argument b.igc" },
        { { "compare", "a.igc" }, "missing argument" },
    };
    for (const Case& c : cases) {
        const CliRun run = runCli(c.arguments);
        const std::string trace = c.arguments.join(' ').toStdString() + ": " + run.err.toStdString();
        EXPECT_EQ(run.exitCode, 1) << trace;
        EXPECT_TRUE(run.err.startsWith("corvex: " + c.message + " (")) << trace;
        EXPECT_TRUE(run.err.contains("(usage: corvex ") || run.err.contains("(see corvex --help)")) << trace;
        EXPECT_TRUE(run.out.isEmpty()) << trace;
    }

    // A file that cannot be read is a file error, not a usage error; a named pipe given as
    // a file is refused at once instead of waited on.
    QTemporaryDir pipes;
    const QString fifo = pipes.path() + "/pipe";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QStringList unreadable[] = {
        { "score", "/nonexistent/flight.igc" },
        { "score", fifo },
        { "airspace-check", fifo, "--airspaces", fifo },
        { "airspace-check", CORVEX_TESTDATA_DIR "/igc/20180427.igc", "--airspaces", fifo },
        { "debrief", fifo },
        { "debrief", CORVEX_TESTDATA_DIR "/README.md" },
        { "compare", CORVEX_TESTDATA_DIR "/igc/20180427.igc", fifo },
        { "compare", CORVEX_TESTDATA_DIR "/README.md", CORVEX_TESTDATA_DIR "/igc/20180427.igc" },
        { "firmware", "install", fifo },
        { "airspaces", "convert", fifo, "--out", pipes.path() + "/set.bin" },
        { "airspaces", "render", fifo, "--out", pipes.path() + "/set.png" },
    };
    for (const QStringList& arguments : unreadable) {
        const std::string trace = arguments.join(' ').toStdString();
        QElapsedTimer timer;
        timer.start();
        const CliRun run = runCli(arguments);
        EXPECT_EQ(run.exitCode, 4) << trace << ": " << run.err.toStdString();
        EXPECT_LT(timer.elapsed(), 10000) << trace;
        if (arguments.contains(fifo)) {
            EXPECT_TRUE(run.err.contains(fifo + ": it is a named pipe, not a file")) << trace << ": " << run.err.toStdString();
        }
    }
    // The score's JSON holds what scripts read, and says the result is proven best.
    const CliRun scored = runCli({ "score", CORVEX_TESTDATA_DIR "/igc/20180427.igc", "--json" });
    ASSERT_EQ(scored.exitCode, 0) << scored.err.toStdString();
    const QJsonObject score = QJsonDocument::fromJson(scored.out.toUtf8()).object();
    for (const char* key : { "type", "distance_km", "score", "multiplier", "closing_km", "turnpoints" })
        EXPECT_TRUE(score.contains(key)) << key;
    EXPECT_EQ(score["type"].toString(), "closed_free_triangle");
    EXPECT_EQ(score["turnpoints"].toArray().size(), 3);
    EXPECT_TRUE(score["optimal"].toBool());
    // Any row's id names the rules; "list" names them all, with no flight.
    const CliRun olc = runCli({ "score", CORVEX_TESTDATA_DIR "/igc/20180427.igc", "--json", "--rules", "olc" });
    ASSERT_EQ(olc.exitCode, 0) << olc.err.toStdString();
    const QJsonObject olcScore = QJsonDocument::fromJson(olc.out.toUtf8()).object();
    EXPECT_EQ(olcScore["rules"].toString(), "olc");
    EXPECT_EQ(olcScore["type"].toString(), "free_flight");
    EXPECT_LE(olcScore["turnpoints"].toArray().size(), 7);
    EXPECT_GE(olcScore["distance_km"].toDouble(), 42.35) << "five turnpoints reach at least as far as three";
    EXPECT_TRUE(olcScore["optimal"].toBool());
    // Each says which part of the track it scored: XContest the whole, the OLC the flight, even when asked for the whole.
    EXPECT_EQ(score["scored"].toObject()["track"].toString(), "whole");
    EXPECT_EQ(olcScore["scored"].toObject()["track"].toString(), "flight");
    EXPECT_TRUE(runCli({ "score", CORVEX_TESTDATA_DIR "/igc/20180427.igc", "--rules", "olc", "--whole-track" })
                    .out.contains("Scored:      13:37 to 16:02 UTC, take-off to landing (OLC classic scores the flight only)\n"));
    const CliRun list = runCli({ "score", "--rules", "list" });
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_EQ(list.out, "xcontest\tXContest\nffvl\tFFVL\nolc\tOLC classic\n");
    EXPECT_TRUE(runCli({ "score", "a.igc", "--rules", "nope" }).err.contains("olc (OLC classic)"));

    // And each command's --help is its own, on stdout.
    for (const QString command : { "info", "flights", "pilot", "download", "logbook", "airspaces", "airspaces convert", "sync", "library import", "compare" }) {
        const CliRun help = runCli(command.split(' ') << "--help");
        EXPECT_EQ(help.exitCode, 0) << command.toStdString();
        EXPECT_TRUE(help.out.startsWith("Usage: corvex [--port PATH] " + command)) << help.out.toStdString();
    }
}

// debrief: the JSON scripts read (SI units, UTC, null wind where no circle gave one),
// the text in the units asked for, and a library flight by its number.
TEST(Cli, DebriefJsonTextAndLibraryFlight)
{
    const QString flight = CORVEX_TESTDATA_DIR "/igc/20180427.igc";
    const CliRun run = runCli({ "debrief", flight, "--json" });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject debrief = QJsonDocument::fromJson(run.out.toUtf8()).object();
    EXPECT_EQ(debrief["altitude_source"].toString(), "pressure");
    const QJsonArray thermals = debrief["thermals"].toArray();
    ASSERT_GE(thermals.size(), 10);
    for (const QJsonValue& value : thermals) {
        const QJsonObject thermal = value.toObject();
        for (const char* key : { "start", "end", "gain_m", "climb_ms", "best_climb_ms", "direction", "wind_kmh", "wind_from_deg", "wind_confidence" })
            EXPECT_TRUE(thermal.contains(key)) << key;
        EXPECT_TRUE(thermal["start"].toString().endsWith('Z'));
        EXPECT_GE(thermal["gain_m"].toDouble(), 20);
        EXPECT_TRUE(QStringList({ "left", "right", "mixed" }).contains(thermal["direction"].toString()));
    }
    EXPECT_TRUE(debrief["failed_attempts"].isArray());
    const QJsonObject glide = debrief["glides"].toArray().first().toObject();
    for (const char* key : { "start", "end", "distance_km", "speed_kmh", "height_lost_m", "glide_ratio" })
        EXPECT_TRUE(glide.contains(key)) << key;
    const QJsonObject totals = debrief["totals"].toObject();
    for (const char* key : { "circling_share", "left_share", "thermals", "avg_climb_ms", "avg_glide_ratio" })
        EXPECT_TRUE(totals.contains(key)) << key;
    EXPECT_EQ(totals["thermals"].toInt(), thermals.size());

    const CliRun text = runCli({ "--units", "aviation", "--utc", "debrief", flight });
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.contains("altitude: pressure\ntimes: UTC\n")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(" kt")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains("\nthermals\n  start ")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains("\n  13:46:")) << "UTC clock times";

    QTemporaryDir scratch;
    const QString library = scratch.path() + "/Flights";
    ASSERT_EQ(runCli({ "library", "import", flight, "--library", library }).exitCode, 0);
    const QJsonArray listed = QJsonDocument::fromJson(runCli({ "library", "list", "--json", "--library", library }).out.toUtf8()).array();
    ASSERT_EQ(listed.size(), 1);
    const QString id = QString::number(listed.first()["id"].toInt());
    EXPECT_EQ(runCli({ "debrief", id, "--json", "--library", library }).out, run.out);
    EXPECT_EQ(runCli({ "debrief", "99", "--library", library }).exitCode, 7);
}

// compare: two pilots of one day in one thermal and a flight of another day; the JSON
// scripts read, the text, library flights by number, and the refusals.
TEST(Cli, CompareSharedThermalsJsonTextAndLibraryFlights)
{
    QTemporaryDir scratch;
    const auto write = [&](const QString& name, std::int64_t delay, double climb) {
        corvex::testing::SyntheticFlight script;
        script.startTime += delay;
        script.ground(60).glide(180, 90).thermal(5, climb).glide(180, 90).ground(60);
        const QString path = scratch.path() + "/" + name;
        std::ofstream(path.toStdString()) << script.igcText();
        return path;
    };
    const QString first = write("first.igc", 0, 2.0), second = write("second.igc", 40, 1.5);
    const QString otherDay = CORVEX_TESTDATA_DIR "/igc/20180427.igc";

    const CliRun run = runCli({ "compare", first, second, otherDay, "--json" });
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QJsonObject json = QJsonDocument::fromJson(run.out.toUtf8()).object();
    const QJsonArray flights = json["flights"].toArray();
    ASSERT_EQ(flights.size(), 3);
    for (const QJsonValue& value : flights) {
        const QJsonObject flight = value.toObject();
        for (const char* key : { "file", "pilot", "glider", "date", "takeoff", "totals" })
            EXPECT_TRUE(flight.contains(key)) << key;
        for (const char* key : { "thermals", "avg_climb_ms", "height_gained_m", "circling_share", "avg_glide_speed_kmh", "avg_glide_ratio" })
            EXPECT_TRUE(flight["totals"].toObject().contains(key)) << key;
    }
    EXPECT_EQ(flights[0]["file"].toString(), first) << "in the order given";
    EXPECT_EQ(flights[2]["date"].toString(), "2018-04-27");
    EXPECT_EQ(flights[0]["totals"].toObject()["thermals"].toInt(), 1);
    const QJsonArray shared = json["shared_thermals"].toArray();
    ASSERT_EQ(shared.size(), 1);
    const QJsonObject thermal = shared.first().toObject();
    EXPECT_TRUE(thermal["start"].toString().startsWith("2024-07-01T18:0")) << thermal["start"].toString().toStdString();
    EXPECT_TRUE(thermal["end"].toString().endsWith('Z'));
    EXPECT_NEAR(thermal["centre"].toObject()["lat"].toDouble(), 46.5, 0.05);
    const QJsonArray parts = thermal["flights"].toArray();
    ASSERT_EQ(parts.size(), 3);
    EXPECT_NEAR(parts[0].toObject()["climb_ms"].toDouble(), 2.0, 0.2);
    EXPECT_NEAR(parts[1].toObject()["climb_ms"].toDouble(), 1.5, 0.2);
    EXPECT_TRUE(parts[2].isNull()) << "the other day's flight was not there";
    EXPECT_EQ(thermal["faster"].toObject()["flight"].toInt(-1), 0);

    const CliRun text = runCli({ "--utc", "--units", "aviation", "compare", first, second });
    ASSERT_EQ(text.exitCode, 0) << text.err.toStdString();
    EXPECT_TRUE(text.out.startsWith("times: UTC\n\nflights\n")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(QRegularExpression("\n  flight +first.igc +second.igc\n"))) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(QRegularExpression("\n  thermals +1 +1\n"))) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains("\nshared thermals: 1\n")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(QRegularExpression("\n  18:0\\d:\\d\\d .* kt, .* ft .*1 by .* kt \\(\\d+ %\\)\n")))
        << "who climbed faster, in the units asked for: " << text.out.toStdString();

    // --kmz: the same comparison printed, and the flights in one KMZ beside it; a folder
    // that cannot be made says so.
    const QString kmz = scratch.path() + "/compared.kmz";
    const CliRun globe = runCli({ "--utc", "--units", "aviation", "compare", first, second, "--kmz", kmz });
    ASSERT_EQ(globe.exitCode, 0) << globe.err.toStdString();
    EXPECT_EQ(globe.out, text.out);
    QFile kmzFile(kmz);
    ASSERT_TRUE(kmzFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(kmzFile.read(37).mid(30), "doc.kml");
    const CliRun unwritable = runCli({ "compare", first, second, "--kmz", first + "/compared.kmz" });
    EXPECT_EQ(unwritable.exitCode, 4);
    EXPECT_TRUE(unwritable.err.startsWith("corvex: cannot create the folder " + first)) << unwritable.err.toStdString();
    EXPECT_TRUE(unwritable.out.isEmpty());

    // A library flight by its number; a number the library lacks; the same flight twice,
    // by name or by a number and the file it came from.
    const QString library = scratch.path() + "/Flights";
    ASSERT_EQ(runCli({ "library", "import", first, "--library", library }).exitCode, 0);
    const QJsonArray listed = QJsonDocument::fromJson(runCli({ "library", "list", "--json", "--library", library }).out.toUtf8()).array();
    ASSERT_EQ(listed.size(), 1);
    const QString id = QString::number(listed.first()["id"].toInt());
    const CliRun byId = runCli({ "compare", id, second, "--json", "--library", library });
    ASSERT_EQ(byId.exitCode, 0) << byId.err.toStdString();
    const QJsonObject fromLibrary = QJsonDocument::fromJson(byId.out.toUtf8()).object()["flights"].toArray().first().toObject();
    EXPECT_EQ(fromLibrary["id"].toInt(), listed.first()["id"].toInt());
    EXPECT_FALSE(fromLibrary.contains("file"));
    EXPECT_EQ(QJsonDocument::fromJson(byId.out.toUtf8()).object()["shared_thermals"].toArray().size(), 1);
    EXPECT_EQ(runCli({ "compare", second, "99", "--library", library }).exitCode, 7);
    for (const QStringList& twice : { QStringList { first, second, first }, QStringList { id, first, "--library", library } }) {
        const CliRun refused = runCli(QStringList { "compare" } + twice);
        EXPECT_EQ(refused.exitCode, 1) << twice.join(' ').toStdString();
        EXPECT_TRUE(refused.err.contains("are the same flight: give each flight once")) << refused.err.toStdString();
        EXPECT_TRUE(refused.out.isEmpty());
    }
}

// airspace-check's exit codes and JSON: 10 with crossings, 0 without, 4 for a file
// that cannot be read, as a flight or as OpenAir.
TEST(Cli, AirspaceCheckExitCodesAndJson)
{
    QTemporaryDir scratch;
    const QString around = scratch.path() + "/around.txt";
    QFile file(around);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // A second airspace with a floor that does not read: named, skipped, the rest checked.
    file.write("AC D\nAN AROUND THE ALPS\nAL SFC\nAH UNL\nV X=44:58:00 N 005:50:00 E\nDC 60\n"
               "AC C\nAN BROKEN\nAL 1000 fx\nAH FL100\nV X=43:00:00 N 001:00:00 E\nDC 5\n");
    file.close();
    const QString alps = CORVEX_TESTDATA_DIR "/igc/lad_lod_extensions.igc";
    const CliRun inside = runCli({ "airspace-check", alps, "--airspaces", around, "--json" });
    ASSERT_EQ(inside.exitCode, 10) << inside.err.toStdString();
    EXPECT_TRUE(inside.err.contains(around + ": line 9: AL altitude '1000 fx' is not understood (skipped)"))
        << inside.err.toStdString();
    const QJsonArray crossings = QJsonDocument::fromJson(inside.out.toUtf8()).object()["crossings"].toArray();
    ASSERT_EQ(crossings.size(), 1) << inside.out.toStdString();
    const QJsonObject crossing = crossings[0].toObject();
    EXPECT_EQ(crossing["name"].toString(), "AROUND THE ALPS");
    EXPECT_EQ(crossing["class"].toString(), "D");
    EXPECT_TRUE(crossing["certain"].toBool());
    EXPECT_TRUE(crossing["entry"].toString().endsWith('Z'));
    EXPECT_LT(crossing["entry"].toString(), crossing["exit"].toString());
    EXPECT_TRUE(crossing["deepest"].toObject().contains("inside_edge_m"));
    EXPECT_EQ(QJsonDocument::fromJson(inside.out.toUtf8()).object()["airspaces_entered"].toInt(), 1);
    EXPECT_EQ(crossing["altitude_source"].toString(), "gnss");
    EXPECT_TRUE(crossing.contains("pressure")) << "null when the pressure altitude says outside";
    EXPECT_EQ(crossing["gnss"].toObject()["entry"], crossing["entry"]);
    EXPECT_TRUE(crossing["above_floor_m"].isNull()) << "a ground floor without terrain";
    EXPECT_GT(crossing["inside_m"].toDouble(), 0);
    // The pilot's tolerances: the margins only, so 150 km inside the edge leaves it out;
    // a pair that does not read is a usage error.
    const CliRun tolerant = runCli({ "airspace-check", alps, "--airspaces", around, "--tolerance-m", "150000,0" });
    EXPECT_EQ(tolerant.exitCode, 0) << tolerant.out.toStdString();
    EXPECT_TRUE(tolerant.out.endsWith("no airspace entered\n")) << tolerant.out.toStdString();
    for (const char* bad : { "200", "a,b", "-1,5", "10,20,30" })
        EXPECT_EQ(runCli({ "airspace-check", alps, "--airspaces", around, "--tolerance-m", bad }).exitCode, 1) << bad;
    const CliRun text = runCli({ "airspace-check", alps, "--airspaces", around });
    EXPECT_TRUE(text.out.endsWith("1 airspace entered (1 time)\n")) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains("    pressure: ")) << text.out.toStdString();

    // The same flight by its number in the library; a number the library lacks has
    // the exit code of a flight not there.
    const QString library = scratch.path() + "/Flights";
    ASSERT_EQ(runCli({ "library", "import", alps, "--library", library }).exitCode, 0);
    const QJsonArray listed = QJsonDocument::fromJson(runCli({ "library", "list", "--json", "--library", library }).out.toUtf8()).array();
    ASSERT_EQ(listed.size(), 1);
    const QString id = QString::number(listed.first()["id"].toInt());
    // A file refused as OpenAir (a flight given in its place, a file of no airspace) is
    // not kept: a copy of a flight in the library would be listed by the next rebuild.
    const QString blank = scratch.path() + "/blank.txt";
    ASSERT_TRUE(QFile(blank).open(QIODevice::WriteOnly));
    for (const QString& refusedFile : { alps, blank }) {
        const CliRun refused = runCli({ "airspace-check", id, "--airspaces", refusedFile, "--library", library });
        EXPECT_EQ(refused.exitCode, 4) << refused.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(library + "/Airspaces")) << refusedFile.toStdString();
    }
    const CliRun byId = runCli({ "airspace-check", id, "--airspaces", around, "--json", "--library", library });
    EXPECT_EQ(byId.exitCode, 10) << byId.err.toStdString();
    EXPECT_EQ(byId.out, inside.out);
    EXPECT_EQ(QDir(library + "/Airspaces").entryList({ "*_around.txt" }, QDir::Files).size(), 1) << "the file the check ran with";
    // A terrain folder is scanned and reported, the verdict unchanged: an SRTM tile of
    // zeros (sparse), one that does not read, and a folder that is not there.
    const QString terrain = scratch.path() + "/terrain";
    ASSERT_TRUE(QDir().mkpath(terrain));
    QFile tile(terrain + "/N45E006.hgt");
    ASSERT_TRUE(tile.open(QIODevice::WriteOnly) && tile.resize(1201 * 1201 * 2));
    tile.close();
    QFile cut(terrain + "/N46E006.hgt");
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly) && cut.resize(1000));
    cut.close();
    const CliRun withTerrain = runCli({ "airspace-check", alps, "--airspaces", around, "--json", "--terrain", terrain });
    EXPECT_EQ(withTerrain.exitCode, 10) << withTerrain.err.toStdString();
    const QJsonObject checked = QJsonDocument::fromJson(withTerrain.out.toUtf8()).object();
    EXPECT_EQ(checked["crossings"], QJsonDocument::fromJson(inside.out.toUtf8()).object()["crossings"]);
    const QJsonObject terrainJson = checked["terrain"].toObject();
    EXPECT_EQ(terrainJson["tiles"].toInt(), 1) << withTerrain.out.toStdString();
    EXPECT_EQ(terrainJson["covers"].toObject()["north"].toDouble(), 46.0004);
    EXPECT_TRUE(terrainJson["text"].toString().startsWith(QString::fromUtf8("1 tile covering 45\u00b0N to 46\u00b0N, 6\u00b0E to 7\u00b0E; "
                                                                            "unreadable: N46E006.hgt (")))
        << terrainJson["text"].toString().toStdString();
    // A floor above ground: possible without terrain, certain over the tile of sea-level
    // ground, and the margin above it given.
    const QString aboveGround = scratch.path() + "/agl.txt";
    QFile agl(aboveGround);
    ASSERT_TRUE(agl.open(QIODevice::WriteOnly));
    agl.write("AC D\nAN ABOVE GROUND\nAL 1000ft AGL\nAH UNL\nV X=44:58:00 N 005:50:00 E\nDC 60\n");
    agl.close();
    const QString ground = scratch.path() + "/ground";
    ASSERT_TRUE(QDir().mkpath(ground));
    QFile sea(ground + "/N44E005.hgt"); // under the flight
    ASSERT_TRUE(sea.open(QIODevice::WriteOnly) && sea.resize(1201 * 1201 * 2));
    sea.close();
    for (const bool withTiles : { false, true }) {
        QStringList arguments { "airspace-check", alps, "--airspaces", aboveGround, "--json" };
        if (withTiles)
            arguments << "--terrain" << ground;
        const CliRun run = runCli(arguments);
        EXPECT_EQ(run.exitCode, 10) << run.err.toStdString();
        const QJsonObject found = QJsonDocument::fromJson(run.out.toUtf8()).object()["crossings"].toArray().first().toObject();
        EXPECT_EQ(found["certain"].toBool(), withTiles) << found["reason"].toString().toStdString();
        EXPECT_EQ(found["above_floor_m"].isDouble(), withTiles);
    }
    const CliRun missingTerrain = runCli({ "airspace-check", alps, "--airspaces", around, "--terrain", terrain + "/gone" });
    EXPECT_EQ(missingTerrain.exitCode, 10);
    EXPECT_TRUE(missingTerrain.err.contains("terrain: " + terrain + "/gone does not exist\n")) << missingTerrain.err.toStdString();
    const CliRun unknownId = runCli({ "airspace-check", "999", "--airspaces", around, "--library", library });
    EXPECT_EQ(unknownId.exitCode, 7);
    EXPECT_TRUE(unknownId.err.startsWith("corvex: the library has no flight 999")) << unknownId.err.toStdString();

    const QString france = CORVEX_TESTDATA_DIR "/openair/france-07_04_2011.txt";
    const CliRun australia = runCli({ "airspace-check", CORVEX_TESTDATA_DIR "/igc/0asljd01.igc", "--airspaces", france });
    EXPECT_EQ(australia.exitCode, 0) << australia.err.toStdString();
    EXPECT_TRUE(australia.out.endsWith("no airspace entered\n")) << australia.out.toStdString();

    // Over the flight view's limit: refused before it is read.
    const QString huge = scratch.path() + "/huge.txt";
    QFile hugeFile(huge);
    ASSERT_TRUE(hugeFile.open(QIODevice::WriteOnly));
    ASSERT_TRUE(hugeFile.resize(200ll * 1024 * 1024)); // sparse: takes no disk
    hugeFile.close();
    EXPECT_TRUE(runCli({ "airspace-check", alps, "--airspaces", huge }).err.contains("too large to be an OpenAir file (200 MB)"));
    const QStringList unreadable[] = {
        { "airspace-check", alps, "--airspaces", scratch.path() + "/missing.txt" },
        { "airspace-check", alps, "--airspaces", alps },
        { "airspace-check", france, "--airspaces", france },
        { "airspace-check", scratch.path() + "/missing.igc", "--airspaces", france },
        { "airspace-check", alps, "--airspaces", huge },
    };
    for (const QStringList& arguments : unreadable) {
        const CliRun run = runCli(arguments);
        EXPECT_EQ(run.exitCode, 4) << arguments.join(' ').toStdString() << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith("corvex: ")) << run.err.toStdString();
    }
}

// The output folder is made (as mkdir -p) and tried before the instrument is: a
// folder that cannot be made fails at once with the write-failure exit code.
TEST(Cli, OutputFoldersAreMadeAndCheckedBeforeTheInstrument)
{
    QTemporaryDir scratch;
    VirtualInstrumentProcess instrument;
    const QString port = QString::fromStdString(instrument.portPath());
    const QString flights = scratch.path() + "/new/flights";
    const CliRun download = runCli({ "--port", port, "download", "all", "--format", "igc", "--out", flights });
    ASSERT_EQ(download.exitCode, 0) << download.err.toStdString();
    EXPECT_EQ(QDir(flights).entryList({ "*.igc" }, QDir::Files).size(), 6);
    EXPECT_TRUE(QDir(flights).entryList({ ".corvex-*" }, QDir::Files | QDir::Hidden).isEmpty()) << "the probe is removed";
    const QString book = scratch.path() + "/new/books/book.csv";
    const CliRun logbook = runCli({ "--port", port, "logbook", "--out", book });
    ASSERT_EQ(logbook.exitCode, 0) << logbook.err.toStdString();
    EXPECT_TRUE(QFileInfo(book).isFile());

    // A regular file in the way stops even root. The port does not exist: opening it
    // would end in exit 2, so exit 4 shows the instrument was never tried.
    const QString blocker = scratch.path() + "/file.txt";
    QFile file(blocker);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QStringList unwritable[] = {
        { "download", "all", "--format", "igc", "--out", blocker + "/sub" },
        { "download", "3", "--format", "kml", "--out", blocker },
        { "logbook", "--out", blocker + "/sub/book.csv" },
        { "airspaces", "read", blocker + "/sub/set.bin" },
    };
    for (const QStringList& arguments : unwritable) {
        const CliRun run = runCli(QStringList { "--port", scratch.path() + "/no-such-port" } + arguments);
        EXPECT_EQ(run.exitCode, 4) << arguments.join(' ').toStdString() << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith("corvex: cannot create the folder " + scratch.path() + "/file.txt"))
            << run.err.toStdString();
        EXPECT_TRUE(run.out.isEmpty());
    }
}

// The flight library from the command line: a flight is kept once whatever happens to
// the log book, the index can be thrown away, and what is kept is found again.
TEST(Cli, SyncKeepsEachFlightOnceAndTheLibraryFindsIt)
{
    QTemporaryDir scratch;
    const QString library = scratch.path() + "/Flights";
    // The log book before and after an erase: two flights remain under new numbers,
    // one is new.
    const auto flightsFolder = [&](const QString& name, const QStringList& files) {
        const QString folder = scratch.path() + "/" + name;
        QDir().mkpath(folder);
        for (const QString& file : files)
            QFile::link(CORVEX_TESTDATA_DIR "/igc/" + file, folder + "/" + file);
        return folder.toStdString();
    };
    const std::string before = flightsFolder("before", { "20241007TZN.igc", "lad_lod_extensions.igc", "20180427.igc" });
    const std::string after = flightsFolder("after", { "lad_lod_extensions.igc", "20180427.igc", "0asljd01.igc" });
    const auto sync = [&](const std::string& flights) {
        VirtualInstrumentProcess::Options options;
        options.igcDirectory = flights;
        VirtualInstrumentProcess instrument(options);
        return runCli({ "--port", QString::fromStdString(instrument.portPath()), "--units", "aviation", "sync", "--library", library });
    };
    const auto lastLine = [](const CliRun& run) { return run.out.trimmed().split('\n').last(); };

    // Flights the instrument will not give are reported, the others kept, and the next
    // sync brings them.
    {
        VirtualInstrumentProcess::Options options;
        options.igcDirectory = before;
        VirtualInstrumentProcess refusing(options);
        ASSERT_TRUE(refusing.control("fault igc-error"));
        const CliRun failed = runCli({ "--port", QString::fromStdString(refusing.portPath()), "sync", "--library", library });
        EXPECT_EQ(failed.exitCode, 3);
        EXPECT_EQ(lastLine(failed), "0 new, 0 already in the library");
        EXPECT_EQ(failed.err.count("was not saved"), 3) << failed.err.toStdString();
    }
    const CliRun first = sync(before);
    ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
    EXPECT_EQ(lastLine(first), "3 new, 0 already in the library");
    EXPECT_TRUE(first.out.contains(library + "/2024/2024-10-07_0626_C0FFEE.igc")) << first.out.toStdString();
    // Each new flight in the pilot's units, at the take-off's local time (the file's zone).
    EXPECT_TRUE(first.out.contains(QRegularExpression("C0FFEE\\.igc  2024-10-07T11:5[0-9]:[0-9]{2}\\+05:30  0:0[0-9]  [0-9]+\\.[0-9] NM\n")))
        << first.out.toStdString();
    EXPECT_EQ(lastLine(sync(before)), "0 new, 3 already in the library");
    ASSERT_EQ(runCli({ "library", "rebuild", "--library", library }).exitCode, 0);
    EXPECT_EQ(lastLine(sync(before)), "0 new, 3 already in the library") << "the files say which log-book entries they are";
    EXPECT_EQ(lastLine(sync(after)), "1 new, 2 already in the library");

    const CliRun list = runCli({ "library", "list", "--json", "--library", library });
    ASSERT_EQ(list.exitCode, 0) << list.err.toStdString();
    const QJsonArray flights = QJsonDocument::fromJson(list.out.toUtf8()).array();
    ASSERT_EQ(flights.size(), 4) << list.out.toStdString();
    for (const QJsonValue& flight : flights) {
        for (const char* key : { "id", "takeoff", "duration_s", "max_altitude_m", "track_km", "instrument", "pilot", "glider", "file" })
            EXPECT_TRUE(flight.toObject().contains(key)) << key;
        EXPECT_GT(flight["score_points"].toDouble(), 0) << "the sync scores what it brought";
        EXPECT_FALSE(flight["score_type"].toString().isEmpty());
        EXPECT_EQ(flight["instrument"].toString(), "C0FFEE");
        EXPECT_TRUE(QFile::exists(flight["file"].toString()));
    }
    EXPECT_EQ(runCli({ "library", "list", "--year", "2010", "--library", library }).out.count('\n'), 1);
    // The rows as the library window's "Table as CSV" writes them.
    {
        const CliRun csv = runCli({ "--utc", "library", "list", "--csv", "--library", library });
        EXPECT_EQ(csv.exitCode, 0) << csv.err.toStdString();
        auto opened = corvex::library::FlightLibrary::open(library.toStdString());
        ASSERT_TRUE(opened) << opened.error().message;
        EXPECT_EQ(csv.out.toStdString(), corvex::library::libraryCsv(*(*opened)->index().flights()));
        EXPECT_EQ(csv.out.count("\r\n"), 5);
    }
    const QString id = QString::number(flights.first()["id"].toInt());
    const CliRun show = runCli({ "library", "show", id, "--json", "--library", library });
    const QJsonObject shown = QJsonDocument::fromJson(show.out.toUtf8()).object();
    EXPECT_EQ(shown["id"].toInt(), id.toInt()) << show.out.toStdString();
    EXPECT_EQ(shown["scores"].toObject()["xcontest"].toObject()["points"].toDouble(), shown["score_points"].toDouble())
        << "the listed score is the first rule set's: " << show.out.toStdString();
    const QString gpx = scratch.path() + "/flight.gpx";
    // A name planted beside the target is never opened: the export makes its own.
    ASSERT_TRUE(QFile::link(scratch.path() + "/planted.txt", gpx + ".part"));
    const CliRun exported = runCli({ "library", "export", id, "--format", "gpx", "--out", gpx, "--library", library });
    EXPECT_EQ(exported.exitCode, 0) << exported.err.toStdString();
    QFile gpxFile(gpx);
    ASSERT_TRUE(gpxFile.open(QIODevice::ReadOnly));
    EXPECT_TRUE(gpxFile.readAll().contains("<trkpt"));
    EXPECT_FALSE(QFile::exists(scratch.path() + "/planted.txt")) << "nothing written through the link";
    // The globe's file: a zip of the document and the climb legend's picture; a folder
    // that cannot be written says so and leaves nothing.
    const QString kmz = scratch.path() + "/flight.kmz";
    const CliRun globe = runCli({ "library", "export", id, "--format", "kmz", "--out", kmz, "--library", library });
    EXPECT_EQ(globe.exitCode, 0) << globe.err.toStdString();
    QFile kmzFile(kmz);
    ASSERT_TRUE(kmzFile.open(QIODevice::ReadOnly));
    const QByteArray kmzBytes = kmzFile.readAll();
    EXPECT_TRUE(kmzBytes.startsWith("PK\x03\x04") && kmzBytes.mid(30, 7) == "doc.kml") << "a zip, doc.kml first";
    EXPECT_TRUE(kmzBytes.contains("legend.png"));
    const CliRun refused = runCli({ "library", "export", id, "--format", "kmz", "--out", gpx + "/flight.kmz", "--library", library });
    EXPECT_EQ(refused.exitCode, 4);
    EXPECT_TRUE(refused.err.startsWith("corvex: cannot create the folder " + gpx)) << refused.err.toStdString();

    // Files from any logger: what is not IGC is refused with its reason, and a second
    // import of the same files adds nothing.
    const QString imports = scratch.path() + "/Imported";
    const QString notes = scratch.path() + "/notes.IGC";
    QFile notesFile(notes);
    ASSERT_TRUE(notesFile.open(QIODevice::WriteOnly));
    notesFile.write("just notes\n");
    notesFile.close();
    const CliRun imported = runCli({ "library", "import", CORVEX_TESTDATA_DIR "/igc", notes, "--library", imports });
    EXPECT_EQ(imported.exitCode, 4);
    EXPECT_EQ(lastLine(imported), "6 imported, 0 already in the library, 1 refused") << imported.out.toStdString();
    EXPECT_TRUE(imported.err.contains(notes + ": not imported: ")) << imported.err.toStdString();
    for (const QJsonValue& flight :
        QJsonDocument::fromJson(runCli({ "library", "list", "--json", "--library", imports }).out.toUtf8()).array()) {
        EXPECT_GT(flight["score_points"].toDouble(), 0) << "the import scores what it saved, after the summary";
        const QJsonObject debrief = flight["debrief"].toObject();
        for (const char* key : { "thermals", "failed_attempts", "avg_climb_ms", "circling_share", "left_share",
                 "height_gained_m", "avg_glide_ratio", "altitude_source" })
            EXPECT_TRUE(debrief.contains(key)) << key << ": and analyses it";
        EXPECT_GE(debrief["circling_share"].toDouble(-1), 0);
        EXPECT_LE(debrief["circling_share"].toDouble(2), 1);
    }
    const CliRun again = runCli({ "library", "import", CORVEX_TESTDATA_DIR "/igc", "--library", imports });
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(lastLine(again), "0 imported, 6 already in the library, 0 refused");
    // A library whose journal cannot be written keeps no file it could not give an id for.
    const QString unjournaled = scratch.path() + "/Unjournaled";
    ASSERT_TRUE(QDir().mkpath(unjournaled + "/journal.tsv"));
    const CliRun notKept = runCli({ "library", "import", CORVEX_TESTDATA_DIR "/igc/20180427.igc", "--library", unjournaled });
    EXPECT_EQ(notKept.exitCode, 4);
    EXPECT_EQ(lastLine(notKept), "0 imported, 0 already in the library, 1 refused") << notKept.out.toStdString();
    EXPECT_TRUE(notKept.err.contains("cannot open the journal")) << notKept.err.toStdString();
    EXPECT_TRUE(QDir(unjournaled + "/2018").entryList(QDir::Files | QDir::Hidden).isEmpty());
    // A pilot's name as it came, quotes and backslash included, through the JSON.
    QFile source(CORVEX_TESTDATA_DIR "/igc/20241007TZN.igc");
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QByteArray renamed = source.readAll().replace("HFPLTPILOT:Stefan Walter", "HFPLTPILOT:Ann \"Ace\" O\\Brien");
    renamed.replace("AXSX004 SKYTRAXX", "AXSX005 SKYTRAXX");
    QFile quoted(scratch.path() + "/quoted.igc");
    ASSERT_TRUE(quoted.open(QIODevice::WriteOnly));
    quoted.write(renamed);
    quoted.close();
    ASSERT_EQ(runCli({ "library", "import", quoted.fileName(), "--library", imports }).exitCode, 0);
    const QJsonArray all = QJsonDocument::fromJson(runCli({ "library", "list", "--json", "--library", imports }).out.toUtf8()).array();
    EXPECT_EQ(all.size(), 7);
    EXPECT_EQ(all.first()["pilot"].toString(), "Ann \"Ace\" O\\Brien");
    // The search ignores case beyond ASCII and the glider is matched in any case, as in
    // the library window.
    QFile other(CORVEX_TESTDATA_DIR "/igc/20180427.igc");
    ASSERT_TRUE(other.open(QIODevice::ReadOnly));
    QByteArray sud = other.readAll().replace("HFPLTPILOT: Stefan Vyparina", "HFPLTPILOT:Team S\xc3\x9c" "D");
    sud.replace("HFGTYGLIDERTYPE: ", "HFGTYGLIDERTYPE:Ozone Zeno").replace("AXGD000", "AXGD001");
    QFile sudFile(scratch.path() + "/sud.igc");
    ASSERT_TRUE(sudFile.open(QIODevice::WriteOnly));
    sudFile.write(sud);
    sudFile.close();
    ASSERT_EQ(runCli({ "library", "import", sudFile.fileName(), "--library", imports }).exitCode, 0);
    const std::pair<QStringList, int> narrowed[] = {
        { { "--search", QString::fromUtf8("s\xc3\xbc" "d") }, 1 },
        { { "--search", QString::fromUtf8("S\xc3\x9c" "D") }, 1 },
        { { "--glider", "ozone ZENO" }, 1 },
        { { "--glider", "Ozone" }, 0 },
    };
    for (const auto& [options, count] : narrowed) {
        const CliRun listed = runCli(QStringList { "library", "list", "--json", "--library", imports } + options);
        EXPECT_EQ(QJsonDocument::fromJson(listed.out.toUtf8()).array().size(), count) << options.join(' ').toStdString();
    }
    // A second logger's recording of a flight: said at the import, counted once, and
    // named where the flight is shown.
    QFile lx(CORVEX_TESTDATA_DIR "/igc/0asljd01.igc");
    ASSERT_TRUE(lx.open(QIODevice::ReadOnly));
    QFile secondLogger(scratch.path() + "/second.igc");
    ASSERT_TRUE(secondLogger.open(QIODevice::WriteOnly));
    secondLogger.write(lx.readAll().replace("ALXNJD0FLIGHT:1", "APH001"));
    secondLogger.close();
    const CliRun recorded = runCli({ "library", "import", secondLogger.fileName(), "--library", imports });
    EXPECT_TRUE(recorded.out.contains("(also recorded by LXNJD0FLIGHT:1 (2010/")) << recorded.out.toStdString();
    const QJsonArray ofLx = QJsonDocument::fromJson(
        runCli({ "library", "list", "--json", "--year", "2010", "--library", imports }).out.toUtf8()).array();
    ASSERT_EQ(ofLx.size(), 1);
    const CliRun shownLx = runCli({ "library", "show", QString::number(ofLx.first()["id"].toInt()), "--library", imports });
    EXPECT_TRUE(shownLx.out.contains("Also recorded by: PH001 (" + imports + "/2010/")) << shownLx.out.toStdString();
    EXPECT_TRUE(shownLx.out.contains(QRegularExpression("\nDebrief: +[0-9]+ thermals?[ ,(]"))) << shownLx.out.toStdString();
    const QJsonObject shownLxJson = QJsonDocument::fromJson(
        runCli({ "library", "show", QString::number(ofLx.first()["id"].toInt()), "--json", "--library", imports }).out.toUtf8())
                                        .object();
    EXPECT_EQ(shownLxJson["debrief_version"].toInt(), corvex::library::debriefVersion);
    EXPECT_EQ(shownLxJson["debrief"].toObject(), ofLx.first()["debrief"].toObject()) << "list and show agree";

    // Flights saved before the library existed and imported: a sync knows them as the
    // instrument's, and after it has matched them once it downloads nothing for them.
    const QString saved = scratch.path() + "/saved";
    const QString known = scratch.path() + "/Known";
    VirtualInstrumentProcess::Options options;
    options.igcDirectory = before;
    VirtualInstrumentProcess instrument(options);
    const QString port = QString::fromStdString(instrument.portPath());
    ASSERT_EQ(runCli({ "--port", port, "download", "all", "--format", "igc", "--out", saved }).exitCode, 0);
    EXPECT_EQ(lastLine(runCli({ "library", "import", saved, "--library", known })), "3 imported, 0 already in the library, 0 refused");
    EXPECT_EQ(lastLine(runCli({ "--port", port, "sync", "--library", known })), "0 new, 3 already in the library");
    EXPECT_EQ(QDir(known + "/2024").entryList(QDir::Files).size(), 1) << "no second file of a flight";
    const auto traffic = [&] { return QString::fromStdString(instrument.controlReply("traffic")); };
    const QString trafficBefore = traffic();
    EXPECT_EQ(lastLine(runCli({ "--port", port, "sync", "--library", known })), "0 new, 3 already in the library");
    const QStringList counts = traffic().split(' '), countsBefore = trafficBefore.split(' ');
    ASSERT_EQ(counts.size(), 3);
    EXPECT_LT(counts[1].toLong() + counts[2].toLong() - countsBefore[1].toLong() - countsBefore[2].toLong(), 2000)
        << "the list and no flight";
}

// Ctrl+C while an import scores: the files were saved, and said so, before; it stops
// at once with the shell's status of an interrupt and says what is left unscored.
TEST(Cli, AnInterruptWhileScoringKeepsTheSavedFlights)
{
    QTemporaryDir scratch;
    QStringList arguments { "library", "import", "--library", scratch.path() + "/Flights" };
    for (unsigned copy = 1; copy <= 2; ++copy) {
        arguments << scratch.path() + QString("/wander%1.igc").arg(copy);
        std::ofstream(arguments.last().toStdString()) << corvex::testing::wanderingFlightIgc(8, "XWD00" + std::to_string(copy), copy);
    }
    QProcess import;
    import.start(QStringLiteral(CORVEX_BUILD_DIR "/corvex"), arguments);
    QString out;
    ASSERT_TRUE(corvex::testing::waitUntil([&] { return (out += QString::fromUtf8(import.readAllStandardOutput())).contains(" 0 refused\n"); }, 60000));
    QElapsedTimer sinceInterrupt;
    sinceInterrupt.start();
    ::kill(static_cast<pid_t>(import.processId()), SIGINT);
    ASSERT_TRUE(import.waitForFinished(30000));
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(sinceInterrupt.elapsed(), 5000); // the files under way are read and measured much slower
#else
    EXPECT_LT(sinceInterrupt.elapsed(), 1500);
#endif
    EXPECT_EQ(import.exitCode(), 130);
    EXPECT_TRUE(import.readAllStandardError().contains("corvex: scoring interrupted: the flights are saved; 2 are scored by the next"));
    const QJsonArray listed = QJsonDocument::fromJson(runCli({ "library", "list", "--json", "--library", scratch.path() + "/Flights" }).out.toUtf8()).array();
    ASSERT_EQ(listed.size(), 2) << "nothing lost";
    EXPECT_TRUE(listed.first()["score_points"].isNull());
    EXPECT_TRUE(listed.first().toObject().contains("debrief"));
    EXPECT_TRUE(listed.first()["debrief"].isNull()) << "not analysed yet";
}

// A folder that holds no library is made one only by sync and import: every other
// command says so with its own exit code and leaves the folder as it was, while a
// library whose index was lost is one still. A flight number the library lacks has one
// exit code in every command; a logger id names a file that any USB stick takes.
TEST(Cli, LibraryCommandsAgreeOnWhatIsThere)
{
    QTemporaryDir scratch;
    const QString out = scratch.path() + "/out.gpx";
    const QString openAir = CORVEX_TESTDATA_DIR "/openair/openair.txt";
    const auto flightCommands = [&](const QString& id) {
        return std::vector<QStringList> {
            { "library", "show", id },
            { "library", "export", id, "--format", "gpx", "--out", out },
            { "score", id },
            { "airspace-check", id },
            { "airspace-check", id, "--airspaces", openAir },
        };
    };
    const QString mistyped = scratch.path() + "/Flihgts";
    const QString empty = scratch.path() + "/Empty";
    ASSERT_TRUE(QDir().mkpath(empty));
    std::vector<QStringList> readers = flightCommands("1");
    readers.push_back({ "library", "list" });
    readers.push_back({ "library", "rebuild" });
    for (const QString& folder : { mistyped, empty }) {
        for (const QStringList& arguments : readers) {
            const CliRun run = runCli(arguments + QStringList { "--library", folder });
            const std::string trace = arguments.join(' ').toStdString() + " in " + folder.toStdString();
            EXPECT_EQ(run.exitCode, 6) << trace;
            EXPECT_EQ(run.err, "corvex: no library at " + folder + " (corvex library import FILES or corvex sync make one)\n") << trace;
            EXPECT_TRUE(run.out.isEmpty()) << trace;
        }
    }
    // What only records into a library works on without one, and says what it left out.
    const CliRun converted = runCli({ "airspaces", "convert", openAir, "--out", scratch.path() + "/set.as", "--library", mistyped });
    EXPECT_EQ(converted.exitCode, 0) << converted.err.toStdString();
    EXPECT_TRUE(converted.err.contains("was not recorded: no library at " + mistyped)) << converted.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(mistyped));
    EXPECT_TRUE(QDir(empty).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(out));

    // A logger id with what FAT and NTFS refuse.
    QFile source(CORVEX_TESTDATA_DIR "/igc/20241007TZN.igc");
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray colons = source.readAll().replace("AXSX004 SKYTRAXX", "AXSX004 SKY:TRA,XX");
    QFile colonFile(scratch.path() + "/colons.igc");
    ASSERT_TRUE(colonFile.open(QIODevice::WriteOnly));
    colonFile.write(colons);
    colonFile.close();
    const QString library = scratch.path() + "/Flights";
    ASSERT_EQ(runCli({ "library", "import", colonFile.fileName(), "--library", library }).exitCode, 0);
    const auto listedFlight = [&](const QString& folder) {
        const CliRun listed = runCli({ "library", "list", "--json", "--library", folder });
        const QJsonArray flights = QJsonDocument::fromJson(listed.out.toUtf8()).array();
        EXPECT_EQ(flights.size(), 1) << listed.out.toStdString() << listed.err.toStdString();
        return flights.isEmpty() ? QJsonObject {} : flights.first().toObject();
    };
    const QString file = listedFlight(library)["file"].toString();
    EXPECT_TRUE(file.endsWith("_XSX004-SKY-TRA-XX.igc")) << file.toStdString();

    // An index lost, a name written before the ids were made FAT-safe: the year folder
    // is a library still, and the id read from the name is the logger's, not a serial.
    const QString lost = scratch.path() + "/Lost";
    ASSERT_TRUE(QDir().mkpath(lost + "/2024"));
    ASSERT_TRUE(QFile::copy(colonFile.fileName(), lost + "/2024/" + QFileInfo(file).fileName().replace("SKY-TRA-XX", "SKY:TRA,XX")));
    EXPECT_EQ(listedFlight(lost)["instrument"].toString(), "XSX004 SKY:TRA,XX");
    const CliRun rebuilt = runCli({ "library", "rebuild", "--library", lost });
    EXPECT_EQ(rebuilt.exitCode, 0) << rebuilt.err.toStdString();
    // A file that is no flight fails the rebuild, as it fails an import; the others are
    // indexed all the same.
    QFile notes(lost + "/2024/notes.igc");
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("just notes\n");
    notes.close();
    const CliRun refused = runCli({ "library", "rebuild", "--library", lost });
    EXPECT_EQ(refused.exitCode, 4);
    EXPECT_TRUE(refused.err.contains(notes.fileName() + ": not imported: ")) << refused.err.toStdString();
    listedFlight(lost);

    for (const QStringList& arguments : flightCommands("999")) {
        const CliRun run = runCli(arguments + QStringList { "--library", library });
        const std::string trace = arguments.join(' ').toStdString() + ": " + run.err.toStdString();
        EXPECT_EQ(run.exitCode, 7) << trace;
        EXPECT_TRUE(run.err.startsWith("corvex: the library has no flight 999 (see corvex library list)")) << trace;
    }
}

// airspace-check without --airspaces: a library flight of a Corvex Vario is checked
// against the OpenAir file whose set its instrument held on the flight's day; a flight
// of another logger, a flight given as a file, or a day before any known upload is a
// file error that says how to give the airspaces. A file given for a library flight is
// kept in the library.
TEST(Cli, AirspaceCheckUsesTheSetTheInstrumentHeld)
{
    QTemporaryDir scratch;
    const QString library = scratch.path() + "/Flights";
    QDir().mkpath(library + "/2023");
    const QString alps = CORVEX_TESTDATA_DIR "/igc/lad_lod_extensions.igc";
    // Named as a sync names a flight of instrument C0FFEE.
    ASSERT_TRUE(QFile::copy(alps, library + "/2023/2023-02-20_1647_C0FFEE.igc"));
    ASSERT_EQ(runCli({ "library", "import", CORVEX_TESTDATA_DIR "/igc/20180427.igc", "--library", library }).exitCode, 0);
    const CliRun rebuilt = runCli({ "library", "rebuild", "--library", library });
    ASSERT_EQ(rebuilt.exitCode, 0) << rebuilt.err.toStdString();
    EXPECT_TRUE(rebuilt.out.endsWith("2 flights scored\n")) << rebuilt.out.toStdString();

    const CliRun listed = runCli({ "library", "list", "--json", "--library", library });
    QString synced, imported;
    for (const QJsonValue& flight : QJsonDocument::fromJson(listed.out.toUtf8()).array()) {
        EXPECT_GT(flight["score_points"].toDouble(), 0) << "the rebuild scores every flight";
        EXPECT_TRUE(flight["debrief"].isObject()) << "and analyses it";
        (flight["instrument"].toString() == "C0FFEE" ? synced : imported) = QString::number(flight["id"].toInt());
    }
    ASSERT_FALSE(synced.isEmpty());
    ASSERT_FALSE(imported.isEmpty());
    const CliRun text = runCli({ "library", "list", "--library", library });
    EXPECT_TRUE(text.out.contains(QRegularExpression(" km  [0-9]+\\.[0-9] (Free flight|Free triangle|FAI triangle|Closed free triangle|Closed FAI triangle) ")))
        << text.out.toStdString();

    const QString around = scratch.path() + "/around.txt";
    QFile file(around);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("AC D\nAN AROUND THE ALPS\nAL SFC\nAH UNL\nV X=44:58:00 N 005:50:00 E\nDC 60\n");
    file.close();
    const QString set = scratch.path() + "/around.as";
    const CliRun converted = runCli({ "airspaces", "convert", around, "--out", set, "--library", library });
    ASSERT_EQ(converted.exitCode, 0) << converted.err.toStdString();

    struct Case {
        const char* what;
        QStringList arguments;
        int exitCode;
        QString expected; // in stdout for 10, in stderr otherwise
    };
    const auto check = [&](const QString& flight) { return QStringList { "airspace-check", flight, "--library", library }; };
    const auto run = [&](const Case& c) {
        SCOPED_TRACE(c.what);
        const CliRun result = runCli(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err.toStdString();
        EXPECT_TRUE((c.exitCode == 10 ? result.out : result.err).contains(c.expected))
            << result.out.toStdString() << result.err.toStdString();
    };
    // Converted, never uploaded: the instrument held nothing the library knows.
    const Case before[] = {
        { "no upload yet", check(synced), 4, "no airspaces are known for flight " + synced + " (instrument C0FFEE, 2023-02-20)" },
        { "another logger", check(imported), 4, "no airspaces are known for flight " + imported + " (logger XGD000, 2018-04-27)" },
        { "a file", { "airspace-check", alps }, 4, "no airspaces are known for a flight given as a file" },
    };
    for (const Case& c : before)
        run(c);

    // The set went onto the instrument before the flight (what `airspaces upload` records).
    {
        QFile setFile(set);
        ASSERT_TRUE(setFile.open(QIODevice::ReadOnly));
        const QByteArray bytes = setFile.readAll();
        auto opened = corvex::library::FlightLibrary::open(library.toStdString());
        ASSERT_TRUE(opened);
        const auto source = (*opened)->airspaces().recordUpload(
            corvex::Sha256::hexOf(corvex::ByteView(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()))),
            "C0FFEE", 1600000000);
        ASSERT_TRUE(source && *source) << "the conversion was recorded with the set's digest";
        EXPECT_EQ((*source)->name, "around.txt");
    }
    const Case after[] = {
        { "the set of the day", check(synced), 10, "_around.txt (the set the instrument held on the flight's day)" },
        { "another logger still", check(imported), 4, "(logger XGD000, 2018-04-27)" },
        { "given for a library flight", check(imported) << "--airspaces" << around, 0, "" },
    };
    for (const Case& c : after)
        run(c);
    const CliRun json = runCli(check(synced) << "--json");
    EXPECT_TRUE(QJsonDocument::fromJson(json.out.toUtf8()).object()["airspaces"].toString().endsWith("_around.txt"))
        << json.out.toStdString();

    auto opened = corvex::library::FlightLibrary::open(library.toStdString());
    ASSERT_TRUE(opened);
    const auto files = *(*opened)->airspaces().index().files();
    ASSERT_EQ(files.size(), 1u) << "the file checked is the one converted: kept once";
    const auto uses = *(*opened)->airspaces().index().uses(files.front().id);
    std::set<std::string> reasons;
    for (const auto& use : uses)
        reasons.insert(use.reason);
    EXPECT_EQ(uses.size(), 3u);
    EXPECT_EQ(reasons, (std::set<std::string> { "checked", "converted", "uploaded" }));
}

// The pilot's undo from the command line: each step's exit status and sentence, the
// numbers kept across remove, restore and rebuild, and a check that finds a file
// copied in by hand and indexes it on --repair.
TEST(Cli, LibraryRemoveRestoreEditAndCheck)
{
    QTemporaryDir scratch;
    const QString library = scratch.path() + "/Flights";
    ASSERT_EQ(runCli({ "library", "import", CORVEX_TESTDATA_DIR "/igc/20241007TZN.igc", CORVEX_TESTDATA_DIR "/igc/20180427.igc",
                  "--library", library })
                  .exitCode,
        0);
    struct Step {
        QStringList arguments;
        int exitCode;
        QString out; // a part of standard output, or of standard error on a failure
    };
    const Step steps[] = {
        { { "remove", "1" }, 0, "Removed flight 1 (2024-10-07 06:27, 0:01); restore it with: corvex library restore 1\n" },
        { { "remove", "1" }, 7, "corvex: flight 1 is removed already" },
        { { "remove", "9" }, 7, "corvex: the library has no flight 9" },
        { { "list" }, 0, "     2  2018-04-27T13:37:25Z" },
        { { "list", "--removed", "--json" }, 0, "\"removed\": \"" },
        { { "import", CORVEX_TESTDATA_DIR "/igc/20241007TZN.igc" }, 0, "restore it with: corvex library restore 1" },
        { { "rebuild" }, 0, "2 flights in the index" },
        { { "restore", "2" }, 7, "corvex: flight 2 is not removed" },
        { { "restore", "1" }, 0, "Restored flight 1 (2024-10-07 06:27, 0:01) as " + library + "/2024/2024-10-07_0627_XSX004-SKYTRAXX.igc" },
        { { "edit", "2", "--glider", "Rush 6", "--site", "Annecy", "--comment", "tab\there", "--scored-track", "whole" }, 0,
            "Flight 2 (2018-04-27 13:37, 2:24, Rush 6): pilot Stefan Vyparina, glider Rush 6, site Annecy, comment tab\there, scored track whole" },
        { { "edit", "9", "--site", "x" }, 7, "corvex: the library has no flight 9" },
        { { "rebuild" }, 0, "2 flights in the index" },
        { { "show", "2" }, 0, "Site:          Annecy\nComment:       tab\there\nScored track:  the whole track\n" },
        { { "list", "--json" }, 0, "\"glider\": \"Rush 6\"" },
        // A glider renamed in every flight that shows it, its own edit included.
        { { "glider", "Rush 6", "--name", " Ozone Rush 6 " }, 0, "Glider Rush 6 (1 flight): now Ozone Rush 6\n" },
        { { "gliders" }, 0, "    1     2:24  Ozone Rush 6\n" },
        { { "gliders", "--json" }, 0, "{\"name\": \"Ozone Rush 6\", \"flights\": 1, \"duration_s\": " },
        { { "glider", "Nimbus", "--name", "x" }, 7, "corvex: no flight of the library has the glider \"Nimbus\"" },
        { { "glider", "Rush 6" }, 1, "corvex: say the glider's new name" },
        // Sites numbered by their first flight; a name reaches every flight from there but
        // the one the pilot gave a site of its own, and survives a rebuild.
        { { "sites" }, 0, "   2    32.09317    76.70400      1     0:01  2024-10-07  2024-10-07  " },
        { { "site", "2", "--name", " Billing " }, 0, "Site 2 (32.09317, 76.70400, 1 flight): named Billing\n" },
        { { "site", "1", "--name", "Lijak" }, 0, "): named Lijak\n" },
        { { "sites", "--json" }, 0, "{\"number\": 2, \"name\": \"Billing\", \"suggestion\": null, \"latitude\": 32.093167" },
        { { "rebuild" }, 0, "2 flights in the index" },
        { { "list", "--site", "BILLING" }, 0, "     1  2024-10-07T06:27:33Z" },
        { { "list", "--json" }, 0, "\"takeoff_local\": \"2024-10-07T11:57:33+05:30\"" },
        { { "show", "1" }, 0, "Site:          Billing\n" },
        { { "site", "3", "--name", "x" }, 7, "corvex: the library has no site 3" },
        { { "site", "two", "--name", "x" }, 1, "corvex: the site is the number `corvex library sites` shows, not two" },
        { { "site", "1" }, 1, "corvex: say the site's name" },
        { { "site", "1", "--name", "two\nlines" }, 1, "corvex: a site's name is one line of text" },
        { { "check" }, 0, "2 files, 2 flights (0 removed) in " + library + ": everything matches" },
        { { "logbook", "--out", scratch.path() + "/book.pdf" }, 0, "wrote " + scratch.path() + "/book.pdf (1 page)\n" },
        { { "logbook", "--out", scratch.path() + "/2024.pdf", "--year", "2024" }, 0, "(1 page)" },
        { { "logbook", "--out", scratch.path() + "/book.pdf", "--year", "24" }, 1, "corvex: --year is a year such as 2024, not 24" },
        { { "logbook", "--out", scratch.path() + "/missing/book.pdf" }, 4, "corvex: cannot write " + scratch.path() + "/missing/book.pdf" },
    };
    for (const Step& step : steps) {
        const CliRun run = runCli(QStringList { "--utc", "library" } + step.arguments + QStringList { "--library", library });
        const std::string trace = step.arguments.join(' ').toStdString() + ": " + run.out.toStdString() + run.err.toStdString();
        EXPECT_EQ(run.exitCode, step.exitCode) << trace;
        EXPECT_TRUE((step.exitCode == 0 ? run.out : run.out + run.err).contains(step.out)) << trace;
    }

    // The text in the pilot's units at the take-off's own zone (HFTZN +5:30); the JSON
    // keeps SI units and UTC whatever is asked.
    const CliRun shown = runCli({ "--units", "aviation", "library", "show", "1", "--library", library });
    EXPECT_EQ(shown.exitCode, 0) << shown.err.toStdString();
    for (const char* line : { "Take-off:      2024-10-07T11:57:33\\+05:30 at ", "Altitude:      pressure -?[0-9]+ ft to [0-9]+ ft, GPS ",
             "Best climb:    [0-9]+\\.[0-9] kt \\(20 s\\)\n", "Track:         [0-9]+\\.[0-9] NM\n" })
        EXPECT_TRUE(shown.out.contains(QRegularExpression(line))) << line << "\n" << shown.out.toStdString();
    const CliRun listedInKnots = runCli({ "--units", "aviation", "library", "list", "--site", "Billing", "--library", library });
    EXPECT_TRUE(listedInKnots.out.contains(QRegularExpression("^     1  2024-10-07T11:57:33\\+05:30    0:01  +[0-9]+ ft  +[0-9]+\\.[0-9] NM  ")))
        << listedInKnots.out.toStdString();
    EXPECT_TRUE(runCli({ "--units", "aviation", "library", "list", "--json", "--library", library }).out.contains("\"takeoff\": \"2024-10-07T06:27:33Z\""));
    const CliRun refused = runCli({ "--units", "feet", "library", "list", "--library", library });
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.contains("--units is metric, imperial or aviation, not 'feet'")) << refused.err.toStdString();
    QFile book(scratch.path() + "/book.pdf");
    ASSERT_TRUE(book.open(QIODevice::ReadOnly));
    EXPECT_TRUE(book.read(5) == "%PDF-");
    // The printed book follows --units and --utc as the list does: miles, local dates.
    const QString localBook = scratch.path() + "/local.pdf";
    const CliRun printed = runCli({ "--units", "imperial", "library", "logbook", "--out", localBook, "--library", library });
    EXPECT_EQ(printed.exitCode, 0) << printed.err.toStdString();
    for (const auto& [pdf, header] : { std::pair { localBook, "Distance (mi)" }, std::pair { book.fileName(), "Date (UTC)" } }) {
        QProcess text;
        text.start("pdftotext", { "-layout", pdf, "-" });
        text.waitForFinished(30000);
        const QString page = QString::fromUtf8(text.readAllStandardOutput()); // empty without poppler
        EXPECT_TRUE(page.isEmpty() || page.contains(header)) << page.toStdString();
    }

    ASSERT_TRUE(QDir().mkpath(library + "/2016"));
    ASSERT_TRUE(QFile::copy(CORVEX_TESTDATA_DIR "/igc/2016-11-08-xcs-aaa-02.igc", library + "/2016/by hand.igc"));
    ASSERT_TRUE(QDir().mkpath(library + "/Airspaces"));
    ASSERT_TRUE(QFile::copy(CORVEX_TESTDATA_DIR "/igc/0asljd01.igc", library + "/Airspaces/not a flight.igc"));
    const CliRun looked = runCli({ "library", "check", "--json", "--library", library });
    EXPECT_EQ(looked.exitCode, 4);
    const QJsonObject report = QJsonDocument::fromJson(looked.out.toUtf8()).object();
    EXPECT_EQ(report["files"].toInt(), 3);
    ASSERT_EQ(report["findings"].toArray().size(), 1) << looked.out.toStdString();
    EXPECT_EQ(report["findings"][0]["kind"].toString(), "file_without_row");
    EXPECT_EQ(report["findings"][0]["file"].toString(), "2016/by hand.igc");
    const CliRun repaired = runCli({ "library", "check", "--repair", "--library", library });
    EXPECT_EQ(repaired.exitCode, 0) << repaired.err.toStdString();
    EXPECT_TRUE(repaired.out.contains("the index does not list 2016/by hand.igc (repaired)\n3 files, 3 flights (0 removed)"))
        << repaired.out.toStdString();
    const QJsonArray listed = QJsonDocument::fromJson(runCli({ "library", "list", "--json", "--library", library }).out.toUtf8()).array();
    EXPECT_EQ(listed.size(), 3) << "the IGC file under Airspaces/ is no flight";
    for (const QJsonValue& flight : listed)
        EXPECT_TRUE(flight.toObject().contains("site") && flight.toObject().contains("takeoff_local")) << "in every flight";
    // The flight's own site wins over its site's name.
    const auto withSite = [&](const QString& site) {
        return QJsonDocument::fromJson(runCli({ "library", "list", "--json", "--site", site, "--library", library }).out.toUtf8()).array();
    };
    EXPECT_TRUE(withSite("Lijak").isEmpty());
    ASSERT_EQ(withSite("annecy").size(), 1);
    EXPECT_EQ(withSite("annecy").at(0).toObject().value("id").toInt(), 2);
    EXPECT_EQ(withSite("Billing").at(0).toObject().value("site").toString(), "Billing");
    const QJsonArray unnamed = withSite("");
    ASSERT_EQ(unnamed.size(), 1) << "the flight of 2016 took off at no named site";
    EXPECT_TRUE(unnamed.at(0).toObject().value("site").isNull());

    // A file an import killed after placing it left unindexed: the next command lists
    // it, and the same flight offered again is no "_2" copy of it.
    const QString other = scratch.path() + "/Other";
    const QString offered = CORVEX_TESTDATA_DIR "/igc/0asljd01.igc";
    ASSERT_EQ(runCli({ "library", "import", offered, "--library", other }).exitCode, 0);
    const QString placed = QDir(other).relativeFilePath(
        QJsonDocument::fromJson(runCli({ "library", "list", "--json", "--library", other }).out.toUtf8())
            .array()
            .first()
            .toObject()["file"]
            .toString());
    ASSERT_TRUE(QDir().mkpath(QFileInfo(library + "/" + placed).path()));
    ASSERT_TRUE(QFile::copy(offered, library + "/" + placed));
    const CliRun afterKill = runCli({ "library", "list", "--json", "--library", library });
    EXPECT_EQ(QJsonDocument::fromJson(afterKill.out.toUtf8()).array().size(), 4) << afterKill.err.toStdString();
    const CliRun again = runCli({ "library", "import", offered, "--library", library });
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_EQ(QDir(QFileInfo(library + "/" + placed).path()).entryList(QDir::Files).size(), 1) << again.out.toStdString();

    // A library that cannot be written is listed and shown; a change says why it fails.
    if (::geteuid() == 0)
        return; // root writes every file
    std::vector<QString> madeReadOnly { library };
    for (QDirIterator it(library, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();)
        madeReadOnly.push_back(it.next());
    for (const QString& path : madeReadOnly)
        ::chmod(QFile::encodeName(path).constData(), QFileInfo(path).isDir() ? 0555 : 0444);
    const Step readOnlySteps[] = {
        { { "list" }, 0, "     2  2018-04-27T13:37:25Z" },
        { { "show", "2" }, 0, "Site:          Annecy\n" },
        { { "export", "2", "--format", "gpx", "--out", scratch.path() + "/2.gpx" }, 0, "" },
        { { "remove", "2" }, 4, "corvex: the library at " + library + " is read-only: changes are not possible" },
        { { "edit", "2", "--site", "x" }, 4, "corvex: the library at " + library + " is read-only: changes are not possible" },
        { { "import", offered }, 4, "corvex: the library at " + library + " is read-only: changes are not possible" },
        { { "rebuild" }, 4, "the library at " + library + " is read-only: changes are not possible" },
    };
    for (const Step& step : readOnlySteps) {
        const CliRun run = runCli(QStringList { "--utc", "library" } + step.arguments + QStringList { "--library", library });
        const std::string trace = step.arguments.join(' ').toStdString() + ": " + run.out.toStdString() + run.err.toStdString();
        EXPECT_EQ(run.exitCode, step.exitCode) << trace;
        EXPECT_TRUE((step.exitCode == 0 ? run.out : run.out + run.err).contains(step.out)) << trace;
    }
    for (const QString& path : madeReadOnly)
        ::chmod(QFile::encodeName(path).constData(), QFileInfo(path).isDir() ? 0755 : 0644);
}

// Names from files in each output: one flight one line, names cut to their columns, no
// control character raw, the whole name in the JSON and the CSV, a formula kept as text.
TEST(Cli, NamesFromFilesKeepEveryOutputWellFormed)
{
    QTemporaryDir scratch;
    const QString library = scratch.path() + "/Flights";
    const auto writeFile = [](const QString& path, const QByteArray& bytes) {
        QFile out(path);
        return out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size();
    };
    QFile file(CORVEX_TESTDATA_DIR "/igc/20180427.igc");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    // The IGC reader turns C0 controls into spaces; a C1 control (U+009B, CSI) stays.
    const QByteArray pilot = "=cmd|' /C calc'!A0 \xc2\x9b" "31m", glider = "Glider " + QByteArray(450, 'x');
    const QByteArray text = file.readAll().replace("PILOT: Stefan Vyparina", "PILOT:" + pilot).replace("TYPE: ", "TYPE:" + glider);
    ASSERT_TRUE(writeFile(scratch.path() + "/hostile.igc", text));
    ASSERT_EQ(runCli({ "library", "import", scratch.path() + "/hostile.igc", CORVEX_TESTDATA_DIR "/igc/20241007TZN.igc", "--library", library }).exitCode, 0);
    ASSERT_EQ(runCli({ "library", "edit", "1", "--comment", "\x1b]0;owned\x07", "--library", library }).exitCode, 0);
    ASSERT_TRUE(writeFile(scratch.path() + "/names.txt", "AC D\nAN \x1b]0;owned\x07TMA\nAL SFC\nAH UNL\nV X=45:57:00 N 013:43:00 E\nDC 30\n"));
    const auto run = [&](const QStringList& arguments) { return runCli(arguments + QStringList { "--library", library }); };
    const CliRun list = run({ "library", "list" }), json = run({ "library", "list", "--json" }), show = run({ "library", "show", "1" });
    const CliRun check = run({ "airspace-check", "1", "--airspaces", scratch.path() + "/names.txt" });
    const QString printed = list.out + json.out + show.out + check.out + check.err;
    EXPECT_FALSE(printed.contains(QRegularExpression("[\\x00-\\x09\\x0b-\\x1f\\x7f-\\x9f]"))) << printed.toStdString();

    const QStringList lines = list.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << list.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith("     2  2024-")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith("  Glider " + QString(16, 'x') + QChar(0x2026) + "  =cmd|' /C calc'!A0 \\xC2\\x9B31m")) << lines[1].toStdString();
    const QJsonArray flights = QJsonDocument::fromJson(json.out.toUtf8()).array();
    EXPECT_EQ(flights[1]["pilot"].toString().toUtf8(), pilot) << json.out.toStdString();
    EXPECT_EQ(flights[1]["glider"].toString().toUtf8(), glider);
    EXPECT_TRUE(show.out.contains("Pilot:         =cmd|' /C calc'!A0 \\xC2\\x9B31m\n")) << show.out.toStdString();
    EXPECT_TRUE(show.out.contains("Comment:       \\x1B]0;owned\\x07\n")) << show.out.toStdString();
    EXPECT_TRUE(check.out.contains("D \\x1B]0;owned\\x07TMA")) << check.out.toStdString();
    EXPECT_TRUE(run({ "library", "list", "--csv" }).out.contains("," + QString::fromLatin1(glider) + ",\"'=cmd|' /C calc'!A0 "));
}

// A path that is not UTF-8 is the bytes given: --library makes and finds that very folder
// (not a look-alike with U+FFFD), an output lands in it, and messages name it visibly.
TEST(Cli, PathArgumentsAreTakenAsTheirBytes)
{
    QTemporaryDir scratch;
    const std::string folder = QFile::encodeName(scratch.path()).toStdString();
    const QString script = "d=\"$(printf '%s/Fl\\377ights' \"$1\")\"; \"$0\" library import \"$2\" --library \"$d\" >/dev/null || exit 20; "
                           "\"$0\" library export 1 --format kml --out \"$d/out/flight.kml\" --library \"$d\" || exit 21; "
                           "\"$0\" library list --library \"$d/none\"";
    const CliRun run = corvex::testing::runProgram("/bin/sh",
        { "-c", script, CORVEX_BUILD_DIR "/corvex", scratch.path(), CORVEX_TESTDATA_DIR "/igc/20180427.igc" }, 30000);
    EXPECT_EQ(run.exitCode, 6) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(run.out, scratch.path() + "/Fl\\xFFights/out/flight.kml\n");
    EXPECT_TRUE(run.err.contains("no library at " + scratch.path() + "/Fl\\xFFights/none")) << run.err.toStdString();
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + "/Fl\xffights/out/flight.kml"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "no second folder under another name";
}
