#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into the application's own quit path on the main thread, so a
// desktop session ending or a Ctrl+C still waits for the ratings being written. One instance per
// process.
class QuitSignals : public QObject {
    Q_OBJECT

public:
    explicit QuitSignals(std::function<void()> quit);
    ~QuitSignals() override;

private:
    static void handle(int signalNumber);
    void readSignal();

    std::function<void()> m_quit;
    QSocketNotifier* m_notifier = nullptr;
};
