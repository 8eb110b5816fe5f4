// One QApplication for painting and the map view. The tile cache and the preferences
// point into a temporary folder, so that nothing of the user's reaches the tests.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return 2;
    for (const char* name : { "XDG_CONFIG_HOME", "XDG_CACHE_HOME" }) {
        const QString folder = scratch.path() + "/" + name;
        QDir().mkpath(folder);
        setenv(name, folder.toLocal8Bit().constData(), 1);
    }
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
