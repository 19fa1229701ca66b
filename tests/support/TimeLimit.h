#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// Ends the test binary with a message, rather than letting it hang, when the scope it guards is
// not left within `limit`. For calls that can block with no limit of their own (waiting for a
// queue to drain, joining a thread, a destructor that joins): a test cannot fail and return while
// another thread still uses its locals, so past the limit the only safe failure is to stop.
//
// The limit is wall-clock time and generous: it is for a wait that never ends, not a slow one.
class TimeLimit {
public:
    static constexpr std::chrono::seconds defaultLimit{60};

    explicit TimeLimit(std::chrono::milliseconds limit = defaultLimit);
    ~TimeLimit();
    TimeLimit(const TimeLimit&) = delete;
    TimeLimit& operator=(const TimeLimit&) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_left;
    bool m_isLeft = false;
    std::string m_testName;
    std::thread m_watchdog;
};
