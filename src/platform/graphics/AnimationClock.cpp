#include "AnimationClock.h"

#include <chrono>

namespace {

std::function<double()>& source()
{
    static std::function<double()> s_source;
    return s_source;
}

} // namespace

double AnimationClock::now()
{
    if (source())
        return source()();
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void AnimationClock::setSourceForTesting(std::function<double()> newSource)
{
    source() = std::move(newSource);
}
