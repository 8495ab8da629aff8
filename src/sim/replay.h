// Replays a script of mouse events, tick periods and frames through the game's own code,
// printing one line of flight data per tick.
#pragma once

#include <cstdint>
#include <cstdio>

#include "game/state.h"

// Exit status of a command line or a script the simulator cannot follow.
inline constexpr int EXIT_BAD_INPUT = 2;
// Exit status when the trace could not be written whole.
inline constexpr int EXIT_WRITE_FAILED = 1;

// Writes the trace of the tick that the game just ran; the simulator's own is write_tick.
using TickWriter = void (*)(const GameState& game, std::FILE* out);

// A game without a window: its clock moves only when a tick fires, by the delay the tick
// was armed with, so every tick comes exactly on time. A run keeps one tick armed while it
// is in progress (RUNNING). Nothing of it lives elsewhere: a copy is a snapshot.
struct SimGame {
    Game game;
    Micros clock = 0;
    unsigned tick_delay_ms = 0; // what the armed tick waits
};

struct ReplayOptions {
    // The seed came from the command line, so the script may not choose another.
    bool seed_chosen = false;
    // The trace reaches out after every line, before the next one is waited for: a
    // program on the other end of a pipe sees the answer to each event at once.
    bool flush_each_line = false;
    TickWriter write_tick = nullptr; // nullptr: the simulator's own
};

// The game as it stands after start-up: seeded as the game seeds itself, window of the
// game's size, ARMED, high score 0, no tick pending.
void start_replay(SimGame& sim, std::uint64_t seed);

// A press: thrust_on, and the run's first tick armed when it started one.
void sim_press(SimGame& sim);

// The armed tick fires: the clock moves on, the tick runs, and the next one is armed
// unless it crashed, when the best score is merged as the game merges it. False, and
// nothing done, when no tick is armed.
bool sim_fire_tick(SimGame& sim);

// Reads events from script one line at a time and runs each before reading the next, so
// a script can be piped in while it is made. A line that is no event stops the replay
// with a message on standard error that names the script and the line; the trace of the
// events before it stays written. A "seed" line may only come before every other event,
// and only when options.seed_chosen is false. Returns the exit status: 0, or
// EXIT_BAD_INPUT.
int replay(SimGame& sim, std::FILE* script, const char* name, std::FILE* out,
           const ReplayOptions& options = {});
