#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <future>
#include <thread>

// Waits for a condition that other threads make true, for at most `limit`; whether it became
// true. A test asserts the result, so a condition that never comes fails the test instead of
// hanging it. The limit is generous: it is for a condition that never comes, not a slow one.
inline constexpr std::chrono::seconds waitLimit{20};

template <typename Condition> bool waitUntil(Condition condition, std::chrono::milliseconds limit = waitLimit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // Briefly, so the threads it waits for get the machine's cores.
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

// The same on the main thread, turning its event loop while it waits.
template <typename Condition>
bool processEventsUntil(Condition condition, std::chrono::milliseconds limit = waitLimit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Whether `future` became ready within `limit`.
template <typename Future>
bool isReadyWithin(const Future& future, std::chrono::milliseconds limit = waitLimit)
{
    return future.wait_for(limit) == std::future_status::ready;
}
