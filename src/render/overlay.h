// The score box in the lower-left corner of the window.
#pragma once

#include "game/state.h"

inline constexpr int OVERLAY_BOX_HEIGHT = 18;

// Draws the box and the text in a window of width x height pixels; the box and glyphs keep
// their pixel size whatever the window's size.
void draw_overlay(const GameState& game, int width, int height);
