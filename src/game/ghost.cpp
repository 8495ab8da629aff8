#include "game/ghost.h"

#include "game/random.h"
#include "game/run.h"

void ghost_start(Ghost& ghost)
{
    const GhostRun run = ghost.run;
    ghost = Ghost{};
    ghost.run = run;
    ghost.game.random = random_seeded(run.seed);
    start_game(ghost.game);
    thrust_on_timed(ghost.game, ghost.clock, &ghost.tick_delay_ms);
    ghost.started = true;
}

void ghost_follow(Ghost& ghost, std::int64_t ticks)
{
    if (!ghost.started)
        return;
    for (std::int64_t i = 0; i < ticks; ++i) {
        if (!(ghost.game.state & RUNNING)) {
            ++ghost.since_crash;
            continue;
        }
        // The inputs played before this tick, as the simulator plays a recording's lines.
        const GhostRun& run = ghost.run;
        for (; ghost.next < run.count && run.inputs[ghost.next].tick <= ghost.game.score;
             ++ghost.next) {
            if (run.inputs[ghost.next].press)
                thrust_on(ghost.game, ghost.clock);
            else
                thrust_off(ghost.game);
        }
        tick_timed(ghost.game, &ghost.clock, &ghost.tick_delay_ms);
    }
}

float ghost_fade(const Ghost& ghost)
{
    if (!ghost.started || ghost.since_crash >= GHOST_FADE_TICKS)
        return 0.0f;
    return 1.0f - static_cast<float>(ghost.since_crash) / static_cast<float>(GHOST_FADE_TICKS);
}
