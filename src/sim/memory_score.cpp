// The simulator's store: a replay reads and writes no file, so nothing is stored beyond
// the best that the game itself keeps in memory.
#include "app/hooks.h"
#include "game/state.h"

std::uint32_t load_best_score(const GameState& /*game*/)
{
    return 0;
}

SavedBest save_best_score(const GameState& /*game*/, std::uint32_t /*best*/)
{
    return {0, true};
}
