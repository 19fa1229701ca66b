#pragma once

#include "platform/hid/HidElement.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <set>

// The event queue of one opened device: the (cookie, value) pairs of the elements added to it,
// in arrival order, at most `depth` of them. The device calls the callout on the main thread
// whenever events are waiting, and before the queue would overflow, so the reader drains it
// and no event is lost to a full queue. Main thread only.
class HidQueue {
public:
    explicit HidQueue(size_t depth);

    size_t depth() const { return m_depth; }
    void addElement(uint32_t cookie) { m_cookies.insert(cookie); }
    bool hasElement(uint32_t cookie) const { return m_cookies.count(cookie) != 0; }
    void removeElement(uint32_t cookie) { m_cookies.erase(cookie); }

    void setEventCallout(std::function<void()> callout) { m_callout = std::move(callout); }
    // A stopped queue takes no events and forgets those it held.
    void start() { m_started = true; }
    void stop();
    bool isStarted() const { return m_started; }

    // The oldest event; false when the queue is empty.
    bool getNextEvent(HidEvent& event);
    size_t size() const { return m_events.size(); }
    // The most events the queue has held at once since it was made.
    size_t highWaterMark() const { return m_highWaterMark; }

    // The device's side: queues an event of an added element of a started queue.
    void enqueue(const HidEvent& event);
    // Tells the reader that events are waiting.
    void signal();

private:
    size_t m_depth;
    std::set<uint32_t> m_cookies;
    std::deque<HidEvent> m_events;
    std::function<void()> m_callout;
    bool m_started = false;
    size_t m_highWaterMark = 0;
};
