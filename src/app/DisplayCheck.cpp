#include "app/DisplayCheck.h"

#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
constexpr int remoteTimeoutMs = 3000;
const QString xvfbHint = QStringLiteral("; to run without a screen: xvfb-run -a zuzire");

bool connectUnix(const QByteArray& path, bool abstract)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const qsizetype offset = abstract ? 1 : 0;
    if (path.size() + offset >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path + offset, path.constData(), size_t(path.size()));
    // Never blocks: a server whose backlog is full is there all the same.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(offset + path.size()));
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 || errno == EAGAIN;
    ::close(fd);
    return connected;
}

bool connectTcp(const QByteArray& host, int port)
{
    addrinfo hints = {};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    if (::getaddrinfo(host.constData(), QByteArray::number(port).constData(), &hints, &addresses) != 0)
        return false;
    bool connected = false;
    for (addrinfo* a = addresses; a && !connected; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0)
            continue;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            connected = true;
        } else if (errno == EINPROGRESS) {
            pollfd waiting = {fd, POLLOUT, 0};
            int error = 0;
            socklen_t size = sizeof error;
            connected = ::poll(&waiting, 1, remoteTimeoutMs) == 1 &&
                        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
        }
        ::close(fd);
    }
    ::freeaddrinfo(addresses);
    return connected;
}
} // namespace

bool DisplayCheck::canConnectToX(const QString& display)
{
    if (display.startsWith(QLatin1Char('/')))
        return connectUnix(display.section(QLatin1Char(':'), 0, 0).toLocal8Bit(), false);
    static const QRegularExpression pattern(QStringLiteral("^(.*):(\\d+)(\\.\\d+)?$"));
    const QRegularExpressionMatch match = pattern.match(display);
    if (!match.hasMatch())
        return false;
    const QString host = match.captured(1);
    const int number = match.captured(2).toInt();
    if (host.isEmpty() || host == QLatin1String("unix")) {
        const QByteArray path = "/tmp/.X11-unix/X" + QByteArray::number(number);
        return connectUnix(path, true) || connectUnix(path, false);
    }
    return connectTcp(host.toLocal8Bit(), 6000 + number);
}

bool DisplayCheck::canConnectToWayland(const QString& display, const QString& runtimeDirectory)
{
    if (display.isEmpty())
        return false;
    const QString path =
        display.startsWith(QLatin1Char('/')) ? display : runtimeDirectory + QLatin1Char('/') + display;
    return connectUnix(path.toLocal8Bit(), false);
}

QString DisplayCheck::problem(const QString& platform, const QProcessEnvironment& environment)
{
    QString name = platform.isEmpty() ? environment.value(QStringLiteral("QT_QPA_PLATFORM")) : platform;
    // "xcb;wayland" lists fallbacks; the first one's options (after a colon) do not matter here.
    const QStringList candidates = name.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    bool wantsX = candidates.isEmpty();
    bool wantsWayland = candidates.isEmpty();
    for (const QString& candidate : candidates) {
        const QString plugin = candidate.section(QLatin1Char(':'), 0, 0);
        if (plugin == QLatin1String("xcb"))
            wantsX = true;
        else if (plugin.startsWith(QLatin1String("wayland")))
            wantsWayland = true;
        else
            return {}; // offscreen, vnc, eglfs...: Qt's own business
    }
    const QString x = environment.value(QStringLiteral("DISPLAY"));
    const QString wayland = environment.value(QStringLiteral("WAYLAND_DISPLAY"));
    if (wantsWayland && canConnectToWayland(wayland, environment.value(QStringLiteral("XDG_RUNTIME_DIR"))))
        return {};
    if (wantsX && !x.isEmpty() && canConnectToX(x))
        return {};
    if (wantsX && !x.isEmpty())
        return QStringLiteral("zuzire: cannot open the display \"%1\": no X server answers there").arg(x) +
               xvfbHint;
    if (wantsWayland && !wayland.isEmpty())
        return QStringLiteral("zuzire: cannot open the Wayland display \"%1\"").arg(wayland) + xvfbHint;
    return QStringLiteral("zuzire: no display to show the window on (DISPLAY is not set)") + xvfbHint;
}
