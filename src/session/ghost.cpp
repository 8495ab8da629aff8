#include "session/ghost.h"

void ghost_start(Ghost& ghost)
{
    const GhostRun run = ghost.run;
    ghost = Ghost{};
    ghost.run = run;
    session_start(ghost.session, run.seed);
    session_press(ghost.session);
    ghost.started = true;
}

void ghost_follow(Ghost& ghost, std::int64_t ticks)
{
    if (!ghost.started)
        return;
    for (std::int64_t i = 0; i < ticks; ++i) {
        Game& game = ghost.session.game;
        if (!(game.state & RUNNING)) {
            ++ghost.since_crash;
            continue;
        }
        // The inputs played before this tick, as the simulator plays a recording's lines.
        const GhostRun& run = ghost.run;
        for (; ghost.next < run.count && run.inputs[ghost.next].tick <= game.score;
             ++ghost.next) {
            if (run.inputs[ghost.next].press)
                session_press(ghost.session);
            else
                session_release(ghost.session);
        }
        session_fire_tick(ghost.session);
    }
}

float ghost_fade(const Ghost& ghost)
{
    if (!ghost.started || ghost.since_crash >= GHOST_FADE_TICKS)
        return 0.0f;
    return 1.0f - static_cast<float>(ghost.since_crash) / static_cast<float>(GHOST_FADE_TICKS);
}
