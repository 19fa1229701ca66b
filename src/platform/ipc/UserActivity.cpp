#include "platform/ipc/UserActivity.h"

#include "platform/ipc/SessionBus.h"

#include <QDBusConnection>
#include <QDBusMessage>

void UserActivity::report()
{
    QDBusConnection bus = SessionBus::connection();
    if (!bus.isConnected())
        return;
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/ScreenSaver"),
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("SimulateUserActivity"));
    // Starting a screen saver just to tell it the user is here would defeat the purpose.
    message.setAutoStartService(false);
    // send() queues the call and returns; the reply, if any, is dropped.
    bus.send(message);
}
