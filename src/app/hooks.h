// What the shells call but do not provide. Each program links exactly one provider:
//
//   sync_high_score   the game:           src/store/high_score.cpp (the score file)
//                     the simulator:      src/sim/memory_score.cpp (kept in memory)
//                     the unit tests:     a double in tests/fakes/fake_hooks.cpp
//                     the browser:        src/platform/web/score.cpp (the page's storage)
//
//   clock_now_us      the game and the browser: src/app/clock.cpp (the monotonic clock)
//                     the headless tools: src/sim/headless_gl.cpp (a clock that stands still)
//                     the unit tests:     tests/fakes/fake_gl.cpp (moved on by each tick
//                                         fired; tests may set it)
//
// The calls are resolved when the program is linked. The rules call neither: the shell
// passes them the time and stores the score when a rule says so.
#pragma once

#include "game/state.h"

// Merges game.score, game.high_score and whatever is stored into game.high_score, and
// stores the result when it beats what was stored. Called by the shell on the title
// screen, to load the best score, and after the tick that crashes, once the state has
// become CRASHED. Always returns.
void sync_high_score(GameState& game);

// The clock that the run's ticks keep pace with (game/pace.h).
Micros clock_now_us();
