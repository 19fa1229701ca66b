#pragma once

#include <functional>

// One-shot timers of the remote driver (the hold simulation, the re-acquisition after the
// application is active again), so tests can step time instead of waiting for it.
class RemoteScheduler {
public:
    virtual ~RemoteScheduler() = default;

    // The main thread's event loop.
    static RemoteScheduler& runLoop();

    // Runs `call` once on the main thread, `seconds` from now. The returned function cancels it;
    // after the call ran, or a second time, cancelling does nothing.
    virtual std::function<void()> schedule(double seconds, std::function<void()> call) = 0;
};
