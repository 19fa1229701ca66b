#include "ManualAnimationClock.h"

#include "AnimationClock.h"

ManualAnimationClock::ManualAnimationClock(double start)
    : m_now(std::make_shared<double>(start))
{
    AnimationClock::setSourceForTesting([now = m_now] { return *now; });
}

ManualAnimationClock::~ManualAnimationClock()
{
    AnimationClock::setSourceForTesting(nullptr);
}
