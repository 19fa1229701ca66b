#include "platform/ipc/DBusNotificationCenter.h"

#include "platform/ipc/DBusNotificationReceiver.h"
#include "platform/ipc/DBusValues.h"
#include "platform/ipc/SessionBus.h"

#include <QDBusMessage>
#include <QPointer>
#include <QThreadPool>

namespace {
const QString signature = QStringLiteral("ssa{sv}");
} // namespace

DistributedNotificationCenter& DistributedNotificationCenter::defaultCenter()
{
    // Never destroyed: the bus connection must not be torn down after the application object.
    static auto* center = [] {
        auto* made = new DBusNotificationCenter(SessionBus::connection());
        if (!made->isConnected())
            qInfo("No session bus: remote-control notifications between programs are off.");
        return made;
    }();
    return *center;
}

void DistributedNotificationCenter::connectInBackground()
{
    QThreadPool::globalInstance()->start([] { SessionBus::connection(); });
}

DBusNotificationCenter::DBusNotificationCenter(QDBusConnection connection)
    : m_connection(std::move(connection))
{}

ScopedRegistration DBusNotificationCenter::addObserver(std::string name, std::string object, Handler handler)
{
    if (!m_connection.isConnected())
        return {};
    QStringList argumentMatch{QString::fromStdString(name)};
    if (!object.empty())
        argumentMatch.push_back(QString::fromStdString(object));
    auto* receiver = new DBusNotificationReceiver(std::move(name), std::move(object), std::move(handler));
    const bool connected = m_connection.connect(
        QString(), QString::fromLatin1(path), QString::fromLatin1(interface), QString::fromLatin1(member),
        argumentMatch, signature, receiver, SLOT(handle(QDBusMessage)));
    if (!connected) {
        delete receiver;
        return {};
    }
    QPointer<DBusNotificationReceiver> guard(receiver);
    QDBusConnection connection = m_connection;
    return ScopedRegistration([connection, argumentMatch, guard]() mutable {
        if (!guard)
            return;
        connection.disconnect(QString(), QString::fromLatin1(path), QString::fromLatin1(interface),
                              QString::fromLatin1(member), argumentMatch, signature, guard.data(),
                              SLOT(handle(QDBusMessage)));
        guard->retire();
    });
}

void DBusNotificationCenter::post(const DistributedNotification& notification)
{
    if (!m_connection.isConnected())
        return;
    QDBusMessage message = QDBusMessage::createSignal(
        QString::fromLatin1(path), QString::fromLatin1(interface), QString::fromLatin1(member));
    message << QString::fromStdString(notification.name) << QString::fromStdString(notification.object)
            << DBusValues::toVariantMap(notification.userInfo);
    // Queued and sent by the event loop; nothing waits for a reply.
    m_connection.send(message);
}
