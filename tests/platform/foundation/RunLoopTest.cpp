#include "platform/foundation/RunLoop.h"

#include "platform/foundation/MainThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

namespace {
void spinEventLoop(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}
} // namespace

TEST(RunLoopTest, DelayedRequestRunsOnNextTurnAndCanBeCancelled)
{
    int ran = 0;
    auto kept = RunLoop::performAfterDelay(0, [&] { ++ran; });
    auto cancelled = RunLoop::performAfterDelay(0, [&] { ran += 100; });
    EXPECT_TRUE(cancelled.isPending());
    cancelled.cancel();
    cancelled.cancel();
    EXPECT_FALSE(cancelled.isPending());
    EXPECT_EQ(ran, 0);
    spinEventLoop(20);
    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(kept.isPending());
    kept.cancel();
}

TEST(RunLoopTest, PostAndWaitFromAnotherThreadRunsOnTheMainThread)
{
    EXPECT_TRUE(isMainThread());
    bool ranOnMain = false;
    bool workerWasMain = true;
    std::thread worker([&] {
        workerWasMain = isMainThread();
        RunLoop::postToMainThreadAndWait([&] { ranOnMain = isMainThread(); });
    });
    while (!ranOnMain)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    EXPECT_FALSE(workerWasMain);
    EXPECT_TRUE(ranOnMain);
}
