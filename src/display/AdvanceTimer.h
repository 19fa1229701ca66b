#pragma once

#include <functional>
#include <memory>

class QTimer;

// A repeating timer on the main thread's event loop: it calls its function every `interval`
// seconds until it is destroyed, which invalidates it. Main thread only.
class AdvanceTimer {
public:
    AdvanceTimer(double interval, std::function<void()> fire);
    ~AdvanceTimer();
    AdvanceTimer(const AdvanceTimer&) = delete;
    AdvanceTimer& operator=(const AdvanceTimer&) = delete;

    // Seconds.
    double interval() const { return m_interval; }
    bool isActive() const;

    // Fires as the event loop would, without waiting for it.
    void fireForTesting() { m_fire(); }

private:
    double m_interval;
    std::function<void()> m_fire;
    std::unique_ptr<QTimer> m_timer;
};
