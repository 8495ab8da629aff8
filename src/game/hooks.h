// What the game's rules call but do not provide. Each program links exactly one provider:
//
//   sync_high_score   the game:           src/store/high_score.cpp (the score file)
//                     the simulator:      src/sim/memory_score.cpp (kept in memory)
//                     the unit tests:     a double in tests/fakes/fake_hooks.cpp
//                     the browser:        src/platform/web/score.cpp (the page's storage)
//
//   clock_now_us      the game and the browser: src/app/clock.cpp (the monotonic clock)
//                     the simulator:      src/sim/headless_gl.cpp (moved on by each tick fired)
//                     the unit tests:     tests/fakes/fake_gl.cpp (likewise; tests may set it)
//
// The rules include nothing of the store: the call is resolved when the program is linked.
#pragma once

#include "game/state.h"

// Merges game.score, game.high_score and whatever is stored into game.high_score, and
// stores the result when it beats what was stored. Called by start_game, to load the best
// score, and by the tick that crashes, after the state has become CRASHED. Always returns.
void sync_high_score();

// The clock that the run's ticks keep pace with (game/pace.h). The simulator's and the unit
// tests' clock is always exactly on time, so there every fired timer runs exactly one tick.
Micros clock_now_us();
