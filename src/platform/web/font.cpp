// GLUT's bitmap text in 18-pixel Helvetica, drawn from the table taken from freeglut,
// character by character as freeglut draws it.
#include <GL/freeglut.h>

#include "platform/web/font.h"

// The font's handle: only its address matters, as GLUT_BITMAP_HELVETICA_18 names it.
void* glutBitmapHelvetica18 = nullptr;

namespace {

const Glyph* glyph(void* font, int character)
{
    if (font != GLUT_BITMAP_HELVETICA_18 || character < 1 || character >= FONT_GLYPH_COUNT)
        return nullptr;
    return &FONT_GLYPHS[character];
}

} // namespace

extern "C" {

void glutBitmapCharacter(void* font, int character)
{
    const Glyph* g = glyph(font, character);
    if (g == nullptr)
        return;
    glBitmap(g->width, g->height, g->xorig, g->yorig, g->xmove, g->ymove, FONT_BITS + g->offset);
}

int glutBitmapWidth(void* font, int character)
{
    const Glyph* g = glyph(font, character);
    return g ? static_cast<int>(g->xmove) : 0;
}

int glutBitmapHeight(void* font)
{
    return font == GLUT_BITMAP_HELVETICA_18 ? FONT_LINE_HEIGHT : 0;
}

// The width of the widest line of the text, lines being split at '\n'.
int glutBitmapLength(void* font, const unsigned char* text)
{
    if (glyph(font, 'x') == nullptr || text == nullptr)
        return 0;
    int widest = 0;
    int line = 0;
    for (; *text != '\0'; ++text) {
        if (*text == '\n') {
            line = 0;
            continue;
        }
        line += glutBitmapWidth(font, *text);
        if (line > widest)
            widest = line;
    }
    return widest;
}

} // extern "C"
