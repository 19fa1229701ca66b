#include "app/QuitSignals.h"

#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
// Written by the signal handler, read on the main thread: the only async-signal-safe hand-off.
int signalPipe[2] = {-1, -1};
constexpr int quitSignals[] = {SIGINT, SIGTERM, SIGHUP};
} // namespace

QuitSignals::QuitSignals(std::function<void()> quit)
    : m_quit(std::move(quit))
{
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::readSignal);
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
    for (int& end : signalPipe) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void QuitSignals::handle(int signalNumber)
{
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

void QuitSignals::readSignal()
{
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    m_quit();
}
