// The playfield: trail, tunnel walls, obstacle blocks and the crash burst.
#pragma once

#include "game/state.h"

inline constexpr float COLUMN_WIDTH = 1.0f / 72.0f;
inline constexpr float SHIP_X = -1.0f / 3.0f;
// A picture of the window: cleared, the game of a ghost raced if one is given (under
// everything else, dimmed by ghost_fade as draw_ghost has it), the scene, the score's
// overlay, for a window of width x height pixels. Reads the games and changes nothing.
void draw_frame(const GameState& game, const RandomState& burst, int width, int height,
                const GameState* ghost = nullptr, float ghost_fade = 1.0f);

// Draws the layers that the game's state calls for, and changes nothing of the game. A
// crash burst's rays take their colours and lengths from a copy of burst, two draws a
// ray: the sequence as the frame's take_burst (game/run.h) found it. True when the frame
// shows a burst.
bool draw_scene(const GameState& game, RandomState burst);

// The ship's trail, and the tunnel's ceilings and floors with their blocks.
void draw_trail(const GameState& game);
void draw_walls(const GameState& game);

// Grey, never the player's green: how a ghost's trail shows at its brightest.
inline constexpr float GHOST_GREY = 0.6f;

// A ghost's trail (session/ghost.h), as the player's is drawn but grey, dimmed by fade (from
// 0, nothing drawn, to 1). Drawn before the player's scene, so the player's trail, the
// walls and the blocks cover it; a ghost that flies exactly as the player does is hidden
// under the player's trail.
void draw_ghost(const GameState& ghost, float fade);
