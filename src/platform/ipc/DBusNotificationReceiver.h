#pragma once

#include "platform/ipc/DistributedNotificationCenter.h"

#include <QDBusMessage>
#include <QObject>

// One observer's end of the bus: checks each signal's shape and filter before its handler sees
// it, so a malformed or foreign signal is dropped here.
class DBusNotificationReceiver : public QObject {
    Q_OBJECT

public:
    DBusNotificationReceiver(std::string name, std::string object,
                             DistributedNotificationCenter::Handler handler);

    // The notification a signal carries; false when it is malformed.
    static bool decode(const QDBusMessage& message, DistributedNotification& notification);

    // Ends the registration: the handler is never called again, and the receiver is deleted now
    // or, when its handler is running, as soon as that returns.
    void retire();

public slots:
    void handle(const QDBusMessage& message);

private:
    std::string m_name;
    std::string m_object;
    DistributedNotificationCenter::Handler m_handler;
    bool m_delivering = false;
    bool m_retired = false;
};
