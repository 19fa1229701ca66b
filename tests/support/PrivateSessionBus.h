#pragma once

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <functional>
#include <memory>

// A session bus of the test's own, run by dbus-daemon for as long as the object lives, so tests
// never see or disturb the user's session. isRunning() is false when dbus-daemon is missing or
// does not start; skipReason() then says why.
class PrivateSessionBus {
public:
    PrivateSessionBus()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) {
            m_skipReason = "dbus-daemon is not installed (Debian package dbus-daemon)";
            return;
        }
        m_daemon.start(daemon, {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
        if (!m_daemon.waitForStarted(5000)) {
            m_skipReason = "dbus-daemon did not start";
            return;
        }
        QByteArray line;
        QElapsedTimer waited;
        waited.start();
        while (!line.contains('\n') && waited.elapsed() < 10000 && m_daemon.state() == QProcess::Running) {
            m_daemon.waitForReadyRead(200);
            line += m_daemon.readAllStandardOutput();
        }
        m_address = QString::fromUtf8(line).trimmed();
        if (m_address.isEmpty())
            m_skipReason = "dbus-daemon gave no address";
    }

    ~PrivateSessionBus()
    {
        for (const QString& name : m_connections)
            QDBusConnection::disconnectFromBus(name);
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.terminate();
            if (!m_daemon.waitForFinished(5000))
                m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }

    bool isRunning() const { return !m_address.isEmpty(); }
    const char* skipReason() const { return m_skipReason; }

    // A new connection to this bus, closed with the bus.
    QDBusConnection connect()
    {
        const QString name = QStringLiteral("zuzire-test-%1").arg(m_connections.size());
        m_connections.push_back(name);
        return QDBusConnection::connectToBus(m_address, name);
    }

    // Returns once the bus has applied every subscription `connection` asked for: it handles a
    // connection's messages in order, so a call to the bus itself coming back proves it.
    static bool sync(QDBusConnection connection)
    {
        return connection.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus"));
    }

    // Runs the event loop until `done` holds or five seconds pass; answers `done`.
    static bool waitFor(const std::function<bool()>& done)
    {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_connections;
    const char* m_skipReason = "";
};
