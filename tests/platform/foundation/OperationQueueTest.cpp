#include "platform/foundation/OperationQueue.h"

#include "platform/foundation/InternalInconsistency.h"

#include <atomic>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <latch>
#include <mutex>
#include <thread>
#include <vector>

namespace {
// An operation whose work is a function of the operation itself, so a body can look at its own
// cancellation.
class CallOperation : public Operation {
public:
    explicit CallOperation(std::function<void(CallOperation&)> body)
        : m_body(std::move(body))
    {}

    static std::shared_ptr<CallOperation> make(std::function<void(CallOperation&)> body,
                                               QueuePriority priority = QueuePriority::Normal)
    {
        auto operation = std::make_shared<CallOperation>(std::move(body));
        operation->setQueuePriority(priority);
        return operation;
    }

protected:
    void main() override { m_body(*this); }

private:
    std::function<void(CallOperation&)> m_body;
};

// Holds a queue's worker until released, and tells when it has started.
struct Blocker {
    std::promise<void> started;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();

    std::shared_ptr<CallOperation> operation()
    {
        return CallOperation::make([this](CallOperation&) {
            started.set_value();
            released.wait();
        });
    }
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

TEST(OperationQueueTest, SerialQueueRunsOneAtATimeInTheOrderAdded)
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

TEST(OperationQueueTest, ConcurrentQueueRunsOperationsAtTheSameTimeAndDrains)
{
    OperationQueue queue(3);
    // The first three wait for one another: only concurrent running lets them end.
    std::latch firstStarted(3);
    std::atomic<int> finished = 0;
    std::vector<std::shared_ptr<CallOperation>> operations;
    for (int i = 0; i < 200; ++i) {
        operations.push_back(CallOperation::make([&, i](CallOperation&) {
            if (i < 3)
                firstStarted.arrive_and_wait();
            ++finished;
        }));
        queue.addOperation(operations.back());
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(finished.load(), 200);
    EXPECT_EQ(queue.operationCount(), 0u);
    for (const auto& operation : operations)
        EXPECT_TRUE(operation->isFinished());
}

TEST(OperationQueueTest, HigherPriorityStartsFirstAmongTheWaiting)
{
    using Priority = Operation::QueuePriority;
    OperationQueue queue(1);
    Blocker blocker;
    queue.addOperation(blocker.operation());
    blocker.started.get_future().wait();

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
    blocker.release.set_value();
    queue.waitUntilAllOperationsAreFinished();

    EXPECT_EQ(log.values(), (std::vector<int>{5, 3, 6, 2, 4, 1}));
}

TEST(OperationQueueTest, CancelledOperationsNeverRunAndFinishAtOnce)
{
    OperationQueue queue(1);
    Blocker blocker;
    auto running = blocker.operation();
    queue.addOperation(running);
    blocker.started.get_future().wait();

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

    blocker.release.set_value();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 0);
    EXPECT_TRUE(running->isFinished());
    EXPECT_FALSE(running->isExecuting());
}

TEST(OperationQueueTest, AFailureEndsOnlyItsOwnOperation)
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

TEST(OperationQueueTest, MisuseIsAProgrammingError)
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

TEST(OperationQueueTest, DestroyingAQueueCancelsWhatWaitsAndJoinsWhatRuns)
{
    auto queue = std::make_unique<OperationQueue>(1);
    std::promise<void> started;
    bool runningSawCancel = false;
    // Spins only until the destructor cancels it; it then returns.
    auto running = CallOperation::make([&](CallOperation& self) {
        started.set_value();
        while (!self.isCancelled())
            std::this_thread::yield();
        runningSawCancel = true;
    });
    queue->addOperation(running);
    started.get_future().wait();

    std::atomic<int> ran = 0;
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

TEST(OperationQueueTest, AQueueMayBeDestroyedByItsOwnLastOperation)
{
    std::promise<void> destroyed;
    // Members go in reverse order: the queue first, then the marker that reports it.
    struct Owner {
        struct Marker {
            std::promise<void>* promise = nullptr;
            ~Marker()
            {
                if (promise)
                    promise->set_value();
            }
        } marker;
        OperationQueue queue{1};
    };
    auto owner = std::make_shared<Owner>();
    owner->marker.promise = &destroyed;
    owner->queue.addOperation(CallOperation::make([owner](CallOperation&) {}));
    owner.reset();
    destroyed.get_future().wait();
}
