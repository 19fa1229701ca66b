#include "library/AlbumInfoClock.h"

#include <chrono>
#include <thread>

AlbumInfoClock AlbumInfoClock::system()
{
    AlbumInfoClock clock;
    clock.now = [] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    };
    clock.sleepFor = [](double seconds) {
        // Whole microseconds, truncated, as the minimum is specified.
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long long>(seconds * 1e6)));
    };
    return clock;
}
