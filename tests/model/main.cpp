#include <gtest/gtest.h>

#include <QCoreApplication>

// The model lives on a thread with an event loop; results come back through it.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
