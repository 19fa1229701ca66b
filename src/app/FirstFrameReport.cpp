#include "app/FirstFrameReport.h"

#include <QByteArray>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <ctime>
#include <unistd.h>

void FirstFrameReport::installIfRequested(QWidget* widget)
{
    const int descriptor = descriptorFrom(qgetenv("ZUZIRE_FIRST_FRAME_FD"));
    if (descriptor >= 0)
        new FirstFrameReport(widget, descriptor);
}

int FirstFrameReport::descriptorFrom(const QByteArray& value)
{
    bool ok = false;
    const int descriptor = value.toInt(&ok);
    return ok && descriptor >= 0 ? descriptor : -1;
}

FirstFrameReport::FirstFrameReport(QWidget* widget, int descriptor)
    : QObject(widget)
    , m_descriptor(descriptor)
{
    widget->installEventFilter(this);
}

bool FirstFrameReport::eventFilter(QObject* watched, QEvent* event)
{
    // The filter sees the paint before the widget draws; the backing store is flushed once the
    // paint returns, so the report waits for the next turn of the event loop.
    if (event->type() == QEvent::Paint && !m_painted) {
        m_painted = true;
        QTimer::singleShot(0, this, [this] { report(); });
    }
    return QObject::eventFilter(watched, event);
}

void FirstFrameReport::report()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char line[64];
    const int length = std::snprintf(line, sizeof line, "first-frame %lld\n",
                                     static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    // A benchmark that stopped listening loses only its figure; the program goes on.
    if (length > 0 && ::write(m_descriptor, line, static_cast<size_t>(length)) != length)
        std::fputs("zuzire: could not report the first frame\n", stderr);
}
