#include <QCoreApplication>

#include <gtest/gtest.h>

// Discovery delivers arrivals and removals on the Qt event loop, which needs an
// application object for the whole run.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
