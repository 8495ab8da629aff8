#include "game/pace.h"

void pace_start(Pace& pace, Micros now)
{
    pace.origin = now;
    pace.ticks = 0;
}

std::int64_t pace_take_due(Pace& pace, Micros now)
{
    // How late the oldest tick not yet run is; negative while it is still to come.
    const Micros late = now - pace_next_due(pace);
    std::int64_t due = 1;
    if (late > STALL_US || late < -TICK_US) {
        // Count from a start one tick ago, so that the tick about to run is due now.
        pace.origin = now - TICK_US;
        pace.ticks = 0;
    } else if (late > 0) {
        due += late / TICK_US;
    }
    pace.ticks += due;
    return due;
}

unsigned pace_delay_ms(const Pace& pace, Micros now)
{
    return delay_ms(pace_next_due(pace), now);
}
