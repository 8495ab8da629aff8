// Replays a script of mouse events, tick periods and frames through the game's own code,
// printing one line of flight data per tick.
#pragma once

#include <cstdint>
#include <cstdio>

#include "game/state.h"
#include "session/session.h"

// Exit status of a command line or a script the simulator cannot follow.
inline constexpr int EXIT_BAD_INPUT = 2;
// Exit status when the trace could not be written whole.
inline constexpr int EXIT_WRITE_FAILED = 1;

// Writes the trace of the tick that the game just ran; the simulator's own is write_tick.
using TickWriter = void (*)(const GameState& game, std::FILE* out);

struct ReplayOptions {
    // The seed came from the command line, so the script may not choose another.
    bool seed_chosen = false;
    // The trace reaches out after every line, before the next one is waited for: a
    // program on the other end of a pipe sees the answer to each event at once.
    bool flush_each_line = false;
    TickWriter write_tick = nullptr; // nullptr: the simulator's own
};

// The session as the game opens it: seeded as the game seeds itself, ARMED, best 0 (a
// replay stores nothing; its "best" lines say what the store gave), no tick pending.
void start_replay(Session& sim, std::uint64_t seed);

// Reads events from script one line at a time and runs each before reading the next, so
// a script can be piped in while it is made. A line that is no event stops the replay
// with a message on standard error that names the script and the line; the trace of the
// events before it stays written. So does an event that cannot stand where it does (a
// "seed" in the middle of a run, or any "seed" when options.seed_chosen). Returns the
// exit status: 0, or EXIT_BAD_INPUT.
int replay(Session& sim, std::FILE* script, const char* name, std::FILE* out,
           const ReplayOptions& options = {});
