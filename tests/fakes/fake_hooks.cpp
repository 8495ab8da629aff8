// The store as unit tests see it: only that it is called, and in which state, and a save
// that fails when a test says so. Linked from this library only where the program under
// test has no store of its own.
#include "fake_gl.h"
#include "app/hooks.h"
#include "game/state.h"

std::uint32_t load_best_score(const GameState& game)
{
    ++fake::sync_calls;
    fake::state_at_sync = game.state;
    return fake::stored_best;
}

SavedBest save_best_score(const GameState& game, std::uint32_t best)
{
    ++fake::sync_calls;
    fake::state_at_sync = game.state;
    const SavedBest answer{fake::stored_best, !fake::saves_fail};
    if (!fake::saves_fail && best > fake::stored_best)
        fake::stored_best = best;
    return answer;
}
