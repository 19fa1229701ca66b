#pragma once

#include "platform/foundation/Operation.h"

#include <cstddef>
#include <memory>

// Runs operations on worker threads of its own, at most maxConcurrentOperationCount() at a time.
// With a count of 1 the queue is serial: one operation at a time, in the order they were added.
// Among the operations waiting for a free slot, a higher queue priority starts first, and equal
// priorities start in the order they were added. An operation cancelled before it started is
// finished without running its main().
//
// A failure (any exception) that leaves an operation's main() is written to the log and ends that
// operation only; the queue goes on with the next one.
//
// The threads are plain std::threads owned by the queue, not a shared pool: the queue's
// destructor and waitUntilAllOperationsAreFinished() must know exactly which threads are its
// own, a serial queue needs exactly one, and a pool shared with the rest of the process would
// let other work delay ours. Workers start when work arrives and sleep while there is none.
//
// Thread safety: every operation may be called from any thread. The queue's bookkeeping is
// guarded by one lock inside the queue; operations are started outside it. The queue keeps each
// operation alive (std::shared_ptr) from addOperation() until it has finished.
//
// Destroying the queue cancels every operation, finishes the waiting ones without running them
// and waits for the running ones to return. When the last reference to the queue's owner goes
// away inside one of the queue's own operations, the destructor runs on that worker thread,
// which cannot join itself: that one thread is left to end on its own, right after the
// operation returns (it touches nothing but the queue's shared bookkeeping).
// A queue whose operations keep everything they use alive themselves may be told not to wait
// (setWaitsForRunningOperationsWhenDestroyed(false)): its owner then goes at once, without waiting
// for work under way, and the threads still running are joined once their operations return, or
// at the latest when the process ends.
class OperationQueue {
public:
    // Lets the queue choose: as many threads as the machine has cores, and at least two.
    static constexpr int defaultMaxConcurrentOperationCount = -1;

    // A count of 0 or less means defaultMaxConcurrentOperationCount.
    explicit OperationQueue(int maxConcurrentOperationCount = defaultMaxConcurrentOperationCount);
    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;
    ~OperationQueue();

    // Queues `operation`. Adding an operation that is already on a queue, has started or has
    // finished is a programming error ("Invalid parameter not satisfying: ...").
    void addOperation(std::shared_ptr<Operation> operation);

    // Cancels every operation on the queue: the waiting ones finish without running, the running
    // ones are only told (Operation::isCancelled()).
    void cancelAllOperations();

    // Blocks until every operation on the queue has finished, including those added while
    // waiting. Calling it from one of this queue's own operations would wait for itself: that is
    // a programming error.
    void waitUntilAllOperationsAreFinished();

    // Operations added and not yet finished (waiting and executing).
    std::size_t operationCount() const;

    int maxConcurrentOperationCount() const;
    // A count of 0 or less means defaultMaxConcurrentOperationCount.
    void setMaxConcurrentOperationCount(int count);

    // Whether destroying the queue waits for the running operations to return (the default).
    void setWaitsForRunningOperationsWhenDestroyed(bool waits);

    // Whether the queue's threads are background work: they run under the scheduler's idle policy,
    // so any other thread of normal priority that wakes on their processor (the main thread due
    // to paint a frame, or the threads it hands pieces of a frame to) takes it from them at once,
    // however long they have run, and a processor running only them counts as free to a waking
    // thread. They still get every processor nothing else wants. Where the idle policy is refused,
    // they take the lowest niceness instead. Applies to threads started after the call; a thread
    // once in the background stays there (an unprivileged thread cannot come back).
    //
    // Turning it on also starts Qt's shared thread pool's threads from the calling thread and keeps
    // them: Qt hands large fills, smooth scaling and conversions to that pool, and a pool thread
    // takes the scheduling of the thread that starts it. Started by a background worker, it would
    // leave the main thread, which waits for its pieces of a frame, behind every decode.
    void setWorkersRunInBackground(bool background);
    // Whether the calling thread is a worker of a queue whose workers run in the background.
    static bool isBackgroundWorkerThread();

    // Waits for the threads of every queue destroyed without waiting for its running operations
    // to end. Called by itself as the application object goes (and as the process ends): an
    // operation still running then would find Qt's own state torn down under it.
    static void joinAbandonedWorkers();

private:
    struct State;
    std::shared_ptr<State> m_state;
};
