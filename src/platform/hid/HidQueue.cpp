#include "platform/hid/HidQueue.h"

#include <algorithm>

HidQueue::HidQueue(size_t depth)
    : m_depth(std::max<size_t>(depth, 1))
{}

void HidQueue::stop()
{
    m_started = false;
    m_events.clear();
}

bool HidQueue::getNextEvent(HidEvent& event)
{
    if (m_events.empty())
        return false;
    event = m_events.front();
    m_events.pop_front();
    return true;
}

void HidQueue::enqueue(const HidEvent& event)
{
    if (!m_started || !hasElement(event.cookie))
        return;
    // A full queue is handed to its reader first: dropping an event could drop a release and
    // leave a button down for good.
    if (m_events.size() >= m_depth)
        signal();
    if (!m_started)
        return;
    if (m_events.size() >= m_depth)
        m_events.pop_front(); // a reader that does not drain loses the oldest, never the newest
    m_events.push_back(event);
    m_highWaterMark = std::max(m_highWaterMark, m_events.size());
}

void HidQueue::signal()
{
    if (m_started && !m_events.empty() && m_callout) {
        // Copied: the reader may replace or clear the callout while it runs.
        auto callout = m_callout;
        callout();
    }
}
