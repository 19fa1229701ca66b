#pragma once

#include "ui/HostView.h"

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QStringList>
#include <functional>

class AppDelegate;

// Drives the real program from standard input, one command a line, and answers each with one
// line on standard output, so tests and people can run it end to end:
//   tree                 the controller stack, visible texts, full-screen flag, size, whether the
//                        window is active and the view has the keyboard, and whether the pointer
//                        shows, and the folder resources are read from, as JSON
//                        "screen" adds what the current screen tells of itself, if anything
//   screenshot PATH      the window's current frame as a PNG
//   resize W H           the window's size in pixels
//   fullscreen           toggles full-screen presentation
//   press BUTTON         Up, Down, Left, Right, Select or Menu, as the controllers receive them
//   key NAME             a real key event through the window (Return, Escape, Left, ...)
//   wait SECONDS         lets the event loop run before the next command
//   quit                 the application's own quit path
// Commands run one after another; the end of the input quits as `quit` does. A line longer than
// 64 KiB is answered with an error and skipped.
class Automation : public QObject {
    Q_OBJECT

public:
    // Writes every answer line through `output`; reads nothing until start().
    Automation(AppDelegate& delegate, HostView& hostView, std::function<void(const QString&)> output);

    // Reads commands from a file descriptor (standard input in the program).
    void start(int fileDescriptor);

    // Runs one command line; queued behind a running `wait`.
    void submit(const QString& line);

    // The `tree` answer.
    QString treeJson() const;

private:
    void readAvailable();
    void consume(QByteArrayView bytes);
    void appendToLine(QByteArrayView bytes);
    void finishLine();
    // Runs `step` now, or after the steps queued before it.
    void enqueue(std::function<bool()> step);
    void runNext();
    // Returns false when the command finishes later by itself (wait).
    bool run(const QString& line);
    void answer(const QString& text);
    QString screenshot(const QStringList& words);
    QString resize(const QStringList& words);
    QString press(const QStringList& words);
    QString key(const QStringList& words);
    void endOfInput();

    AppDelegate& m_delegate;
    QPointer<HostView> m_hostView;
    std::function<void(const QString&)> m_output;
    QSocketNotifier* m_notifier = nullptr;
    int m_fileDescriptor = -1;
    QByteArray m_pending;                 // the line read so far
    bool m_lineTooLong = false;           // the line read so far was answered as too long and is dropped
    QList<std::function<bool()>> m_queue; // each returns false when it finishes later by itself
    bool m_busy = false;
};
