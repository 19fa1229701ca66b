#include "library/AlbumInfoClock.h"

#include <chrono>
#include <gtest/gtest.h>

// The one test of the real clock: every other test steps a clock of its own, so a real clock that
// waited a thousandth of what it is asked would go unnoticed there. The bounds are wide, so a
// loaded machine cannot make it fail: a wait may take longer than asked, never shorter.
TEST(AlbumInfoClockTest, TheSystemClockWaitsAsLongAsAskedAndCountsSeconds)
{
    const AlbumInfoClock clock = AlbumInfoClock::system();
    ASSERT_TRUE(clock.now);
    ASSERT_TRUE(clock.sleepFor);

    const auto started = std::chrono::steady_clock::now();
    const double before = clock.now();
    clock.sleepFor(0.05);
    const double after = clock.now();
    const double measured = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    EXPECT_GE(measured, 0.045) << "a wait of 50 ms";
    EXPECT_LT(measured, 10.0) << "a wait of 50 ms, not of 50 s";
    EXPECT_GE(after - before, 0.045) << "the clock's own seconds over the wait";
    EXPECT_LE(after - before, measured + 0.001) << "the clock's own seconds over the wait";
}
