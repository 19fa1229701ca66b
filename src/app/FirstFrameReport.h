#pragma once

#include <QObject>

class QWidget;

// Tells a benchmark when a window's first frame has been painted: when the environment names a
// file descriptor in ZUZIRE_FIRST_FRAME_FD, the first completed paint of the watched widget writes
// one line, "first-frame NANOSECONDS\n", to it (CLOCK_MONOTONIC, comparable across processes),
// and nothing more. Without the variable nothing is installed.
//
// Kept free of the rest of the program so a minimal reference program can use the same report.
class FirstFrameReport : public QObject {
public:
    // Watches `widget` when the variable is set; the report is owned by the widget.
    static void installIfRequested(QWidget* widget);

    // The descriptor named by `value`, or -1 when it names none (absent, not a number, negative).
    static int descriptorFrom(const QByteArray& value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    FirstFrameReport(QWidget* widget, int descriptor);
    void report();

    int m_descriptor;
    bool m_painted = false;
};
