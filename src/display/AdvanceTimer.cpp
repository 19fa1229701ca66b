#include "display/AdvanceTimer.h"

#include <QTimer>
#include <algorithm>
#include <cmath>

AdvanceTimer::AdvanceTimer(double interval, std::function<void()> fire)
    : m_interval(interval)
    , m_fire(std::move(fire))
    , m_timer(std::make_unique<QTimer>())
{
    // Whole milliseconds, and never a busy loop of zero.
    m_timer->setInterval(std::max(1, int(std::lround(interval * 1000.0))));
    m_timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] { m_fire(); });
    m_timer->start();
}

AdvanceTimer::~AdvanceTimer() = default;

bool AdvanceTimer::isActive() const
{
    return m_timer->isActive();
}
