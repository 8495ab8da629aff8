// Fixed-function GL 1.x drawing over WebGL: the game calls the GL 1.x functions it knows
// (glBegin, glVertex2f, glPushMatrix, glRasterPos2f, glBitmap, ...), which this layer
// defines; clear, clear colour and viewport go to WebGL as they are.
#pragma once

// Compiles the layer's shader program on the current WebGL context.
void fixed_function_init();

// Draws what has been collected so far; the window system calls it before the picture
// is shown.
void fixed_function_flush();

// How many of the screen's pixels each pixel of a bitmap covers, across and up: a whole
// number, so that every pixel of a glyph becomes a whole square block. 1 until set.
void fixed_function_bitmap_scale(int scale);
