#pragma once

#include "support/WaitUntil.h"

#include <QSemaphore>
#include <QThreadPool>

// Keeps every thread of Qt's shared thread pool busy until it is released (or leaves its scope),
// so that any work a call hands to that pool cannot start: a call that waits for such work does
// not return while the pool is blocked.
class BlockedGlobalPool {
public:
    BlockedGlobalPool()
    {
        QThreadPool* pool = QThreadPool::globalInstance();
        m_threads = pool->maxThreadCount();
        for (int i = 0; i < m_threads; ++i) {
            pool->start([this] {
                m_started.release();
                m_release.acquire();
            });
        }
        m_isBlocked = m_started.tryAcquire(m_threads, int(std::chrono::milliseconds(waitLimit).count()));
    }

    ~BlockedGlobalPool() { release(); }

    BlockedGlobalPool(const BlockedGlobalPool&) = delete;
    BlockedGlobalPool& operator=(const BlockedGlobalPool&) = delete;

    // Whether every thread of the pool took a blocking task.
    bool isBlocked() const { return m_isBlocked; }

    void release()
    {
        if (m_isReleased)
            return;
        m_isReleased = true;
        m_release.release(m_threads);
        QThreadPool::globalInstance()->waitForDone();
    }

private:
    int m_threads = 0;
    bool m_isBlocked = false;
    bool m_isReleased = false;
    QSemaphore m_started;
    QSemaphore m_release;
};
