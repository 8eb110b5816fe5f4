#pragma once

// Helpers for the test suites that run a Qt event loop or start programs. Header-only:
// only those suites link Qt.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>

namespace corvex::testing {

// Turns the event loop until the condition holds or the time is up; whether it held.
inline bool waitUntil(const std::function<bool()>& condition, int milliseconds = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

// Turns the event loop for a while, for callbacks that must not come.
inline void runEventLoopFor(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
}

struct ProgramRun {
    int exitCode { -1 }; // -1: it crashed or did not end in time
    QString out;
    QString err;
};

// Runs a program to its end. It sees no real USB instruments and writes no log to
// stderr; the environment can be changed further before the start.
inline ProgramRun runProgram(const QString& program, const QStringList& arguments, int timeoutMilliseconds = 120000,
    const std::function<void(QProcessEnvironment&)>& adjustEnvironment = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("CORVEX_NO_UDEV", "1");
    // A command that keeps what it used (OpenAir files) in the flight library never
    // reaches the user's own library.
    static QTemporaryDir privateLibrary;
    if (!environment.contains("CORVEX_LIBRARY"))
        environment.insert("CORVEX_LIBRARY", privateLibrary.path() + "/Flights");
    environment.remove("CORVEX_LOG_STDERR");
    if (adjustEnvironment)
        adjustEnvironment(environment);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ProgramRun run;
    if (!process.waitForFinished(timeoutMilliseconds)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace corvex::testing
