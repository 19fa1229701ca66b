#include "platform/foundation/OperationQueue.h"

#include "platform/foundation/InternalInconsistency.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QtGlobal>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <sched.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

// The bookkeeping shared by the queue and its workers. Workers hold it too, so it outlives a
// queue destroyed on one of its own threads.
struct OperationQueue::State : std::enable_shared_from_this<State> {
    std::mutex mutex;
    std::condition_variable workAvailable;
    std::condition_variable allFinished;
    // In the order added.
    std::vector<std::shared_ptr<Operation>> waiting;
    std::vector<std::shared_ptr<Operation>> running;
    // Waiting, running, and cancelled ones being finished outside the lock.
    std::size_t unfinished = 0;
    int maxConcurrentOperationCount = defaultMaxConcurrentOperationCount;
    std::vector<std::thread> workers;
    // Set by each worker as it ends, in the order of `workers`.
    std::vector<std::shared_ptr<std::atomic<bool>>> workersEnded;
    std::size_t idleWorkers = 0;
    bool stopping = false;
    bool waitsForRunningWhenDestroyed = true;
    // Whether the workers move to the background as they start (setWorkersRunInBackground()).
    bool background = false;

    // The following expect `mutex` held.
    std::size_t limit() const;
    bool isWorkerThread() const;
    bool canStartOne() const { return !waiting.empty() && running.size() < limit(); }
    void spawnWorkersIfNeeded();
    std::shared_ptr<Operation> takeNext();

    void workerLoop();
    void finishCancelled(Operation* operation);
    void finishUnqueued(std::vector<std::shared_ptr<Operation>> operations);
};

namespace {
// The threads of queues destroyed without waiting for them: each is joined once it has ended, by
// the next queue that leaves threads here, or when the process ends.
class AbandonedWorkers {
public:
    ~AbandonedWorkers() { joinAll(); }

    void add(std::thread thread, std::shared_ptr<std::atomic<bool>> ended)
    {
        static std::once_flag joinedWithTheApplication;
        if (QCoreApplication::instance())
            std::call_once(joinedWithTheApplication,
                           [] { qAddPostRoutine(OperationQueue::joinAbandonedWorkers); });
        std::lock_guard lock(m_mutex);
        std::erase_if(m_threads, [](auto& entry) {
            if (!entry.second->load())
                return false;
            entry.first.join();
            return true;
        });
        m_threads.emplace_back(std::move(thread), std::move(ended));
    }

    void joinAll()
    {
        std::lock_guard lock(m_mutex);
        for (auto& [thread, ended] : m_threads)
            thread.join();
        m_threads.clear();
    }

    static AbandonedWorkers& shared()
    {
        static AbandonedWorkers workers;
        return workers;
    }

private:
    std::mutex m_mutex;
    std::vector<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> m_threads;
};

// Whether the calling thread was moved to the background (isBackgroundWorkerThread()).
thread_local bool runsInBackground = false;

// On Linux the scheduling policy and the niceness are each thread's own. The idle policy needs no
// privilege; the lowest niceness is the fallback should a sandbox refuse it.
void moveThisThreadToBackground()
{
    runsInBackground = true;
    const sched_param parameters{};
    if (::sched_setscheduler(0, SCHED_IDLE, &parameters) == 0)
        return;
    const int refused = errno;
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19) != 0)
        qWarning("OperationQueue: cannot move a worker to the background: %s, then %s",
                 std::strerror(refused), std::strerror(errno));
}

// Makes Qt's shared pool start all its threads now, from the calling thread, and keep them for
// good, so that none is ever started by a background worker (see setWorkersRunInBackground()). A
// pool starts a thread for a task only when none of its threads is free: each task holds its
// thread until all have one, or briefly should the pool be busy with work of its own. The caller
// does not wait.
void startSharedPoolThreadsHere()
{
    QThreadPool* pool = QThreadPool::globalInstance();
    if (!pool)
        return;
    pool->setExpiryTimeout(-1);
    const int count = pool->maxThreadCount();
    auto arrived = std::make_shared<std::atomic<int>>(0);
    for (int i = 0; i < count; ++i) {
        pool->start([arrived, count] {
            arrived->fetch_add(1);
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
            while (arrived->load() < count && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
    }
}

void runLoggingFailures(Operation& operation)
{
    try {
        operation.start();
    } catch (const std::exception& failure) {
        qWarning("*** %s raised on its queue: %s", qmObjectName(&operation).c_str(), failure.what());
    } catch (...) {
        qWarning("*** %s raised on its queue a failure of unknown type", qmObjectName(&operation).c_str());
    }
}
} // namespace

std::size_t OperationQueue::State::limit() const
{
    if (maxConcurrentOperationCount > 0)
        return static_cast<std::size_t>(maxConcurrentOperationCount);
    return std::max(2u, std::thread::hardware_concurrency());
}

bool OperationQueue::State::isWorkerThread() const
{
    const auto self = std::this_thread::get_id();
    return std::any_of(workers.begin(), workers.end(),
                       [self](const auto& worker) { return worker.get_id() == self; });
}

void OperationQueue::State::spawnWorkersIfNeeded()
{
    // Each idle worker will take one waiting operation; start threads for the rest, up to the limit.
    while (waiting.size() > idleWorkers && workers.size() < limit()) {
        auto ended = std::make_shared<std::atomic<bool>>(false);
        workersEnded.push_back(ended);
        workers.emplace_back([self = shared_from_this(), ended, background = background] {
            if (background)
                moveThisThreadToBackground();
            self->workerLoop();
            *ended = true;
        });
    }
}

std::shared_ptr<Operation> OperationQueue::State::takeNext()
{
    auto best = waiting.begin();
    for (auto it = waiting.begin(); it != waiting.end(); ++it) {
        if ((*it)->queuePriority() > (*best)->queuePriority())
            best = it;
    }
    auto operation = std::move(*best);
    waiting.erase(best);
    return operation;
}

void OperationQueue::State::workerLoop()
{
    std::unique_lock lock(mutex);
    for (;;) {
        ++idleWorkers;
        workAvailable.wait(lock, [this] { return stopping || canStartOne(); });
        --idleWorkers;
        if (stopping)
            return;
        auto operation = takeNext();
        running.push_back(operation);
        lock.unlock();

        runLoggingFailures(*operation);

        lock.lock();
        running.erase(std::find(running.begin(), running.end(), operation));
        workAvailable.notify_one();
        // Dropped before the operation counts as done, so that a drained queue holds nothing. It
        // may be the last reference to the queue's owner, and destroy the queue: not under our lock.
        lock.unlock();
        operation.reset();
        lock.lock();
        --unfinished;
        allFinished.notify_all();
    }
}

void OperationQueue::State::finishCancelled(Operation* operation)
{
    std::unique_lock lock(mutex);
    const auto it = std::find_if(waiting.begin(), waiting.end(),
                                 [operation](const auto& candidate) { return candidate.get() == operation; });
    if (it == waiting.end())
        return;
    std::vector<std::shared_ptr<Operation>> cancelled{std::move(*it)};
    waiting.erase(it);
    lock.unlock();
    finishUnqueued(std::move(cancelled));
}

void OperationQueue::State::finishUnqueued(std::vector<std::shared_ptr<Operation>> operations)
{
    // Cancelled operations only mark themselves finished when started.
    for (const auto& operation : operations)
        runLoggingFailures(*operation);
    const auto count = operations.size();
    operations.clear();
    std::lock_guard lock(mutex);
    unfinished -= count;
    allFinished.notify_all();
}

OperationQueue::OperationQueue(int maxConcurrentOperationCount)
    : m_state(std::make_shared<State>())
{
    m_state->maxConcurrentOperationCount =
        maxConcurrentOperationCount > 0 ? maxConcurrentOperationCount : defaultMaxConcurrentOperationCount;
}

OperationQueue::~OperationQueue()
{
    std::vector<std::shared_ptr<Operation>> abandoned;
    std::vector<std::shared_ptr<Operation>> running;
    std::vector<std::thread> workers;
    std::vector<std::shared_ptr<std::atomic<bool>>> ended;
    bool waits = true;
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
        abandoned.swap(m_state->waiting);
        running = m_state->running;
        workers.swap(m_state->workers);
        ended.swap(m_state->workersEnded);
        waits = m_state->waitsForRunningWhenDestroyed;
    }
    m_state->workAvailable.notify_all();
    for (const auto& operation : abandoned)
        operation->cancel();
    m_state->finishUnqueued(std::move(abandoned));
    for (const auto& operation : running)
        operation->cancel();
    running.clear();
    for (std::size_t i = 0; i < workers.size(); ++i) {
        std::thread& worker = workers[i];
        if (worker.get_id() == std::this_thread::get_id())
            worker.detach();
        else if (!waits)
            AbandonedWorkers::shared().add(std::move(worker), ended[i]);
        else
            worker.join();
    }
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation)
{
    QM_PARAMETER_ASSERT(operation != nullptr, "operation != nil");
    std::weak_ptr<State> weakState = m_state;
    const bool attached = operation->attachToQueue([weakState](Operation* cancelled) {
        if (auto state = weakState.lock())
            state->finishCancelled(cancelled);
    });
    QM_PARAMETER_ASSERT(attached, "!operation.isQueued && !operation.isExecuting && !operation.isFinished");

    std::unique_lock lock(m_state->mutex);
    ++m_state->unfinished;
    // A cancelled operation need not wait for a free slot to be finished.
    if (m_state->stopping || operation->isCancelled()) {
        lock.unlock();
        operation->cancel();
        m_state->finishUnqueued({std::move(operation)});
        return;
    }
    m_state->waiting.push_back(std::move(operation));
    m_state->spawnWorkersIfNeeded();
    m_state->workAvailable.notify_one();
}

void OperationQueue::cancelAllOperations()
{
    std::vector<std::shared_ptr<Operation>> operations;
    {
        std::lock_guard lock(m_state->mutex);
        operations = m_state->waiting;
        operations.insert(operations.end(), m_state->running.begin(), m_state->running.end());
    }
    for (const auto& operation : operations)
        operation->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished()
{
    std::unique_lock lock(m_state->mutex);
    QM_ASSERT(!m_state->isWorkerThread(), "An operation must not wait for its own queue to finish");
    m_state->allFinished.wait(lock, [this] { return m_state->unfinished == 0; });
}

std::size_t OperationQueue::operationCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->unfinished;
}

int OperationQueue::maxConcurrentOperationCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->maxConcurrentOperationCount;
}

void OperationQueue::setWaitsForRunningOperationsWhenDestroyed(bool waits)
{
    std::lock_guard lock(m_state->mutex);
    m_state->waitsForRunningWhenDestroyed = waits;
}

void OperationQueue::joinAbandonedWorkers()
{
    AbandonedWorkers::shared().joinAll();
}

bool OperationQueue::isBackgroundWorkerThread()
{
    return runsInBackground;
}

void OperationQueue::setWorkersRunInBackground(bool background)
{
    if (background)
        startSharedPoolThreadsHere();
    std::lock_guard lock(m_state->mutex);
    m_state->background = background;
}

void OperationQueue::setMaxConcurrentOperationCount(int count)
{
    std::lock_guard lock(m_state->mutex);
    m_state->maxConcurrentOperationCount = count > 0 ? count : defaultMaxConcurrentOperationCount;
    m_state->spawnWorkersIfNeeded();
    m_state->workAvailable.notify_all();
}
