#include "platform/foundation/RunLoop.h"

#include "platform/foundation/MainThread.h"
#include "support/TimeLimit.h"
#include "support/WaitUntil.h"

#include <QCoreApplication>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

TEST(RunLoopTest, DelayedRequestRunsOnNextTurnAndCanBeCancelled)
{
    int ran = 0;
    auto kept = RunLoop::performAfterDelay(0, [&] { ++ran; });
    auto cancelled = RunLoop::performAfterDelay(0, [&] { ran += 100; });
    EXPECT_TRUE(cancelled.isPending());
    cancelled.cancel();
    cancelled.cancel();
    EXPECT_FALSE(cancelled.isPending());
    EXPECT_EQ(ran, 0) << "not before the event loop turns";
    ASSERT_TRUE(processEventsUntil([&] { return ran != 0; }));
    // A turn more, for anything due at the same time that came after it.
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(kept.isPending());
    kept.cancel();
    EXPECT_EQ(ran, 1);
}

TEST(RunLoopTest, PostAndWaitFromAnotherThreadRunsOnTheMainThread)
{
    EXPECT_TRUE(isMainThread());
    // The worker is joined under the limit: if the call never ran it would wait for ever.
    TimeLimit limit;
    std::atomic<bool> ranOnMain = false;
    std::atomic<bool> workerWasMain = true;
    std::atomic<bool> workerReturned = false;
    std::thread worker([&] {
        workerWasMain = isMainThread();
        RunLoop::postToMainThreadAndWait([&] { ranOnMain = isMainThread(); });
        workerReturned = true;
    });
    EXPECT_TRUE(processEventsUntil([&] { return workerReturned.load(); }));
    worker.join();
    EXPECT_FALSE(workerWasMain);
    EXPECT_TRUE(ranOnMain);
}
