// The crash's merge of the high score, kept in memory: a replay reads and writes no file.
#include "game/state.h"
#include "app/hooks.h"

void sync_high_score(GameState& game)
{
    if (game.score > game.high_score)
        game.high_score = game.score;
}
