#pragma once

#include <functional>
#include <memory>

class QTimer;

// A request to run something later on the main thread's event loop. Copies share one request;
// cancelling any of them cancels it. Cancelling after it ran, or twice, does nothing.
class DelayedRequest {
public:
    DelayedRequest() = default;

    void cancel();
    bool isPending() const;

private:
    friend class RunLoop;
    struct State;
    explicit DelayedRequest(std::shared_ptr<State> state)
        : m_state(std::move(state))
    {}
    std::shared_ptr<State> m_state;
};

// Helpers over the main thread's event loop. Callers that may be gone when the call runs capture
// a weak handle and check it: the event loop keeps no object alive.
class RunLoop {
public:
    // Runs `call` on the main thread after `seconds` (0: on the next turn of the event loop).
    static DelayedRequest performAfterDelay(double seconds, std::function<void()> call);

    // Runs `call` on the main thread's next turn; callable from any thread.
    static void postToMainThread(std::function<void()> call);

    // Runs `call` on the main thread and returns when it has finished. On the main thread it
    // runs at once.
    static void postToMainThreadAndWait(std::function<void()> call);
};
