#pragma once

#include <functional>

// The time base of every animation of the layer tree, in seconds on a monotonic scale. Tests
// install a manual source (ManualAnimationClock) and step it instead of waiting. Main thread only.
class AnimationClock {
public:
    static double now();

    // A null source restores the steady clock.
    static void setSourceForTesting(std::function<double()> source);
};
