#pragma once

#include "library/AlbumInfoClock.h"

#include <mutex>
#include <vector>

// A clock that only moves when told to, or when the reload sleeps.
struct SteppedAlbumInfoClock {
    std::mutex mutex;
    double now = 100.0;
    std::vector<double> sleeps;

    AlbumInfoClock clock()
    {
        AlbumInfoClock result;
        result.now = [this] {
            std::lock_guard lock(mutex);
            return now;
        };
        result.sleepFor = [this](double seconds) {
            std::lock_guard lock(mutex);
            sleeps.push_back(seconds);
            now += seconds;
        };
        return result;
    }
    void advance(double seconds)
    {
        std::lock_guard lock(mutex);
        now += seconds;
    }
};
