// Checks the browser's glyph table against freeglut as it really draws: every character
// is drawn with the system's freeglut and GL into a window (run it in an Xvfb), read
// back, and compared pixel for pixel with the table's bitmap at the same place; its
// advance must be freeglut's width, and a whole line must measure what freeglut says.
//
//   font_check        (exit status 0 when the table equals freeglut's, 1 otherwise)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <GL/freeglut.h>

#include "platform/web/font.h"

namespace {

constexpr int SIZE = 64;
constexpr int ORIGIN = 16; // the raster position, in window pixels from the lower left

bool table_pixel(const Glyph& g, int x, int y)
{
    const int col = x - (ORIGIN - static_cast<int>(g.xorig));
    const int row = y - (ORIGIN - static_cast<int>(g.yorig));
    if (col < 0 || col >= g.width || row < 0 || row >= g.height)
        return false;
    const unsigned char byte = FONT_BITS[g.offset + row * ((g.width + 7) / 8) + col / 8];
    return (byte >> (7 - col % 8)) & 1;
}

int check_glyphs()
{
    int wrong = 0;
    std::vector<unsigned char> pixels(SIZE * SIZE * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    for (int c = 1; c < FONT_GLYPH_COUNT; ++c) {
        const Glyph& g = FONT_GLYPHS[c];
        glClear(GL_COLOR_BUFFER_BIT);
        glColor3f(1.0f, 1.0f, 1.0f);
        // Window pixel ORIGIN in normalised coordinates, the projection being identity.
        const float at = -1.0f + 2.0f * ORIGIN / SIZE;
        glRasterPos2f(at, at);
        glutBitmapCharacter(GLUT_BITMAP_HELVETICA_18, c);
        glFinish();
        glReadPixels(0, 0, SIZE, SIZE, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
        int differ = 0;
        for (int y = 0; y < SIZE; ++y)
            for (int x = 0; x < SIZE; ++x) {
                const bool lit = pixels[(y * SIZE + x) * 3] > 127;
                differ += lit != table_pixel(g, x, y);
            }
        const int advance = glutBitmapWidth(GLUT_BITMAP_HELVETICA_18, c);
        if (differ > 0 || static_cast<float>(advance) != g.xmove || g.ymove != 0.0f) {
            std::fprintf(stderr, "character %d: %d pixels differ; advance %d in freeglut, %g in "
                                 "the table\n", c, differ, advance, static_cast<double>(g.xmove));
            ++wrong;
        }
    }
    return wrong;
}

int check_lengths()
{
    static const char* const lines[] = {"HS: 0", "45 (HS: 45)", "4294967295 (HS: 4294967295)",
                                        "Skarvolt", "two\nlines"};
    int wrong = 0;
    for (const char* line : lines) {
        int widest = 0, width = 0;
        for (const char* p = line; *p; ++p) {
            width = *p == '\n' ? 0 : width + static_cast<int>(
                FONT_GLYPHS[static_cast<unsigned char>(*p)].xmove);
            widest = width > widest ? width : widest;
        }
        const int measured = glutBitmapLength(GLUT_BITMAP_HELVETICA_18,
                                              reinterpret_cast<const unsigned char*>(line));
        if (measured != widest) {
            std::fprintf(stderr, "\"%s\": %d pixels wide in freeglut, %d by the table\n", line,
                         measured, widest);
            ++wrong;
        }
    }
    if (glutBitmapHeight(GLUT_BITMAP_HELVETICA_18) != FONT_LINE_HEIGHT) {
        std::fprintf(stderr, "line height %d in freeglut, %d in the table\n",
                     glutBitmapHeight(GLUT_BITMAP_HELVETICA_18), FONT_LINE_HEIGHT);
        ++wrong;
    }
    return wrong;
}

void on_display()
{
    const int wrong = check_glyphs() + check_lengths();
    if (wrong == 0)
        std::printf("the glyph table equals freeglut's 18-pixel Helvetica\n");
    std::exit(wrong == 0 ? 0 : 1);
}

} // namespace

int main(int argc, char** argv)
{
    glutInitWindowSize(SIZE, SIZE);
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_SINGLE | GLUT_RGB);
    glutCreateWindow("font_check");
    glutDisplayFunc(on_display);
    glutMainLoop();
    return 1;
}
