#include "SmallDisk.h"

#include <gtest/gtest.h>

// The main() of tests that fill a disk: the namespace is made while the
// process has its one thread.
int main(int argc, char** argv)
{
    Hub::Test::SmallDisk::prepare();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
