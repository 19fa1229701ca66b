#pragma once

#include <QObject>
#include <cstddef>
#include <functional>
#include <thread>

// Turns SIGINT, SIGTERM and SIGHUP into the application's own quit path on the main thread, so a
// desktop session ending or a Ctrl+C still waits for the ratings being written. A second signal
// while that shutdown still waits ends the process at once: it stops the work, logs how many
// ratings are lost and exits with 128 plus the signal's number, as a shell reports a death by
// signal. The signals are read on a thread of their own, so a main thread that is stuck cannot
// make the process deaf to them. One instance per process.
class QuitSignals : public QObject {
    Q_OBJECT

public:
    struct Actions {
        // The normal quit path. Called on the main thread, once.
        std::function<void()> quit;
        // Stops the work under way, so nothing of the program outlives it, and returns the number
        // of queued ratings that will not be written. Called on the signal thread.
        std::function<std::size_t()> abandonWork;
        // Ends the process with this status without waiting. Called on the signal thread.
        std::function<void(int status)> exitNow;
    };
    static std::function<void(int)> defaultExitNow();

    explicit QuitSignals(Actions actions);
    ~QuitSignals() override;

private:
    static void handle(int signalNumber);
    void readSignals();

    Actions m_actions;
    std::thread m_reader;
};
