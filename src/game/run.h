// Runs, the player's input and the flight tick: the game's rules for what happens when.
#pragma once

#include "game/state.h"

// The title screen: ARMED, the high score loaded through the crash hook. Called once, after
// the random generator is seeded.
void start_game();

// The game's one button. thrust_on climbs during a run and starts a run when armed;
// thrust_off lets the ship fall. Every button of every device maps onto these two, and
// the latest one decides, whatever else is still held.
void thrust_on();
void thrust_off();

// GLUT timer callback: the ticks of flight that are due on the run's clock, each with its
// tunnel generation and crash tests; one, unless the last frame took longer than a tick.
// Arms the next tick unless the run crashed.
void on_tick(int value);

// A crash may be followed by a new run only once its burst has been shown: the frame that
// draws the burst calls this. (Inline, so that drawing needs nothing else of the rules.)
inline void arm_after_crash()
{
    game.state |= ARMED;
}
