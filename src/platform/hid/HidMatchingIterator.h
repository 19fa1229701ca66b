#pragma once

#include "platform/hid/HidService.h"

#include <deque>
#include <functional>

// The first-match notification for input devices: every device present when it is armed and
// every one that appears later is queued here once; the callout says that more are waiting.
// The owner drains it with next(). Main thread only.
class HidMatchingIterator {
public:
    explicit HidMatchingIterator(std::function<void()> callout)
        : m_callout(std::move(callout))
    {}

    // The next matched service; nullptr when none is waiting.
    HidServicePtr next();

    // The backend's side.
    void add(HidServicePtr service, bool signal);

private:
    std::function<void()> m_callout;
    std::deque<HidServicePtr> m_services;
};

using HidMatchingIteratorPtr = std::shared_ptr<HidMatchingIterator>;
