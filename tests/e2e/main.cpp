// Runs the tests in a POSIX session of their own (see posix_session.h).
#include <gtest/gtest.h>

#include "posix_session.h"

int main(int argc, char** argv) {
    if (!PevraNUV::test::EnterOwnPosixSession()) return 1;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
