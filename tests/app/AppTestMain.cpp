// One QApplication for the widget tests. Every folder the program could touch (its
// settings, caches, runtime folder, the instruments folder) points into a temporary
// folder, and udev is left out, so that neither the user's settings nor whatever is
// plugged into the machine can reach the tests.
#include "TestUpdateKey.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 2;
    const QByteArray root = scratch.path().toLocal8Bit();
    for (const char* name : { "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR" }) {
        const QByteArray folder = root + "/" + name;
        QDir().mkpath(QString::fromLocal8Bit(folder));
        QFile::setPermissions(QString::fromLocal8Bit(folder), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        setenv(name, folder.constData(), 1);
    }
    setenv("CORVEX_NO_UDEV", "1", 1);
    setenv("CORVEX_INSTRUMENT_DIR", (root + "/instruments").constData(), 1);
    unsetenv("CORVEX_VENDOR_URL");
    // What the stand-in server offers is signed with the test key.
    corvex::testing::trustTestUpdateKey();
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Corvex"));
    QApplication::setApplicationName(QStringLiteral("CorvexVario"));
    QApplication::setApplicationVersion(QStringLiteral("9.8.7"));
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // A window a test closed that deletes itself on close (a flight view) goes now, its
    // searches waited for, before the program's statics do: no event loop turns after
    // the last test, and a search running on through the exit reads freed rule sets.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}
