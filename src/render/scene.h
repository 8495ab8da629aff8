// The playfield: trail, tunnel walls, obstacle blocks and the crash burst.
#pragma once

inline constexpr float COLUMN_WIDTH = 1.0f / 72.0f;
inline constexpr float SHIP_X = -1.0f / 3.0f;
inline constexpr int BURST_RAYS = 360;

// Draws the layers that the game's state calls for. The frame that shows a crash burst
// is also what arms the next run.
void draw_scene();

// The ship's trail, and the tunnel's ceilings and floors with their blocks.
void draw_trail();
void draw_walls();
