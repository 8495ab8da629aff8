// The run's clock: when each tick is due, whatever the display does.
//
// The n-th tick of a run is due n * TICK_MS after the run started. A frame that takes
// longer than a tick (a buffer swap that waits for the screen's refresh, a slow driver)
// must not slow the game down, so when the tick timer fires, every tick that has fallen
// due since runs at once, and the next one is armed for the time left until it is due.
// A backlog of more than STALL_US means the game was not running at all (stopped,
// suspended, paused in a debugger): it is forgotten, and the run goes on at its pace from
// now, so that the player never crashes on ticks they did not see.
//
// Nothing here reads a clock or arms a timer: the caller passes the time, so the same
// schedule serves every platform and runs against a fake clock in the tests.
#pragma once

#include <cstdint>

#include "game/state.h"

inline constexpr Micros TICK_US = Micros{TICK_MS} * 1000;

// The pace a session is played at, in percent of the full one: at `speed` the ticks come
// every TICK_MS * 100 / speed milliseconds of real time, and a run scores as ever.
inline constexpr int SLOWEST_SPEED = 50;
inline constexpr int FULL_SPEED = 100;
// About four ticks: a slow frame leaves far less behind.
inline constexpr Micros STALL_US = 50000;

// A run starts now; its first tick is due one tick from now.
void pace_start(Pace& pace, Micros now);

// The tick timer has fired at `now`. Returns how many ticks to run now, at least one,
// and counts them as run: the tick the timer was armed for, which may fire a little
// early since timers count whole milliseconds, and every later tick whose time has come.
// After a stall, or when the count has got ahead of the clock by more than a tick (the
// clock went back, or ticks were run by hand), it is one tick, and the count starts
// again from now.
std::int64_t pace_take_due(Pace& pace, Micros now);

// When the next tick is due. (Here, and delay_ms, to be inlined into every tick.)
inline Micros pace_next_due(const Pace& pace)
{
    return pace.origin + (pace.ticks + 1) * TICK_US;
}

// Milliseconds to arm a timer with at `now` for a tick due at `due`: the time left, rounded
// up to a whole millisecond; 0 when it is due already.
inline unsigned delay_ms(Micros due, Micros now)
{
    const Micros left = due - now;
    if (left <= 0)
        return 0;
    return static_cast<unsigned>((left + 999) / 1000);
}

// Milliseconds to arm the next tick with. Right after pace_take_due, never more than two
// ticks.
unsigned pace_delay_ms(const Pace& pace, Micros now);
