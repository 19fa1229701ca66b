#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sys/types.h>

// Lets another thread stop the helper process a work queue waits for, and keeps any later one from
// running: a program that must end at once would otherwise leave a helper behind that writes its
// rating after the program has gone. The helper leads a process group of its own, so whatever a
// script starts is stopped with it.
//
// Threads: any; the state is guarded by the one lock inside.
class HelperStop {
public:
    // Records the helper just started (the leader of process group `group`), until detach(). After
    // stop() it is killed at once instead, and attach() returns false.
    bool attach(pid_t group);
    // The helper has ended. Called right after it was reaped: the kernel hands out process ids in
    // turn, so its number cannot have gone to another process in between.
    void detach();

    // From now on no helper may run. The one running gets SIGTERM, then SIGKILL when it has not
    // ended within `grace`; returns once it has ended or a second `grace` has passed. True when a
    // helper was running.
    bool stop(std::chrono::milliseconds grace);
    bool isStopped() const;

private:
    bool signalAndWait(std::unique_lock<std::mutex>& lock, int signalNumber, std::chrono::milliseconds grace);

    mutable std::mutex m_mutex;
    std::condition_variable m_detached;
    pid_t m_group = 0;
    bool m_stopped = false;
};
