#include "app/QuitSignals.h"

#include <QMetaObject>
#include <QPointer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Written by the signal handler, read by the reader thread: the only async-signal-safe hand-off.
int signalPipe[2] = {-1, -1};
constexpr int quitSignals[] = {SIGINT, SIGTERM, SIGHUP};
// Written into the pipe by the destructor to end the reader thread.
constexpr char stopByte = 0;
} // namespace

std::function<void(int)> QuitSignals::defaultExitNow()
{
    return [](int status) {
        std::fflush(stderr);
        ::_exit(status);
    };
}

QuitSignals::QuitSignals(Actions actions)
    : m_actions(std::move(actions))
{
    if (::pipe2(signalPipe, O_CLOEXEC) != 0)
        return;
    m_reader = std::thread([this] { readSignals(); });
    struct sigaction action = {};
    action.sa_handler = &QuitSignals::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : quitSignals)
        sigaction(signalNumber, &action, nullptr);
}

QuitSignals::~QuitSignals()
{
    for (int signalNumber : quitSignals)
        std::signal(signalNumber, SIG_DFL);
    if (m_reader.joinable()) {
        [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &stopByte, 1);
        m_reader.join();
    }
    for (int& end : signalPipe) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void QuitSignals::handle(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

void QuitSignals::readSignals()
{
    bool quitRequested = false;
    for (;;) {
        char byte = stopByte;
        const ssize_t count = ::read(signalPipe[0], &byte, 1);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0 || byte == stopByte)
            return;
        if (!quitRequested) {
            quitRequested = true;
            QPointer<QuitSignals> self = this;
            QMetaObject::invokeMethod(
                this,
                [self] {
                    if (self)
                        self->m_actions.quit();
                },
                Qt::QueuedConnection);
            continue;
        }
        const std::size_t pending = m_actions.abandonWork ? m_actions.abandonWork() : 0;
        qWarning("Quitting at once on a second signal: %zu queued rating%s not written", pending,
                 pending == 1 ? " was" : "s were");
        m_actions.exitNow(128 + static_cast<unsigned char>(byte));
        return;
    }
}
