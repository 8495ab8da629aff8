// A session: one game flown through the rules on a clock of its own, with its best score
// and its pace, stepped one event at a time (game/events.h). Every program that flies the
// game steps one: the window's game, the viewer of recordings, the simulator, the
// training batch and the browser's page. It draws nothing, reads no file and no clock;
// a copy is a snapshot that flies on exactly as the original would.
#pragma once

#include <cstdint>

#include "game/events.h"
#include "game/pace.h"
#include "game/random.h"
#include "game/run.h"
#include "game/state.h"

struct Session {
    Game game;                  // its high_score is the session's best
    Micros clock = 0;           // the session's time: moved on only by the ticks, each
                                // exactly when it falls due
    unsigned tick_delay_ms = 0; // what the armed tick waits, while a run is in progress
    int speed = FULL_SPEED;     // the pace played at, in percent: how fast the ticks come
                                // in real time, never what they do
    RandomState burst{};        // what the last frame over this crash drew its rays from
    bool burst_shown = false;   // a frame has shown this crash's burst
};

// A new session, as a program opens with its game: seeded (the seed narrowed to the
// generator's 32 bits, as the game narrows it), on the title screen, best 0, full pace.
void session_start(Session& session, std::uint64_t seed);

// What one event did.
struct Applied {
    std::uint64_t ticks = 0;  // ticks flown
    bool started = false;     // a press started a run
    bool crashed = false;     // the run crashed: the session's best has taken its score, and
                              // is what a store must keep (session_best_stored)
    const char* refused = nullptr; // the event cannot stand here (nothing was done): why
};

// Applies one event through the rules: a press or release as the game's button, "tick N"
// as N tick periods each fired when due (those after a crash pass with nothing to do;
// on_tick(session) after each tick flown), a frame (over a crash it takes the burst),
// "seed N" (only while the game is armed: before the first run, or once a crash's burst
// has been shown; never in the middle of a run or before its crash was shown), "best N"
// (a store's better best) and "speed N".
template <typename OnTick>
Applied session_apply(Session& session, const EventLine& event, OnTick&& on_tick);
inline Applied session_apply(Session& session, const EventLine& event)
{
    return session_apply(session, event, [](const Session&) {});
}

// The verbs one at a time, for a program that decides itself when time passes (the
// window's game keeps a real clock): a press at the session's clock, a release, and one
// tick fired at `now`, which may run every tick due by then (game/pace.h).
inline bool session_press(Session& session)
{
    return thrust_on_timed(session.game, session.clock, &session.tick_delay_ms);
}
inline void session_release(Session& session)
{
    thrust_off(session.game);
}
TickResult session_tick_at(Session& session, Micros now);

// A frame is shown: over a crash it takes the burst (take_burst), and keeps what the rays
// were drawn from for the picture.
void session_frame(Session& session);

// The sequence a picture of the session draws its burst from: the last frame's, or the
// game's own where no frame has shown this crash yet.
const RandomState& session_burst(const Session& session);

// What a store answered (loading, or saving after a crash): its best, merged into the
// session's. True when the store's was higher, and the game shows it from now on.
bool session_best_stored(Session& session, std::uint32_t stored);

// ---------------------------------------------------------------------------------------

// The crash's score joins the session's best, and no frame has shown its burst yet.
void session_crashed(Session& session);

// Runs the tick that is armed; true when the run crashed.
inline bool session_fire_tick(Session& session)
{
    const bool crash = tick_timed(session.game, &session.clock, &session.tick_delay_ms).crashed;
    if (crash)
        session_crashed(session);
    return crash;
}

template <typename OnTick>
Applied session_apply(Session& session, const EventLine& event, OnTick&& on_tick)
{
    Applied applied;
    switch (event.event) {
    case Event::PRESS:
        applied.started = session_press(session);
        break;
    case Event::RELEASE:
        session_release(session);
        break;
    case Event::TICK:
        // Once a run has crashed no tick is armed: the rest of the periods pass.
        for (std::uint64_t i = 0; i < event.number && (session.game.state & RUNNING); ++i) {
            applied.crashed = session_fire_tick(session);
            ++applied.ticks;
            on_tick(static_cast<const Session&>(session));
        }
        break;
    case Event::FRAME:
        session_frame(session);
        break;
    case Event::SEED:
        // The seed decides the tunnel of the runs after it, so it is chosen between runs.
        if (!(session.game.state & ARMED)) {
            applied.refused = session.game.state & RUNNING
                                  ? "\"seed\" in the middle of a run"
                                  : "\"seed\" before the crash's burst was shown";
            break;
        }
        random_seed(&session.game.random, static_cast<std::uint32_t>(event.number));
        break;
    case Event::BEST:
        // The store's best changes what the overlay shows, never how the game flies.
        session.game.high_score = static_cast<std::uint32_t>(event.number);
        break;
    case Event::SPEED:
        session.speed = static_cast<int>(event.number);
        break;
    }
    return applied;
}
