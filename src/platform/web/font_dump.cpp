// Writes the web game's glyph table for 18-pixel Helvetica from the system's freeglut, so
// that the browser draws exactly the desktop's text. freeglut draws each character with
// one glBitmap call; this program defines glBitmap itself, which the dynamic linker binds
// in place of the GL library's, and records what freeglut hands over for every character.
//
//   font_dump OUT.cpp        (needs an X display: freeglut opens one in glutInit)
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <GL/freeglut.h>

#include "platform/web/font.h"

namespace {

struct Captured {
    bool seen = false;
    int width = 0, height = 0;
    float xorig = 0, yorig = 0, xmove = 0, ymove = 0;
    std::vector<unsigned char> bits;
};

Captured captured;
int unpack_alignment = 4;

} // namespace

extern "C" {

void glBitmap(GLsizei width, GLsizei height, GLfloat xorig, GLfloat yorig, GLfloat xmove,
              GLfloat ymove, const GLubyte* bitmap)
{
    captured.seen = true;
    captured.width = width;
    captured.height = height;
    captured.xorig = xorig;
    captured.yorig = yorig;
    captured.xmove = xmove;
    captured.ymove = ymove;
    const int stride = ((width + 7) / 8 + unpack_alignment - 1) / unpack_alignment
                       * unpack_alignment;
    // Rows are kept packed to whole bytes, whatever alignment freeglut asked for.
    captured.bits.clear();
    for (int row = 0; row < height; ++row)
        for (int byte = 0; byte < (width + 7) / 8; ++byte)
            captured.bits.push_back(bitmap[row * stride + byte]);
}

void glPixelStorei(GLenum name, GLint value)
{
    if (name == GL_UNPACK_ALIGNMENT)
        unpack_alignment = value;
}

} // extern "C"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: font_dump OUT.cpp\n");
        return 2;
    }
    int glut_argc = 1;
    char name[] = "font_dump";
    char* glut_argv[] = {name, nullptr};
    glutInit(&glut_argc, glut_argv);

    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out, "// Written by font_dump from the system's freeglut; do not edit.\n"
                      "#include \"platform/web/font.h\"\n\n");
    std::vector<unsigned char> all_bits;
    std::fprintf(out, "const Glyph FONT_GLYPHS[FONT_GLYPH_COUNT] = {\n");
    for (int c = 0; c < FONT_GLYPH_COUNT; ++c) {
        captured = Captured{};
        if (c > 0)
            glutBitmapCharacter(GLUT_BITMAP_HELVETICA_18, c);
        const int advance = glutBitmapWidth(GLUT_BITMAP_HELVETICA_18, c);
        if (captured.seen && captured.xmove != static_cast<float>(advance)) {
            std::fprintf(stderr, "font_dump: character %d moves by %g but is %d wide\n", c,
                         static_cast<double>(captured.xmove), advance);
            return 1;
        }
        std::fprintf(out, "    {%d, %d, %.9g, %.9g, %.9g, %.9g, %zu},\n", captured.width,
                     captured.height, static_cast<double>(captured.xorig),
                     static_cast<double>(captured.yorig), static_cast<double>(captured.xmove),
                     static_cast<double>(captured.ymove), all_bits.size());
        all_bits.insert(all_bits.end(), captured.bits.begin(), captured.bits.end());
    }
    std::fprintf(out, "};\n\nconst unsigned char FONT_BITS[] = {");
    for (std::size_t i = 0; i < all_bits.size(); ++i)
        std::fprintf(out, "%s0x%02x,", i % 16 == 0 ? "\n    " : " ", all_bits[i]);
    std::fprintf(out, "\n};\n\nconst int FONT_LINE_HEIGHT = %d;\n",
                 glutBitmapHeight(GLUT_BITMAP_HELVETICA_18));
    if (std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
