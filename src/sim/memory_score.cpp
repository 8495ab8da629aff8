// The crash's merge of the high score, kept in memory: a replay reads and writes no file.
#include "game/state.h"
#include "game/hooks.h"

void sync_high_score()
{
    if (game.score > game.high_score)
        game.high_score = game.score;
}
