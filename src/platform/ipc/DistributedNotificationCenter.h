#pragma once

#include "platform/foundation/ScopedRegistration.h"
#include "platform/ipc/DistributedNotification.h"

#include <functional>

// Posts notifications to every program of the session and hands those of the others (and its
// own) to the observers registered for their name and object. Delivery is asynchronous, on the
// main thread. Main thread only.
class DistributedNotificationCenter {
public:
    using Handler = std::function<void(const DistributedNotification&)>;

    virtual ~DistributedNotificationCenter() = default;

    // The session bus's centre, connected on first use. Without a session bus it posts and
    // delivers nothing.
    static DistributedNotificationCenter& defaultCenter();
    // Starts connecting to the session bus on a pool thread and returns at once, so the first
    // defaultCenter() finds the connection made while the caller did other work. Call after the
    // application object exists.
    static void connectInBackground();

    // `object` empty: any object. The observer stays registered as long as the registration.
    [[nodiscard]] virtual ScopedRegistration addObserver(std::string name, std::string object,
                                                         Handler handler) = 0;
    virtual void post(const DistributedNotification& notification) = 0;
    virtual bool isConnected() const = 0;
};
