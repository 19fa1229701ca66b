#pragma once

#include <cstddef>

// The C library allocator's settings for this process, fixed once at start.
//
// The strip decodes photos of tens of megabytes on its loading threads. Left to itself the
// allocator raises the size from which a block gets its own mapping each time such a block is
// freed, so the next decode buffers come from the threads' heaps instead, where they fragment and
// stay resident: the process's peak memory then depends on the order in which loads happened to
// end, and differs from run to run. With the thresholds fixed, every large block (a decoded
// photo, a scaled copy, a shadow image) is mapped on its own and returned to the system when it
// is freed, and the small ones stay in the heaps.
class MemoryAllocator {
public:
    // Bytes from which a block gets its own mapping (and is unmapped when freed): every image of a
    // photo's size, not the painter's small pieces kept across frames, which a frame on the main
    // thread would otherwise find in fresh pages each time.
    static constexpr std::size_t ownMappingFromBytes = 1024 * 1024;
    // Free bytes at the top of a heap beyond which the heap is given back to the system.
    static constexpr std::size_t trimAboveBytes = 2 * 1024 * 1024;

    // The allocator's option call: the C library's mallopt() unless a test hands in its own.
    using SetOption = int (*)(int option, int value);

    // Fixes the thresholds; call first thing in main(), before any thread starts. Returns whether
    // the allocator took every setting (one built with a sanitizer ignores them).
    static bool useFixedThresholds();
    static bool useFixedThresholds(SetOption setOption);
};
