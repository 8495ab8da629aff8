#include "session/session.h"

#include "game/best.h"
#include "game/run.h"

void session_start(Session& session, std::uint64_t seed)
{
    session = Session{};
    random_seed(&session.game.random, static_cast<std::uint32_t>(seed));
    start_game(session.game);
}

void session_crashed(Session& session)
{
    session.game.high_score = merge_best(session.game.score, session.game.high_score).best;
    session.burst_shown = false;
}

TickResult session_tick_at(Session& session, Micros now)
{
    session.clock = now;
    const TickResult result = tick(session.game, now);
    if (result.crashed)
        session_crashed(session);
    return result;
}

void session_frame(Session& session)
{
    if (!(session.game.state & CRASHED))
        return;
    session.burst = take_burst(session.game);
    session.burst_shown = true;
}

const RandomState& session_burst(const Session& session)
{
    return session.burst_shown && (session.game.state & CRASHED) ? session.burst
                                                                  : session.game.random;
}

bool session_best_stored(Session& session, std::uint32_t stored)
{
    const std::uint32_t known = session.game.high_score;
    session.game.high_score = merge_best(known, stored).best;
    return session.game.high_score != known;
}
