// The desktop's 18-pixel Helvetica, as freeglut draws it: one bitmap per character code,
// written at build time by font_dump from the system's freeglut.
#pragma once

#include <cstddef>

inline constexpr int FONT_GLYPH_COUNT = 256;

// What freeglut gives glBitmap for one character: the bitmap's size, its origin relative
// to the raster position, the raster's move, and where its rows start in FONT_BITS. Rows
// run bottom to top, each (width + 7) / 8 bytes, most significant bit leftmost.
struct Glyph {
    int width;
    int height;
    float xorig;
    float yorig;
    float xmove;
    float ymove;
    std::size_t offset;
};

// Character 0 has no glyph: freeglut draws nothing for it.
extern const Glyph FONT_GLYPHS[FONT_GLYPH_COUNT];
extern const unsigned char FONT_BITS[];
extern const int FONT_LINE_HEIGHT;
