#pragma once

#include <functional>

// The clock a reload measures its one-second minimum against, and the way it waits out the rest.
// Injected so tests can step time instead of sleeping.
//
// Both functions are called on the work queue's thread (and now() also on the main thread when
// a reload is requested), so a test clock must be safe to call from either.
class AlbumInfoClock {
public:
    // Seconds on a monotonic clock; only differences matter.
    std::function<double()> now;
    // Blocks the calling thread for `seconds` (never called with zero or less).
    std::function<void(double seconds)> sleepFor;

    // The steady system clock and a real sleep.
    static AlbumInfoClock system();
};
