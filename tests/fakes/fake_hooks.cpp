// The crash hook as unit tests see it: only that it is called, and in which state. Linked
// from this library only where the program under test has no store of its own.
#include "fake_gl.h"
#include "app/hooks.h"
#include "game/state.h"

void sync_high_score(GameState& game)
{
    ++fake::sync_calls;
    fake::state_at_sync = game.state;
    if (game.score > game.high_score)
        game.high_score = game.score;
}
