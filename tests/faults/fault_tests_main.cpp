#include "tests/support/posix/scoped_mount.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // First, while the program has one thread: a mount namespace can only be
    // entered then, and every mount a test makes stays inside it.
    kqget::testing::usePrivateMounts();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
