#pragma once

#include <memory>

// Replaces the animation clock for its lifetime with one that only moves when told to, so tests
// can look at an animation at exact moments. Not nestable; main thread only.
class ManualAnimationClock {
public:
    // `start` in seconds; far from zero so that "begin time 0" never passes for "now".
    explicit ManualAnimationClock(double start = 1000.0);
    ~ManualAnimationClock();
    ManualAnimationClock(const ManualAnimationClock&) = delete;
    ManualAnimationClock& operator=(const ManualAnimationClock&) = delete;

    double now() const { return *m_now; }
    void setNow(double seconds) { *m_now = seconds; }
    void advance(double seconds) { *m_now += seconds; }

private:
    // Shared with the installed source, which outlives no test but must not dangle either.
    std::shared_ptr<double> m_now;
};
