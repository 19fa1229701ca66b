#pragma once

#include "remote/RemoteScheduler.h"

#include <map>
#include <memory>

// Timers that fire only when the test moves time on.
class ManualRemoteScheduler : public RemoteScheduler {
public:
    std::function<void()> schedule(double seconds, std::function<void()> call) override
    {
        const uint64_t id = m_nextID++;
        m_pending.emplace(id, Pending{m_now + seconds, std::move(call)});
        auto alive = m_alive;
        return [this, alive, id] {
            if (*alive)
                m_pending.erase(id);
        };
    }

    ~ManualRemoteScheduler() override { *m_alive = false; }

    // Fires, in time order, every call due by now + `seconds`.
    void advance(double seconds)
    {
        const double until = m_now + seconds;
        for (;;) {
            auto next = m_pending.end();
            for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
                if (it->second.at <= until + 1e-9 &&
                    (next == m_pending.end() || it->second.at < next->second.at))
                    next = it;
            }
            if (next == m_pending.end())
                break;
            m_now = std::max(m_now, next->second.at);
            auto call = std::move(next->second.call);
            m_pending.erase(next);
            call();
        }
        m_now = until;
    }

    size_t pendingCount() const { return m_pending.size(); }
    double now() const { return m_now; }

private:
    struct Pending {
        double at;
        std::function<void()> call;
    };
    double m_now = 0;
    uint64_t m_nextID = 1;
    std::map<uint64_t, Pending> m_pending;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
