// A ghost: a recorded run flown again beside the player's, in the same tunnel. The runs
// are exact, so the ghost is not an approximation but the very run, tick by tick: it
// starts on the player's press that starts a run, and every tick the player's run takes
// moves it one tick too, its recorded presses and releases applied between its ticks as
// they were played. It flies a session of its own, its own random sequence included: it
// passes through nothing, and the player's session never learns of it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "session/session.h"

// One press or release of the recorded run, after the press that started it.
struct GhostInput {
    std::uint32_t tick; // ticks of the run flown before it
    bool press;         // thrust_on; false: thrust_off
};

// A recorded run: the seed its tunnel grew from, its inputs in order (at most one a tick:
// only the last before a tick decides it), and the score it crashed with.
struct GhostRun {
    std::uint32_t seed = 0;
    std::uint32_t score = 0;
    const GhostInput* inputs = nullptr;
    std::size_t count = 0;
};

// Ticks of the player's run over which a crashed ghost fades away: about a third of a
// second. A ghost shows no burst.
inline constexpr std::int64_t GHOST_FADE_TICKS = 24;

struct Ghost {
    GhostRun run;
    Session session;              // its game is where the ghost stands: its trail is drawn
    std::size_t next = 0;         // the input to come
    std::int64_t since_crash = 0; // the player's ticks since the ghost crashed
    bool started = false;         // a run of the player's has started it
};

// The player's press has started a run: the ghost starts its run again from its seed,
// its button down, as the recorded press left it.
void ghost_start(Ghost& ghost);

// The player's run took `ticks` ticks: the ghost flies as many, or, once it has crashed,
// counts them as it fades.
void ghost_follow(Ghost& ghost, std::int64_t ticks);

// How brightly the ghost shows: 1 while it flies (and before the player's run has
// flown a tick), falling to 0 over GHOST_FADE_TICKS once it has crashed; 0 before it has
// started and once it has faded.
float ghost_fade(const Ghost& ghost);
