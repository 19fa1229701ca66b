#pragma once

#include <QProcessEnvironment>
#include <QString>

// Whether the window system Qt is about to connect to answers, asked before the application
// object exists: without a display Qt's own start aborts the process with a core dump, where a
// desktop program should say so in one line and exit.
class DisplayCheck {
public:
    // Empty when a display answers (or the platform needs none, as offscreen); otherwise one
    // line saying what is missing and how to run without a screen. `platform` is the name given
    // with -platform, or empty when none was given.
    static QString problem(const QString& platform, const QProcessEnvironment& environment);

    // Whether an X server accepts a connection at `display` (a DISPLAY value such as ":0",
    // "unix:1.0", "host:0" or a socket path). Waits at most a few seconds for a remote host.
    static bool canConnectToX(const QString& display);
    // Whether a Wayland compositor listens at `display` (a WAYLAND_DISPLAY value).
    static bool canConnectToWayland(const QString& display, const QString& runtimeDirectory);
};
