#include "TimeLimit.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>

TimeLimit::TimeLimit(std::chrono::milliseconds limit)
{
    if (const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info())
        m_testName = std::string(test->test_suite_name()) + "." + test->name();
    m_watchdog = std::thread([this, limit] {
        std::unique_lock lock(m_mutex);
        if (m_left.wait_for(lock, limit, [this] { return m_isLeft; }))
            return;
        std::fprintf(stderr, "%s: still waiting after %lld ms; stopping instead of hanging\n",
                     m_testName.c_str(), static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::abort();
    });
}

TimeLimit::~TimeLimit()
{
    {
        std::lock_guard lock(m_mutex);
        m_isLeft = true;
    }
    m_left.notify_one();
    m_watchdog.join();
}
