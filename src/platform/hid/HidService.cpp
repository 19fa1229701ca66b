#include "platform/hid/HidService.h"

#include <vector>

HidService::HidService(uint32_t serviceID)
    : m_serviceID(serviceID)
{}

HidService::~HidService() = default;

ScopedRegistration HidService::addInterestNotification(InterestHandler handler)
{
    const uint64_t id = m_nextHandlerID++;
    m_handlers.emplace(id, std::move(handler));
    // Services are shared: a registration that outlives its service does nothing.
    std::weak_ptr<HidService> weak = weak_from_this();
    return ScopedRegistration([weak, id] {
        if (auto service = weak.lock())
            service->m_handlers.erase(id);
    });
}

void HidService::deliverMessage(uint32_t messageType)
{
    if (messageType == messageServiceIsTerminated) {
        if (m_terminated)
            return;
        m_terminated = true;
    }
    auto keepAlive = weak_from_this().lock();
    std::vector<uint64_t> ids;
    for (const auto& entry : m_handlers)
        ids.push_back(entry.first);
    // A handler may remove itself or others: each is looked up again before it is called.
    for (uint64_t id : ids) {
        auto it = m_handlers.find(id);
        if (it == m_handlers.end())
            continue;
        auto handler = it->second;
        handler(messageType);
    }
}
