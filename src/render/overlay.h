// The score box in the lower-left corner of the window.
#pragma once

inline constexpr int OVERLAY_TEXT_SIZE = 32;
inline constexpr int OVERLAY_BOX_HEIGHT = 18;

// Writes the text that the overlay shows for the current state into text (a buffer of
// OVERLAY_TEXT_SIZE bytes) and returns its length; 0 when the state shows no text.
int overlay_text(char* text);

// Draws the box and the text; the box and glyphs keep their pixel size whatever the
// window's size.
void draw_overlay();
