#pragma once

#include <QByteArray>

// Room for megabytes that are about to be filled at once (a file read whole, a copy to parse in
// place): its memory is advised for the system's 2 MB pages, so filling it costs one page fault
// per 2 MB instead of one per 4 KB page. On a virtual machine a fault costs microseconds, and the
// faults of a 60 MB buffer cost more than reading the file into it; they also make the cost of a
// large buffer depend on whether the allocator hands out fresh pages or reused ones.
//
// Only a hint: where the system offers no such pages the bytes are ordinary ones. Any thread.
class HugePageBytes {
public:
    // Sizes from which the advice is given: below, the allocator's reused heap serves better,
    // and a file of a few kilobytes would take a whole huge page.
    static constexpr qsizetype fromBytes = qsizetype(1) << 20;

    // `size` bytes, uninitialised.
    static QByteArray uninitialized(qsizetype size);
};
