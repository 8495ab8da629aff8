// The playfield: trail, tunnel walls, obstacle blocks and the crash burst.
#pragma once

#include "game/state.h"

inline constexpr float COLUMN_WIDTH = 1.0f / 72.0f;
inline constexpr float SHIP_X = -1.0f / 3.0f;
inline constexpr int BURST_RAYS = 360;

// Draws the layers that the game's state calls for, and changes nothing of the game.
// A crash burst's rays take their colours and lengths from burst, two draws a ray. The
// shell hands it the game's own sequence, on purpose: how many crash frames were drawn
// changes the next run's tunnel, and replays count on it. True when the frame showed a
// burst: the shell then arms the next run (arm_after_crash).
bool draw_scene(const GameState& game, RandomState& burst);

// Takes from burst exactly the draws that a frame showing the burst takes, drawing
// nothing: where the game's sequence stands after such a frame, for a viewer that steps
// through a recording without drawing each of its frames.
void take_burst_draws(RandomState& burst);

// The ship's trail, and the tunnel's ceilings and floors with their blocks.
void draw_trail(const GameState& game);
void draw_walls(const GameState& game);

// Grey, never the player's green: how a ghost's trail shows at its brightest.
inline constexpr float GHOST_GREY = 0.6f;

// A ghost's trail (game/ghost.h), as the player's is drawn but grey, dimmed by fade (from
// 0, nothing drawn, to 1). Drawn before the player's scene, so the player's trail, the
// walls and the blocks cover it; a ghost that flies exactly as the player does is hidden
// under the player's trail.
void draw_ghost(const GameState& ghost, float fade);
