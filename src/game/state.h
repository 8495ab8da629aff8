// The record of everything a game knows, with its random sequence, and the game's constants.
//
// Units: heights, accel and velocity are in screen units, the window spanning -1 (bottom)
// to +1 (top) whatever its size in pixels; time is counted in ticks of TICK_MS.
#pragma once

#include <cfloat>
#include <cstdint>

#include "game/random.h"

// Every float step of the game is rounded to single precision, and every double step to
// double: where the compiler carries them in a wider format, as the x87 unit of 32-bit
// x86 does, the same seed flies a different tunnel from the first tick on.
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "floats would be carried in a wider format here, and the same seed would fly another tunnel: on 32-bit x86 add -msse2 -mfpmath=sse (the CMake build does), elsewhere the compiler's option for plain IEEE float arithmetic"
#endif

inline constexpr int COLUMNS = 144;            // tunnel columns across the window, 1/72 wide each
inline constexpr int TRAIL_LEN = 48;           // ship heights kept, one per tick
inline constexpr int SHIP_COLUMN = 96;         // column the ship flies in; its right edge is x = -1/3
inline constexpr unsigned TICK_MS = 12;        // milliseconds between ticks
inline constexpr int OBSTACLE_SPACING = 50;    // columns (ticks) from one block to the next
inline constexpr int OBSTACLE_WIDTH = 3;       // columns covered by one block
inline constexpr float THRUST = 0.001f;        // change of velocity per tick, screen units
inline constexpr float OBSTACLE_HALF_HEIGHT = 0.15f; // screen units
inline constexpr int BURST_RAYS = 360;         // rays of a crash's burst, two draws each

// The window the game opens with, in pixels; the player may resize it, and the picture
// of a training environment may be of any size. The rules never depend on it.
inline constexpr int WINDOW_WIDTH = 400;
inline constexpr int WINDOW_HEIGHT = 300;

// The trail reaches from the ship's column to the left edge of the window.
static_assert(TRAIL_LEN == COLUMNS - SHIP_COLUMN);

// Flags of GameState::state, and who moves the game from one value to the next:
//
//   0 -> 2  ARMED            start_game, at start-up: the title screen
//   2 -> 1  RUNNING          thrust_on while ARMED (start_run)
//   1 -> 4  CRASHED          tick, the tick whose crash test holds
//   4 -> 6  CRASHED|ARMED    arm_after_crash, once a frame has shown the burst
//   6 -> 1  RUNNING          thrust_on while ARMED (start_run)
//
// No other value ever occurs. 2 alone therefore means "before the first run": after a
// crash the state is 6, never 2, and the overlay tells the title screen by that.
inline constexpr int RUNNING = 1;
inline constexpr int ARMED = 2;
inline constexpr int CRASHED = 4;

// Microseconds on a clock that only goes forward; where it starts does not matter.
using Micros = std::int64_t;

// The run's clock, kept by game/pace.h: the next tick is due at origin + (ticks + 1) ticks.
struct Pace {
    Micros origin;      // when the count began: the run's start, or the end of a stall
    std::int64_t ticks; // ticks counted since origin
};

// Index 0 of every array is the newest entry: the column at the right edge, the ship's
// current height. Every tick moves every entry one index up.
struct GameState {
    float tunnel_center[COLUMNS];   // centre height of each column's passage
    float obstacle_center[COLUMNS]; // height of the block whose own column this is
    float trail[TRAIL_LEN];         // the ship's height now (0) and i ticks ago (i)
    float accel;                    // change of velocity per tick: +THRUST or -THRUST
    float velocity;                 // change of height per tick, without bound
    std::uint32_t score;            // ticks of this run, or of the run that crashed
    std::uint32_t high_score;       // best score known, in memory
    int state;                      // RUNNING, ARMED, CRASHED flags, above
    Pace pace;                      // when the run's next tick is due
};

// One game: everything it knows, and the random sequence it draws from: two draws a tick
// for the tunnel, two a ray for the crash burst. Nothing of one game lives outside it, so
// games never touch each other, and a copy is a snapshot that flies on exactly as the
// original would.
struct Game : GameState {
    // Every game starts as a program's one game does, all zero, wherever it is made: a
    // local or member Game would otherwise begin with whatever its memory held.
    Game() : GameState{} {}
    RandomState random = random_seeded(1); // until the shell seeds it
};
