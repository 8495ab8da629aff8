#include "app/hooks.h"

#include <ctime>

Micros clock_now_us()
{
    // Monotonic: setting the wall clock must not speed a run up or stall it.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return Micros{now.tv_sec} * 1000000 + now.tv_nsec / 1000;
}
