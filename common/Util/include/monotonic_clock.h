#ifndef LUMERION_MONOTONIC_CLOCK_H
#define LUMERION_MONOTONIC_CLOCK_H

#include <time.h>

// Milliseconds on the monotonic clock: deadlines and ages that a change of
// the wall clock cannot move.
inline long get_Monotonic_Ms()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long>(now.tv_sec) * 1000L + now.tv_nsec / 1000000L;
}

#endif
