#include "platform/foundation/OperationQueue.h"

#include "platform/foundation/InternalInconsistency.h"
#include "support/CallOperation.h"
#include "support/TimeLimit.h"
#include "support/WaitUntil.h"

#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <sched.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
// Holds a queue's worker until released, and tells when it has started. It lets go by itself when
// it goes away or after the wait limit, so a failing test never leaves a worker waiting for ever.
class Blocker {
public:
    ~Blocker() { release(); }

    std::shared_ptr<CallOperation> operation()
    {
        return CallOperation::make([state = m_state](CallOperation&) {
            state->started.set_value();
            state->released.wait_for(waitLimit);
        });
    }

    // Whether the operation started within the wait limit.
    bool waitUntilStarted() { return isReadyWithin(m_started); }

    void release()
    {
        std::call_once(m_state->releasing, [this] { m_state->release.set_value(); });
    }

private:
    struct State {
        std::promise<void> started;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::once_flag releasing;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
    std::future<void> m_started = m_state->started.get_future();
};

class OrderLog {
public:
    void append(int value)
    {
        std::lock_guard lock(m_mutex);
        m_values.push_back(value);
    }
    std::vector<int> values() const
    {
        std::lock_guard lock(m_mutex);
        return m_values;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<int> m_values;
};
} // namespace

// Every wait of these tests ends: the queue's own waits and destructors, which have no limit of
// their own, under the fixture's time limit.
class OperationQueueTest : public testing::Test {
    TimeLimit m_limit;
};

TEST_F(OperationQueueTest, SerialQueueRunsOneAtATimeInTheOrderAdded)
{
    OperationQueue queue(1);
    std::atomic<int> inFlight = 0;
    std::atomic<int> mostInFlight = 0;
    OrderLog log;
    constexpr int count = 400;
    for (int i = 0; i < count; ++i) {
        queue.addOperation(CallOperation::make([&, i](CallOperation&) {
            const int now = ++inFlight;
            int seen = mostInFlight.load();
            while (now > seen && !mostInFlight.compare_exchange_weak(seen, now)) {
            }
            log.append(i);
            --inFlight;
        }));
    }
    queue.waitUntilAllOperationsAreFinished();

    EXPECT_EQ(mostInFlight.load(), 1);
    const auto order = log.values();
    ASSERT_EQ(order.size(), std::size_t(count));
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_EQ(queue.operationCount(), 0u);
}

TEST_F(OperationQueueTest, ConcurrentQueueRunsOperationsAtTheSameTimeAndDrains)
{
    // The first three wait for one another: only concurrent running lets them meet.
    std::atomic<int> firstArrived = 0;
    std::atomic<int> firstMet = 0;
    std::atomic<int> finished = 0;
    OperationQueue queue(3);
    std::vector<std::shared_ptr<CallOperation>> operations;
    for (int i = 0; i < 200; ++i) {
        operations.push_back(CallOperation::make([&, i](CallOperation&) {
            if (i < 3) {
                ++firstArrived;
                if (waitUntil([&] { return firstArrived.load() == 3; }))
                    ++firstMet;
            }
            ++finished;
        }));
        queue.addOperation(operations.back());
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(firstMet.load(), 3) << "the first three ran at the same time";
    EXPECT_EQ(finished.load(), 200);
    EXPECT_EQ(queue.operationCount(), 0u);
    for (const auto& operation : operations)
        EXPECT_TRUE(operation->isFinished());
}

TEST_F(OperationQueueTest, HigherPriorityStartsFirstAmongTheWaiting)
{
    using Priority = Operation::QueuePriority;
    OperationQueue queue(1);
    Blocker blocker;
    queue.addOperation(blocker.operation());
    ASSERT_TRUE(blocker.waitUntilStarted());

    OrderLog log;
    const auto add = [&](int tag, Priority priority) {
        queue.addOperation(CallOperation::make([&log, tag](CallOperation&) { log.append(tag); }, priority));
    };
    add(1, Priority::Low);
    add(2, Priority::Normal);
    add(3, Priority::High);
    add(4, Priority::Normal);
    add(5, Priority::VeryHigh);
    auto raised = CallOperation::make([&log](CallOperation&) { log.append(6); }, Priority::VeryLow);
    queue.addOperation(raised);
    raised->setQueuePriority(Priority::High);
    blocker.release();
    queue.waitUntilAllOperationsAreFinished();

    EXPECT_EQ(log.values(), (std::vector<int>{5, 3, 6, 2, 4, 1}));
}

TEST_F(OperationQueueTest, CancelledOperationsNeverRunAndFinishAtOnce)
{
    OperationQueue queue(1);
    Blocker blocker;
    auto running = blocker.operation();
    queue.addOperation(running);
    ASSERT_TRUE(blocker.waitUntilStarted());

    std::atomic<int> ran = 0;
    auto cancelledWhileWaiting = CallOperation::make([&](CallOperation&) { ++ran; });
    auto cancelledByAll = CallOperation::make([&](CallOperation&) { ++ran; });
    auto cancelledBeforeAdding = CallOperation::make([&](CallOperation&) { ++ran; });
    queue.addOperation(cancelledWhileWaiting);
    queue.addOperation(cancelledByAll);
    EXPECT_EQ(queue.operationCount(), 3u);

    cancelledWhileWaiting->cancel();
    EXPECT_TRUE(cancelledWhileWaiting->isFinished());
    EXPECT_EQ(queue.operationCount(), 2u);

    queue.cancelAllOperations();
    EXPECT_TRUE(cancelledByAll->isFinished());
    EXPECT_TRUE(running->isCancelled());
    EXPECT_TRUE(running->isExecuting());

    cancelledBeforeAdding->cancel();
    queue.addOperation(cancelledBeforeAdding);
    EXPECT_TRUE(cancelledBeforeAdding->isFinished());

    blocker.release();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 0);
    EXPECT_TRUE(running->isFinished());
    EXPECT_FALSE(running->isExecuting());
}

TEST_F(OperationQueueTest, AFailureEndsOnlyItsOwnOperation)
{
    OperationQueue queue(1);
    auto failing = CallOperation::make([](CallOperation&) { throw std::runtime_error("disk on fire"); });
    bool nextRan = false;
    auto next = CallOperation::make([&](CallOperation&) { nextRan = true; });
    queue.addOperation(failing);
    queue.addOperation(next);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(failing->isFinished());
    EXPECT_TRUE(nextRan);
}

TEST_F(OperationQueueTest, MisuseIsAProgrammingError)
{
    OperationQueue queue(1);
    auto operation = CallOperation::make([](CallOperation&) {});
    queue.addOperation(operation);
    EXPECT_THROW(queue.addOperation(operation), InternalInconsistency);
    EXPECT_THROW(queue.addOperation(nullptr), InternalInconsistency);

    std::string waitingFailure;
    queue.addOperation(CallOperation::make([&](CallOperation&) {
        try {
            queue.waitUntilAllOperationsAreFinished();
        } catch (const InternalInconsistency& failure) {
            waitingFailure = failure.description();
        }
    }));
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(waitingFailure, "An operation must not wait for its own queue to finish");

    auto started = CallOperation::make([](CallOperation&) {});
    started->start();
    EXPECT_TRUE(started->isFinished());
    EXPECT_THROW(started->start(), InternalInconsistency);
    EXPECT_THROW(queue.addOperation(started), InternalInconsistency);
}

TEST_F(OperationQueueTest, DestroyingAQueueCancelsWhatWaitsAndJoinsWhatRuns)
{
    // Declared before the queue: its operations use them until the queue is gone.
    std::promise<void> started;
    std::atomic<bool> runningSawCancel = false;
    std::atomic<int> ran = 0;
    auto queue = std::make_unique<OperationQueue>(1);
    // Waits only until the destructor cancels it; it then returns.
    auto running = CallOperation::make([&](CallOperation& self) {
        started.set_value();
        runningSawCancel = waitUntil([&] { return self.isCancelled(); });
    });
    queue->addOperation(running);
    ASSERT_TRUE(isReadyWithin(started.get_future()));

    auto argument = std::make_shared<int>(7);
    std::weak_ptr<int> watchedArgument = argument;
    std::vector<std::shared_ptr<CallOperation>> waiting;
    for (int i = 0; i < 10; ++i) {
        waiting.push_back(CallOperation::make([&ran, argument](CallOperation&) { ran += *argument; }));
        queue->addOperation(waiting.back());
    }
    argument.reset();

    queue.reset();
    EXPECT_TRUE(runningSawCancel);
    EXPECT_TRUE(running->isFinished());
    EXPECT_EQ(ran.load(), 0);
    for (const auto& operation : waiting)
        EXPECT_TRUE(operation->isFinished());
    waiting.clear();
    EXPECT_TRUE(watchedArgument.expired());
}

TEST_F(OperationQueueTest, AQueueMayBeDestroyedByItsOwnLastOperation)
{
    // Members go in reverse order: the queue first, then the marker that reports it.
    struct Owner {
        struct Marker {
            std::shared_ptr<std::promise<void>> promise;
            ~Marker()
            {
                if (promise)
                    promise->set_value();
            }
        } marker;
        OperationQueue queue{1};
    };
    auto destroyed = std::make_shared<std::promise<void>>();
    std::future<void> reported = destroyed->get_future();
    auto owner = std::make_shared<Owner>();
    owner->marker.promise = destroyed;
    owner->queue.addOperation(CallOperation::make([owner](CallOperation&) {}));
    owner.reset();
    EXPECT_TRUE(isReadyWithin(reported));
}

TEST_F(OperationQueueTest, AQueueToldNotToWaitGoesWhileItsOperationRunsAndTheOperationStillEnds)
{
    Blocker blocker;
    auto queue = std::make_unique<OperationQueue>(1);
    queue->setWaitsForRunningOperationsWhenDestroyed(false);
    const auto running = blocker.operation();
    queue->addOperation(running);
    ASSERT_TRUE(blocker.waitUntilStarted());

    // Lets the operation go should the destructor wait for it after all, so the test ends.
    std::atomic<bool> returned = false;
    std::atomic<bool> forced = false;
    std::thread watchdog([&] {
        if (!waitUntil([&] { return returned.load(); }, std::chrono::seconds(5))) {
            forced = true;
            blocker.release();
        }
    });
    queue.reset();
    returned = true;
    watchdog.join();
    EXPECT_FALSE(forced) << "destroying the queue waited for the running operation";
    EXPECT_FALSE(running->isFinished());

    blocker.release();
    EXPECT_TRUE(waitUntil([&] { return running->isFinished(); }));
}

// As the application object goes, an operation a queue left running is waited for: Qt's state
// would otherwise be torn down under it.
TEST_F(OperationQueueTest, TheThreadsOfAQueueThatDidNotWaitAreJoinedBeforeTheApplicationGoes)
{
    Blocker blocker;
    const auto running = blocker.operation();
    {
        OperationQueue queue(1);
        queue.setWaitsForRunningOperationsWhenDestroyed(false);
        queue.addOperation(running);
        ASSERT_TRUE(blocker.waitUntilStarted());
    }
    // Another party lets the operation end a moment later; the join waits for it.
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        blocker.release();
    });
    OperationQueue::joinAbandonedWorkers();
    EXPECT_TRUE(running->isFinished()) << "returned before the abandoned worker ended";
    releaser.join();
}

TEST_F(OperationQueueTest, BackgroundWorkersRunUnderTheIdlePolicyAndTheCallerKeepsItsOwn)
{
    const auto policy = [] { return ::sched_getscheduler(0) & ~SCHED_RESET_ON_FORK; };
    const int own = policy();
    for (const bool background : {false, true}) {
        OperationQueue queue(1);
        queue.setWorkersRunInBackground(background);
        std::atomic<int> seen = -1;
        queue.addOperation(CallOperation::make([&](CallOperation&) { seen = policy(); }));
        queue.waitUntilAllOperationsAreFinished();
        EXPECT_EQ(seen.load(), background ? SCHED_IDLE : own) << (background ? "background" : "normal");
    }
    EXPECT_EQ(policy(), own) << "the calling thread keeps its own scheduling";
}

// Qt's image code hands pieces of large work to its shared pool; a pool thread started by a
// background worker would inherit the idle policy, and the main thread would wait behind decodes
// for its pieces of every frame.
TEST_F(OperationQueueTest, ABackgroundWorkerNeverStartsSharedPoolThreadsOfItsOwnPriority)
{
    QThreadPool* pool = QThreadPool::globalInstance();
    // Ends the pool's threads, so that the next task needs a new one.
    ASSERT_TRUE(pool->waitForDone(int(std::chrono::milliseconds(waitLimit).count())));
    OperationQueue queue(1);
    queue.setWorkersRunInBackground(true);
    // As many pieces as the pool has threads, each held until all have started.
    struct Pieces {
        std::mutex mutex;
        std::vector<int> policies;
        std::atomic<int> arrived = 0;
    };
    const auto pieces = std::make_shared<Pieces>();
    const int count = pool->maxThreadCount();
    queue.addOperation(CallOperation::make([&](CallOperation&) {
        for (int i = 0; i < count; ++i) {
            pool->start([pieces, count] {
                ++pieces->arrived;
                waitUntil([&] { return pieces->arrived.load() == count; }, std::chrono::milliseconds(200));
                std::lock_guard lock(pieces->mutex);
                pieces->policies.push_back(::sched_getscheduler(0) & ~SCHED_RESET_ON_FORK);
            });
        }
    }));
    queue.waitUntilAllOperationsAreFinished();
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard lock(pieces->mutex);
        return int(pieces->policies.size()) == count;
    }));
    std::lock_guard lock(pieces->mutex);
    for (const int policy : pieces->policies)
        EXPECT_NE(policy, SCHED_IDLE) << "a shared pool thread runs in the background";
}
