#include "platform/foundation/NotificationCenter.h"

#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/MainThread.h"
#include "platform/foundation/NotificationRegistry.h"

NotificationCenter::NotificationCenter()
    : m_registry(std::make_shared<NotificationRegistry>())
{}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter()
{
    QM_CASSERT(isMainThread(), "NotificationCenter", "Main thread only!");
    static NotificationCenter center;
    return center;
}

ObserverToken NotificationCenter::addObserver(std::string name, const void* object, Handler handler)
{
    QM_ASSERT(isMainThread(), "Main thread only!");
    QM_PARAMETER_ASSERT(static_cast<bool>(handler), "handler");
    return ObserverToken(m_registry, m_registry->add(std::move(name), object, std::move(handler)));
}

void NotificationCenter::removeObserver(ObserverToken& token)
{
    QM_ASSERT(isMainThread(), "Main thread only!");
    token.remove();
}

void NotificationCenter::post(std::string name, const void* object, NotificationUserInfo userInfo)
{
    post(Notification{std::move(name), object, std::move(userInfo)});
}

void NotificationCenter::post(const Notification& notification)
{
    QM_ASSERT(isMainThread(), "Main thread only!");
    // The entries are held for the whole post, so an observer removed meanwhile is skipped
    // rather than called through a dangling handler.
    const auto entries = m_registry->matching(notification.name, notification.object);
    for (const auto& entry : entries) {
        if (!entry->removed)
            entry->handler(notification);
    }
}

size_t NotificationCenter::observerCount() const
{
    return m_registry->size();
}
