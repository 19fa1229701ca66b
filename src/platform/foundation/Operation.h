#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

// One unit of queueable work: subclasses put the work in main(). An operation runs once, either
// on an OperationQueue or by calling start() directly.
//
// Thread safety: unlike most objects of the program, an operation is shared between the thread
// that creates and queues it and the queue's worker thread. cancel(), isCancelled(),
// isExecuting(), isFinished(), queuePriority(), setQueuePriority() and waitUntilFinished() may be
// called from any thread at any time. Whatever main() writes is safe to read on another thread
// once isFinished() has returned true or waitUntilFinished() has returned: finishing happens under
// the same lock those read.
class Operation {
public:
    // Among the operations waiting on a queue, a higher priority starts first.
    enum class QueuePriority : int { VeryLow = -8, Low = -4, Normal = 0, High = 4, VeryHigh = 8 };

    Operation() = default;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;
    virtual ~Operation() = default;

    // Runs main() on the calling thread, unless the operation was cancelled first: then it is only
    // marked finished. A failure raised by main() propagates after the operation is marked finished.
    // Starting an operation twice, or one that is already executing, is a programming error.
    void start();

    // Asks the operation to stop. One that has not started never runs: if it waits on a queue it
    // is finished at once; one already executing runs on, and main() may look at isCancelled().
    void cancel();

    bool isCancelled() const { return m_cancelled.load(); }
    bool isExecuting() const;
    bool isFinished() const;

    QueuePriority queuePriority() const { return m_queuePriority.load(); }
    // Takes effect for the next choice the queue makes among its waiting operations.
    void setQueuePriority(QueuePriority priority) { m_queuePriority.store(priority); }

    // Blocks the caller until the operation has finished (run, failed or cancelled before start).
    void waitUntilFinished() const;

protected:
    // The work. Runs on the thread that started the operation: a queue's worker for queued ones.
    virtual void main() = 0;

private:
    friend class OperationQueue;
    enum class State { Ready, Executing, Finished };

    // Called by a queue when the operation is added. Refuses (false) an operation that is already
    // on a queue, has started or has finished. `cancellationHandler` is told about a later cancel().
    bool attachToQueue(std::function<void(Operation*)> cancellationHandler);
    void markFinished();
    // Expects m_mutex held.
    void finishLocked();

    std::atomic<bool> m_cancelled = false;
    std::atomic<QueuePriority> m_queuePriority = QueuePriority::Normal;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_finishedCondition;
    State m_state = State::Ready;
    bool m_queued = false;
    std::function<void(Operation*)> m_cancellationHandler;
};
