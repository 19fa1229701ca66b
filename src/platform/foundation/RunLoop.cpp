#include "platform/foundation/RunLoop.h"

#include "platform/foundation/MainThread.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <algorithm>

struct DelayedRequest::State {
    QPointer<QTimer> timer;
};

void DelayedRequest::cancel()
{
    if (m_state && m_state->timer) {
        m_state->timer->stop();
        m_state->timer->deleteLater();
    }
    if (m_state)
        m_state->timer = nullptr;
}

bool DelayedRequest::isPending() const
{
    return m_state && m_state->timer && m_state->timer->isActive();
}

DelayedRequest RunLoop::performAfterDelay(double seconds, std::function<void()> call)
{
    auto state = std::make_shared<DelayedRequest::State>();
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setSingleShot(true);
    timer->setInterval(static_cast<int>(std::max(0.0, seconds) * 1000.0));
    QObject::connect(timer, &QTimer::timeout, timer, [timer, call = std::move(call)] {
        // Cancelled requests are deleted before they can fire; this one is done with its timer.
        timer->deleteLater();
        call();
    });
    state->timer = timer;
    timer->start();
    return DelayedRequest(std::move(state));
}

void RunLoop::postToMainThread(std::function<void()> call)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
}

void RunLoop::postToMainThreadAndWait(std::function<void()> call)
{
    if (isMainThread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::BlockingQueuedConnection);
}
