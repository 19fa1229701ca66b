#include "platform/foundation/Operation.h"

#include "platform/foundation/InternalInconsistency.h"

void Operation::start()
{
    {
        std::lock_guard lock(m_mutex);
        QM_ASSERT(m_state == State::Ready, "Operation must be started only once");
        if (m_cancelled.load()) {
            finishLocked();
            return;
        }
        m_state = State::Executing;
    }
    try {
        main();
    } catch (...) {
        markFinished();
        throw;
    }
    markFinished();
}

void Operation::cancel()
{
    m_cancelled.store(true);
    std::function<void(Operation*)> handler;
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Ready)
            handler = m_cancellationHandler;
    }
    // Outside our lock: the queue takes its own lock and may finish us.
    if (handler)
        handler(this);
}

bool Operation::isExecuting() const
{
    std::lock_guard lock(m_mutex);
    return m_state == State::Executing;
}

bool Operation::isFinished() const
{
    std::lock_guard lock(m_mutex);
    return m_state == State::Finished;
}

void Operation::waitUntilFinished() const
{
    std::unique_lock lock(m_mutex);
    m_finishedCondition.wait(lock, [this] { return m_state == State::Finished; });
}

bool Operation::attachToQueue(std::function<void(Operation*)> cancellationHandler)
{
    std::lock_guard lock(m_mutex);
    if (m_queued || m_state != State::Ready)
        return false;
    m_queued = true;
    m_cancellationHandler = std::move(cancellationHandler);
    return true;
}

void Operation::markFinished()
{
    std::lock_guard lock(m_mutex);
    finishLocked();
}

void Operation::finishLocked()
{
    m_state = State::Finished;
    m_cancellationHandler = nullptr;
    m_finishedCondition.notify_all();
}
