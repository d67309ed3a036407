#include "outline/engine/Rings.h"

#include <cstdlib>

#include <gtest/gtest.h>

namespace {

using OutlineKernel::Engine::RowRing;

// Reading a row whose slot a later row has taken is the fault rings exist to catch (a Draft
// block once read forward values its ring had already overwritten).
TEST(RowRingDeathTest, AskingForARowTheRingNoLongerHoldsFails) {
    // Under qemu's user-mode emulator the child cannot exec the test program again (it is not
    // a program of this processor); a forked child checks the same death and message.
    GTEST_FLAG_SET(death_test_style, std::getenv("ZARVEL_UNDER_QEMU") ? "fast" : "threadsafe");
    RowRing<int> ring;
    ring.reserve(3, 4);
    ring.reset(3, 4, 10);
    for (int row = 10; row < 15; ++row) {
        ring.claim(row)[0] = row;
    }
    for (int row = 12; row < 15; ++row) {
        EXPECT_EQ(ring[row][0], row);
    }
    EXPECT_DEATH((void)ring[11], "no longer holds");
    EXPECT_DEATH((void)ring[15], "no longer holds");  // not yet claimed
    ring.reset(3, 4, 0);
    EXPECT_DEATH((void)ring[0], "no longer holds");  // a new tile holds nothing
}

}  // namespace
