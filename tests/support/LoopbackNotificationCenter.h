#pragma once

#include "platform/ipc/DistributedNotificationCenter.h"

#include <deque>
#include <map>
#include <memory>
#include <vector>

// Distributed notifications within one process: posts wait until the test delivers them, as
// the bus delivers them later, and every post is kept for inspection.
class LoopbackNotificationCenter : public DistributedNotificationCenter {
public:
    ~LoopbackNotificationCenter() override { *m_alive = false; }

    ScopedRegistration addObserver(std::string name, std::string object, Handler handler) override
    {
        const uint64_t id = m_nextID++;
        m_observers.emplace(id, Observer{std::move(name), std::move(object), std::move(handler)});
        auto alive = m_alive;
        return ScopedRegistration([this, alive, id] {
            if (*alive)
                m_observers.erase(id);
        });
    }

    void post(const DistributedNotification& notification) override
    {
        m_posted.push_back(notification);
        m_pending.push_back(notification);
    }

    bool isConnected() const override { return true; }

    // Delivers what is waiting, and what those deliveries post, up to `limit` notifications.
    void deliver(size_t limit = 1000)
    {
        while (!m_pending.empty() && limit-- > 0) {
            DistributedNotification notification = std::move(m_pending.front());
            m_pending.pop_front();
            deliverNow(notification);
        }
    }

    // Hands one notification to the observers at once, as if another program had posted it.
    void deliverNow(const DistributedNotification& notification)
    {
        std::vector<uint64_t> ids;
        for (const auto& [id, observer] : m_observers) {
            if (observer.name == notification.name &&
                (observer.object.empty() || observer.object == notification.object))
                ids.push_back(id);
        }
        for (uint64_t id : ids) {
            auto it = m_observers.find(id);
            if (it == m_observers.end())
                continue;
            auto handler = it->second.handler;
            handler(notification);
        }
    }

    std::vector<DistributedNotification>& posted() { return m_posted; }
    size_t observerCount() const { return m_observers.size(); }

private:
    struct Observer {
        std::string name;
        std::string object;
        Handler handler;
    };
    uint64_t m_nextID = 1;
    std::map<uint64_t, Observer> m_observers;
    std::deque<DistributedNotification> m_pending;
    std::vector<DistributedNotification> m_posted;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
