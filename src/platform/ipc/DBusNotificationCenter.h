#pragma once

#include "platform/ipc/DistributedNotificationCenter.h"

#include <QDBusConnection>

// Distributed notifications as one signal on a D-Bus connection (normally the session bus):
// interface "com.quillmoss.DistributedNotification", member "Posted", arguments (name, object,
// a{sv} dictionary), sent to everyone. Observers subscribe with an argument match on the name and
// the object, so the bus does the filtering. The centre only emits and receives signals: it
// never calls a service synchronously, so it cannot deadlock the thread serving the connection.
class DBusNotificationCenter : public DistributedNotificationCenter {
public:
    static constexpr const char* interface = "com.quillmoss.DistributedNotification";
    static constexpr const char* path = "/com/quillmoss/DistributedNotification";
    static constexpr const char* member = "Posted";

    explicit DBusNotificationCenter(QDBusConnection connection);

    ScopedRegistration addObserver(std::string name, std::string object, Handler handler) override;
    void post(const DistributedNotification& notification) override;
    bool isConnected() const override { return m_connection.isConnected(); }

private:
    QDBusConnection m_connection;
};
