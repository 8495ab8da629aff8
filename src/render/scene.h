// The playfield: trail, tunnel walls, obstacle blocks and the crash burst.
#pragma once

#include "game/state.h"

inline constexpr float COLUMN_WIDTH = 1.0f / 72.0f;
inline constexpr float SHIP_X = -1.0f / 3.0f;
// A picture of the window: cleared, the scene, the score's overlay, for a window of
// width x height pixels. Reads the game and changes nothing of it.
void draw_frame(const GameState& game, const RandomState& burst, int width, int height);

// Draws the layers that the game's state calls for, and changes nothing of the game. A
// crash burst's rays take their colours and lengths from a copy of burst, two draws a
// ray: the sequence as the frame's take_burst (game/run.h) found it. True when the frame
// shows a burst.
bool draw_scene(const GameState& game, RandomState burst);

// The ship's trail, and the tunnel's ceilings and floors with their blocks.
void draw_trail(const GameState& game);
void draw_walls(const GameState& game);
