// Replays a script of mouse events, tick periods and frames through the game's own code,
// printing one line of flight data per tick.
#pragma once

#include <cstdint>
#include <cstdio>

// Exit status of a command line or a script the simulator cannot follow.
inline constexpr int EXIT_BAD_INPUT = 2;
// Exit status when the trace could not be written whole.
inline constexpr int EXIT_WRITE_FAILED = 1;

// Longest event line, comment excluded.
inline constexpr int MAX_EVENT_LINE = 255;

// Longest text that escape_text makes of one byte.
inline constexpr int ESCAPED_BYTE_MAX = 4;

enum class EventKind { NONE, PRESS, RELEASE, TICK, FRAME, SEED };

struct Event {
    EventKind kind;
    std::uint64_t ticks; // tick periods, for TICK
    std::uint64_t seed;  // for SEED
};

// Writes the trace of the tick that just ran; the simulator's own is write_tick.
using TickWriter = void (*)(std::FILE* out);

struct ReplayOptions {
    // The seed came from the command line, so the script may not choose another.
    bool seed_chosen = false;
    // The trace reaches out after every line, before the next one is waited for: a
    // program on the other end of a pipe sees the answer to each event at once.
    bool flush_each_line = false;
    TickWriter write_tick = nullptr; // nullptr: the simulator's own
};

// Copies text into out (size bytes, cut short if longer) with every byte that a terminal
// could take as a command, and every byte outside printable ASCII, written as an escape
// (\t, \r, \n, \\ or \xHH), so that messages never hand a script's bytes to the terminal.
void escape_text(const char* text, char* out, int size);

// Writes text to stream escaped as escape_text does.
void put_escaped(const char* text, std::FILE* stream);

// An unsigned decimal of up to 64 bits: digits only, no sign, no blanks, not empty.
bool parse_count(const char* text, std::uint64_t* value);

// Reads one script line whose comment is already cut off. A blank line is the event
// NONE. On a line that is no event, writes the reason into reason (size bytes) and
// returns false.
bool parse_event(const char* line, Event* event, char* reason, int size);

// Seeds the random generator as the game seeds itself: the seed narrowed to the
// generator's 32 bits.
void seed_generator(std::uint64_t seed);

// The game as it stands after start-up: seeded as the game seeds itself, window of the
// game's size, ARMED, high score 0, no tick pending.
void start_replay(std::uint64_t seed);

// Runs one event and writes the trace of the ticks that ran to out.
void run_event(const Event& event, std::FILE* out, TickWriter write = nullptr);

// Reads events from script one line at a time and runs each before reading the next, so
// a script can be piped in while it is made. A line that is no event stops the replay
// with a message on standard error that names the script and the line; the trace of the
// events before it stays written. A "seed" line may only come before every other event,
// and only when options.seed_chosen is false. Returns the exit status: 0, or
// EXIT_BAD_INPUT.
int replay(std::FILE* script, const char* name, std::FILE* out,
           const ReplayOptions& options = {});
