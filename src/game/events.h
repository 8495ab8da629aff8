// What a recording holds: the events that decide a session, each written as one line of
// its word and, for some, a number. The recorder writes these words and every reader of a
// recording (the simulator, the viewer) reads them from this one table, so an event is
// added here once.
#pragma once

#include <cstdint>

#include "game/pace.h"

enum class Event { PRESS, RELEASE, TICK, FRAME, SEED, BEST, SPEED };

// One event with its number: tick periods for TICK, the seed for SEED, the best score for
// BEST, the pace in percent for SPEED; 1 where the word takes none.
struct EventLine {
    Event event;
    std::uint64_t number;
};

// Whether the word is followed by a number.
enum class EventNumber {
    NONE,     // never
    OPTIONAL, // "tick" alone passes one tick
    REQUIRED,
};

struct EventWord {
    Event event;
    const char* word;
    EventNumber number;
    const char* noun; // the number as a message names it
    std::uint64_t least = 0; // the numbers a recording may give
    std::uint64_t most = UINT64_MAX;
};

inline constexpr EventWord EVENT_WORDS[] = {
    {Event::PRESS, "press", EventNumber::NONE, ""},       // a mouse button goes down
    {Event::RELEASE, "release", EventNumber::NONE, ""},   // and up
    {Event::TICK, "tick", EventNumber::OPTIONAL, "tick count"}, // N tick periods pass
    {Event::FRAME, "frame", EventNumber::NONE, ""},       // the window is redrawn
    {Event::SEED, "seed", EventNumber::REQUIRED, "seed"}, // the random sequence's seed
    // The best score as the overlay showed it from then on, where the store made it
    // higher than the session's own runs: its number at start-up, or another game's.
    {Event::BEST, "best", EventNumber::REQUIRED, "best score"},
    // The pace the session is played at from here on (--speed, the page's panel): it
    // changes how fast the ticks come, never what they do.
    {Event::SPEED, "speed", EventNumber::REQUIRED, "speed", SLOWEST_SPEED, FULL_SPEED},
};

constexpr const EventWord& event_word(Event event)
{
    for (const EventWord& entry : EVENT_WORDS)
        if (entry.event == event)
            return entry;
    return EVENT_WORDS[0]; // every event has its row
}
