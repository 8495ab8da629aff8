// The one record of everything the game knows, its constants and the passage law.
#pragma once

#include <cstdint>

inline constexpr int COLUMNS = 144;
inline constexpr int TRAIL_LEN = 48;
inline constexpr int SHIP_COLUMN = 96;
inline constexpr unsigned TICK_MS = 12;
inline constexpr int OBSTACLE_SPACING = 50;
inline constexpr int OBSTACLE_WIDTH = 3;
inline constexpr float THRUST = 0.001f;
inline constexpr float OBSTACLE_HALF_HEIGHT = 0.15f;

// The trail reaches from the ship's column to the left edge of the window.
static_assert(TRAIL_LEN == COLUMNS - SHIP_COLUMN);

// Flags of GameState::state. Only 2, 1, 4 and 6 ever occur once start-up is done.
inline constexpr int RUNNING = 1;
inline constexpr int ARMED = 2;
inline constexpr int CRASHED = 4;

inline constexpr int SCORE_PATH_SIZE = 256;

// Index 0 of every array is the newest entry: the column at the right edge, the ship's
// current height. Every tick moves every entry one index up.
struct GameState {
    float tunnel_center[COLUMNS];
    float obstacle_center[COLUMNS];
    float trail[TRAIL_LEN];
    float accel;
    float velocity;
    std::uint32_t score;
    std::uint32_t high_score;
    int state;
    int win_width;
    int win_height;
    char score_path[SCORE_PATH_SIZE];
};

// Zero at program start; GLUT callbacks carry no context, so every one reaches it here.
extern GameState game;

// Half-height of the passage of the column made on tick n of a run. Columns made before
// the first tick (n <= 0) are fully open.
float half_gap(std::int32_t n);

// Generation index of column i: the tick that made it, read as signed so that columns
// left over from the reset come out at zero or below.
inline std::int32_t generation_index(std::uint32_t score, int column)
{
    return static_cast<std::int32_t>(score - static_cast<std::uint32_t>(column));
}
