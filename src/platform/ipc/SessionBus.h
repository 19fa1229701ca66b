#pragma once

#include <QDBusConnection>
#include <QProcessEnvironment>
#include <QString>

// The user's session bus, only where one runs: the address in DBUS_SESSION_BUS_ADDRESS, else the
// socket of the session's own bus in the runtime folder ($XDG_RUNTIME_DIR/bus). Never one started
// for us: without a bus, libdbus launches a daemon of its own on an X display (autolaunch), and
// that daemon outlives the program.
class SessionBus {
public:
    // The value DBUS_SESSION_BUS_ADDRESS holds when no bus runs: libdbus knows no such transport,
    // so it fails at once instead of launching a bus.
    static constexpr const char* noBus = "disabled:";

    // The address of the running bus, without the entries that would launch one; empty when no
    // bus runs.
    static QString address(const QProcessEnvironment& environment);

    // Sets DBUS_SESSION_BUS_ADDRESS to address(), or to noBus, so that nothing in the process (Qt's
    // own accessibility bridge among it) nor its children launches a bus. Call first in main,
    // before any thread starts.
    static void useOnlyARunningBus();

    // The connection to address(), made once and shared; not connected when no bus runs. Any
    // thread.
    static QDBusConnection connection();
};
