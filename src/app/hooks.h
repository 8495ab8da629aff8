// What the shell calls but does not provide. Each program that links the shell links
// exactly one provider:
//
//   load_best_score,  the game:           src/store/high_score.cpp (the score file)
//   save_best_score   the unit tests:     a double in tests/fakes/fake_hooks.cpp
//                     the browser:        src/platform/web/score.cpp (the page's storage)
//
//   clock_now_us      the game and the browser: src/app/clock.cpp (the monotonic clock)
//                     the unit tests:     tests/fakes/fake_gl.cpp (moved on by each tick
//                                         fired; tests may set it)
//
// The calls are resolved when the program is linked. The rules and the session call
// neither: the shell passes them the time and stores the best when a crash says so. The
// simulator and the training batch fly sessions of their own and store nothing.
#pragma once

#include <cstdint>

#include "game/state.h"

// The stores only load and save; the shell merges what they answer into the session's
// best with session_best_stored (session/session.h).

// What is stored (0 when nothing is, or it cannot be read, which is said in one line),
// read at once: no wait for a game that is saving, whose save leaves a whole number in
// place. Called by the shell for the title screen.
std::uint32_t load_best_score(const GameState& game);

struct SavedBest {
    std::uint32_t stored; // what the store held when the save looked (0: nothing readable)
    bool kept;            // the store holds at least the best now; false: it could not be
                          // written (said in one line), and the best is still to be saved
};

// Stores best unless the store holds at least as much (merge_best decides, on what the
// store holds at the moment of writing). Called by the shell after the tick that
// crashes, once the state has become CRASHED, and on the way out for a best still to be
// saved. Always returns, within about two seconds.
SavedBest save_best_score(const GameState& game, std::uint32_t best);

// The clock that the run's ticks keep pace with (game/pace.h).
Micros clock_now_us();
