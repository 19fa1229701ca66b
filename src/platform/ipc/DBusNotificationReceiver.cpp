#include "platform/ipc/DBusNotificationReceiver.h"

#include "platform/ipc/DBusValues.h"

DBusNotificationReceiver::DBusNotificationReceiver(std::string name, std::string object,
                                                   DistributedNotificationCenter::Handler handler)
    : m_name(std::move(name))
    , m_object(std::move(object))
    , m_handler(std::move(handler))
{}

bool DBusNotificationReceiver::decode(const QDBusMessage& message, DistributedNotification& notification)
{
    const QVariantList arguments = message.arguments();
    if (message.type() != QDBusMessage::SignalMessage || arguments.size() != 3)
        return false;
    if (arguments[0].metaType().id() != QMetaType::QString ||
        arguments[1].metaType().id() != QMetaType::QString)
        return false;
    notification.name = arguments[0].toString().toStdString();
    notification.object = arguments[1].toString().toStdString();
    notification.userInfo = DBusValues::dictionaryFromVariant(arguments[2]);
    return !notification.name.empty();
}

void DBusNotificationReceiver::handle(const QDBusMessage& message)
{
    DistributedNotification notification;
    if (!decode(message, notification))
        return;
    // The bus filters already; a signal sent straight to this connection skips its rules.
    if (notification.name != m_name || (!m_object.empty() && notification.object != m_object))
        return;
    if (!m_handler || m_delivering)
        return;
    m_delivering = true;
    // Copied: the handler may end this very registration.
    auto handler = m_handler;
    handler(notification);
    m_delivering = false;
    if (m_retired)
        delete this;
}

void DBusNotificationReceiver::retire()
{
    m_handler = nullptr;
    m_retired = true;
    if (!m_delivering)
        delete this;
}
