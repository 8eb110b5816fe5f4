// The integration tests share one QCoreApplication: discovery and the HTTP clients
// deliver their events through its loop.
#include "TestUpdateKey.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // What the stand-in server offers is signed with the test key.
    corvex::testing::trustTestUpdateKey();
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
