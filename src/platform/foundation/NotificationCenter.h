#pragma once

#include "platform/foundation/Notification.h"
#include "platform/foundation/ObserverToken.h"

#include <functional>
#include <memory>
#include <string>

// Delivers notifications to the observers registered for their name and sender, synchronously,
// in the order the observers were added. Main thread only: a background job posts through
// RunLoop::postToMainThreadAndWait. Observers may add and remove observers, themselves
// included, while a post runs; those added during a post first hear the next one.
class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    static NotificationCenter& defaultCenter();

    // `name` empty: every notification; `object` nullptr: any sender. The observer stays
    // registered as long as the returned token.
    [[nodiscard]] ObserverToken addObserver(std::string name, const void* object, Handler handler);
    void removeObserver(ObserverToken& token);

    void post(std::string name, const void* object, NotificationUserInfo userInfo = {});
    void post(const Notification& notification);

    size_t observerCount() const;

private:
    std::shared_ptr<NotificationRegistry> m_registry;
};
