#pragma once

#include <ctime>
#include <sys/resource.h>

// The calling thread's own clocks, for benchmarks on a machine shared with other work: the wall
// clock also counts the time a thread waited for a processor.

// Milliseconds of processor time the calling thread has used so far.
inline double threadCpuMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// The calling thread's page faults so far, minor and major: where its memory comes from shows in them.
inline long threadPageFaults()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}
