#pragma once

#include "library/HelperStop.h"
#include "library/RatingHelper.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

// The ratings queued for writing and not yet written, and what quitting does to them. An orderly
// quit waits for them, but once a helper has timed out while it waits, the helpers of the ratings
// after it are not started: each would hang as long, and a quit with two ratings queued behind a
// hung helper would take minutes. A quit that cannot wait stops the helper under way and starts
// no other.
//
// Threads: any. Written by the main thread (queued()), the work queue (the writes) and whichever
// thread quits; the one lock inside guards it all.
class PendingRatings {
public:
    // A rating was queued for writing.
    void queued();
    // Before a queued write: false when its helper must not start (the writing was stopped or
    // given up). The rating then stays among those not written.
    bool beginWrite();
    // After a write that began: a rating that was written, or failed on its own, is no longer
    // pending; one whose helper was stopped is.
    void endWrite(RatingHelper::Outcome outcome);

    // The program now waits for the writes to quit: from now on a helper that times out gives up
    // the writes after it.
    void beginQuitting();
    // Ratings queued and not written: those waiting or being written, and those whose writing
    // was stopped or given up.
    std::size_t notWritten() const;
    // Whether a helper timed out while quitting, so the writes after it were given up.
    bool isGivenUp() const;

    // Stops the writing for good: the helper under way is stopped, as HelperStop::stop(grace)
    // does, and no other starts. Returns once that write has ended, or after a further `grace`,
    // with the ratings not written.
    std::size_t stop(std::chrono::milliseconds grace);

    HelperStop& helperStop() { return m_helperStop; }

private:
    HelperStop m_helperStop;
    mutable std::mutex m_mutex;
    std::condition_variable m_writeEnded;
    std::size_t m_notWritten = 0;
    bool m_writing = false;
    bool m_quitting = false;
    bool m_givenUp = false;
};
