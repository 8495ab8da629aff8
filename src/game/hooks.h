// What the game's rules call but do not provide. Each program links exactly one provider:
//
//   sync_high_score   the game:           src/store/high_score.cpp (the score file)
//                     the simulator:      src/sim/memory_score.cpp (kept in memory)
//                     the unit tests:     a double in tests/unit/game_test.cpp
//
// The rules include nothing of the store: the call is resolved when the program is linked.
#pragma once

// Merges game.score, game.high_score and whatever is stored into game.high_score, and
// stores the result when it beats what was stored. Called by start_game, to load the best
// score, and by the tick that crashes, after the state has become CRASHED. Always returns.
void sync_high_score();
