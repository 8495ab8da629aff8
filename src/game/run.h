// Runs, the player's input and the flight tick: the game's rules for what happens when.
// Every rule acts on the game it is given and on nothing else; what the platform must do
// about it (arm the tick timer, redraw, store the best score) it is told by what the rule
// returns, and the time, where a rule needs it, is the platform's to give.
#pragma once

#include <cstdint>

#include "game/state.h"

// What the ticks that were due did, for the platform to act on.
struct TickResult {
    std::int64_t ticks; // how many ran: at least one
    bool crashed;       // the last of them crashed the run: the best score is to be stored,
                        // and no tick follows
    Micros next_due;    // while the run goes on, when its next tick is due
};

// The title screen: ARMED, the high score 0 until the platform loads the best score
// stored. Called once, after the game's random sequence is seeded.
void start_game(Game& game);

// The game's one button. thrust_on climbs during a run and starts a run when armed;
// thrust_off lets the ship fall. Every button of every device maps onto these two, and
// the latest one decides, whatever else is still held. thrust_on is true when it started
// a run at `now`: its first tick is due at pace_next_due(game.pace).
bool thrust_on(Game& game, Micros now);
void thrust_off(Game& game);

// The tick timer fired at `now`: the ticks of flight that are due on the run's clock, each
// with its tunnel generation and crash tests; one, unless the last frame took longer than
// a tick. Called only while a run is in progress.
TickResult tick(Game& game, Micros now);

// A game flown on a clock of its own, each tick fired exactly when it falls due (the
// simulator's replays, the viewer's recordings): *clock is that clock, *tick_delay_ms
// what the armed tick waits. A press that starts a run arms its first tick; a tick moves
// the clock on by the wait it was armed with and arms the next, unless the run crashed.
bool thrust_on_timed(Game& game, Micros clock, unsigned* tick_delay_ms);
TickResult tick_timed(Game& game, Micros* clock, unsigned* tick_delay_ms);

// A crash may be followed by a new run only once its burst has been shown: take_burst
// arms it.
inline void arm_after_crash(GameState& game)
{
    game.state |= ARMED;
}

// A frame is shown over a crash: its burst's rays are drawn from the game's sequence as it
// stands, which is returned for the drawing to read; the game's sequence moves on past
// the burst's draws (BURST_RAYS rays, a colour and a length each), and the next run may
// start. Every frame over a crash takes a burst of its own, so how many were shown
// changes the next run's tunnel, and a replay counts on it. Called only while CRASHED.
RandomState take_burst(Game& game);
