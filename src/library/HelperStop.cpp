#include "library/HelperStop.h"

#include <csignal>

bool HelperStop::attach(pid_t group)
{
    std::lock_guard lock(m_mutex);
    if (m_stopped) {
        ::kill(-group, SIGKILL);
        return false;
    }
    m_group = group;
    return true;
}

void HelperStop::detach()
{
    {
        std::lock_guard lock(m_mutex);
        m_group = 0;
    }
    m_detached.notify_all();
}

bool HelperStop::stop(std::chrono::milliseconds grace)
{
    std::unique_lock lock(m_mutex);
    m_stopped = true;
    if (m_group == 0)
        return false;
    // A script may clean up on SIGTERM; one that ignores it is not waited for.
    if (!signalAndWait(lock, SIGTERM, grace))
        signalAndWait(lock, SIGKILL, grace);
    return true;
}

bool HelperStop::isStopped() const
{
    std::lock_guard lock(m_mutex);
    return m_stopped;
}

bool HelperStop::signalAndWait(std::unique_lock<std::mutex>& lock, int signalNumber,
                               std::chrono::milliseconds grace)
{
    if (m_group != 0)
        ::kill(-m_group, signalNumber);
    return m_detached.wait_for(lock, grace, [this] { return m_group == 0; });
}
