#include "library/PendingRatings.h"

void PendingRatings::queued()
{
    std::lock_guard lock(m_mutex);
    ++m_notWritten;
}

bool PendingRatings::beginWrite()
{
    std::lock_guard lock(m_mutex);
    if (m_givenUp || m_helperStop.isStopped())
        return false;
    m_writing = true;
    return true;
}

void PendingRatings::endWrite(RatingHelper::Outcome outcome)
{
    {
        std::lock_guard lock(m_mutex);
        m_writing = false;
        if (outcome == RatingHelper::Outcome::TimedOut && m_quitting)
            m_givenUp = true;
        if (outcome != RatingHelper::Outcome::Stopped)
            --m_notWritten;
    }
    m_writeEnded.notify_all();
}

void PendingRatings::beginQuitting()
{
    std::lock_guard lock(m_mutex);
    m_quitting = true;
}

std::size_t PendingRatings::notWritten() const
{
    std::lock_guard lock(m_mutex);
    return m_notWritten;
}

bool PendingRatings::isGivenUp() const
{
    std::lock_guard lock(m_mutex);
    return m_givenUp;
}

std::size_t PendingRatings::stop(std::chrono::milliseconds grace)
{
    m_helperStop.stop(grace);
    std::unique_lock lock(m_mutex);
    m_writeEnded.wait_for(lock, grace, [this] { return !m_writing; });
    return m_notWritten;
}
