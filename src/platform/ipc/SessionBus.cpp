#include "platform/ipc/SessionBus.h"

#include <QFile>
#include <QStringList>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A D-Bus address value: bytes other than these are written as %xx.
QString escapedAddressValue(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toPercentEncoding("/.*", "~"));
}

QString runtimeFolderBus(const QProcessEnvironment& environment)
{
    const QString folder = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    if (folder.isEmpty())
        return {};
    const QByteArray socket = QFile::encodeName(folder + QStringLiteral("/bus"));
    // Only the user's own bus: another user's socket there is not our session.
    struct stat info {};
    if (::stat(socket.constData(), &info) != 0 || !S_ISSOCK(info.st_mode) || info.st_uid != ::getuid())
        return {};
    return QStringLiteral("unix:path=") + escapedAddressValue(socket);
}
} // namespace

QString SessionBus::address(const QProcessEnvironment& environment)
{
    QStringList running;
    const QString given = environment.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    for (const QString& entry : given.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (!entry.startsWith(QLatin1String("autolaunch:")) && entry != QLatin1String(noBus))
            running << entry;
    }
    return running.isEmpty() ? runtimeFolderBus(environment) : running.join(QLatin1Char(';'));
}

void SessionBus::useOnlyARunningBus()
{
    const QString found = address(QProcessEnvironment::systemEnvironment());
    qputenv("DBUS_SESSION_BUS_ADDRESS", found.isEmpty() ? QByteArray(noBus) : found.toUtf8());
}

QDBusConnection SessionBus::connection()
{
    static const QString found = address(QProcessEnvironment::systemEnvironment());
    const QString name = QStringLiteral("zuzire-session-bus");
    if (found.isEmpty())
        return QDBusConnection(name);
    // Qt hands every later caller the connection made first under this name.
    return QDBusConnection::connectToBus(found, name);
}
