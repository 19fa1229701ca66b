#include "platform/foundation/ObserverToken.h"

#include "platform/foundation/NotificationRegistry.h"

#include <utility>

ObserverToken::ObserverToken(std::weak_ptr<NotificationRegistry> registry, uint64_t id)
    : m_registry(std::move(registry))
    , m_id(id)
{}

ObserverToken::~ObserverToken()
{
    remove();
}

ObserverToken::ObserverToken(ObserverToken&& other) noexcept
    : m_registry(std::move(other.m_registry))
    , m_id(std::exchange(other.m_id, 0))
{}

ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept
{
    if (this != &other) {
        remove();
        m_registry = std::move(other.m_registry);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

void ObserverToken::remove()
{
    if (auto registry = m_registry.lock())
        registry->remove(m_id);
    m_registry.reset();
    m_id = 0;
}

bool ObserverToken::isRegistered() const
{
    return m_id != 0 && !m_registry.expired();
}
