// The game's picture drawn off-screen, with the window's own scene and overlay code.
#pragma once

#include <cstdint>

#include "game/state.h"

// True when this build can draw off-screen.
bool can_render();

// Draws game (a copy: a crash's burst takes draws of its own) as a window of width x
// height shows it, into rgb (height rows of width * 3 bytes, the top row first). nullptr
// on success, else why it could not.
const char* render_game(Game game, int width, int height, std::uint8_t* rgb);
