// The laws of the tunnel: how wide each column's passage is, which columns hold a block,
// how a random draw becomes a fraction, where a new column's passage and block lie, and
// when the ship has crashed. Drawing, the tick, the crash tests and the test bots all ask
// here, so that what is drawn is exactly what is tested.
#pragma once

#include <cstdint>

#include "game/state.h"

// Random draws lie in [0, 2^31), and this divisor is exact as a float. A draw is turned
// into a float first, so the largest draws round up to 2^31 and give a fraction of exactly
// 1: fractions lie in [0, 1], as they always have in this game.
inline constexpr float RANDOM_SPAN = 2147483648.0f;

// Generation index of column i: the tick of the run that made it. The difference is read
// as signed, so that columns left over from the reset come out at zero or below.
inline std::int32_t generation_index(std::uint32_t score, int column)
{
    return static_cast<std::int32_t>(score - static_cast<std::uint32_t>(column));
}

// Half-height of the passage (screen units) of the column made on tick n of a run. Columns
// made before the first tick (n <= 0) are fully open; later ones narrow towards 0.2.
float half_gap(std::int32_t n);

// True when the column of generation index d is the own column of a block: the leftmost
// of the OBSTACLE_WIDTH columns it covers, and the one whose obstacle_center is its height.
// The reset's column d == 0 holds the run's first block, at height 0.
inline bool holds_block(std::int32_t d)
{
    return d >= 0 && d % OBSTACLE_SPACING == 0;
}

// A new passage centre from the draw the tick takes for it: a random step of up to 0.05
// either way from the previous centre, kept inside the band where the passage of
// half-height g stays in the window.
float next_center(float previous, float g, std::int32_t draw);

// Centre of the block that would stand on the new column, from the draw the tick takes
// for it after the centre's: somewhere in its passage, so that a block never reaches into
// the walls while the passage is wide enough for it.
float next_obstacle(float center, float g, std::int32_t draw);

// True when the ship, at height game.trail[0], has crashed on the tick that made
// game.score: out of the window, into a wall of its column, or into a block.
bool ship_crashed(const GameState& game);
