// The window's size and what the command line may ask of it: no call that opens a window,
// so the shell's tests link it.
#include <cstdio>
#include <cstring>

#include <GL/freeglut.h>

#include "app/window.h"
#include "game/state.h"

namespace {

WindowSize size{WINDOW_WIDTH, WINDOW_HEIGHT};

// The largest window side that -geometry may ask for: beyond it GL drivers give up (a
// 32767 by 32767 window crashes inside one), and no screen is that large.
constexpr long MAX_WINDOW_SIDE = 16384;
// Window positions are 16-bit on the X server.
constexpr long MAX_WINDOW_OFFSET = 32767;

// Reads one or more digits at *text as a number from min to max, and moves past them.
bool read_number(const char** text, long min, long max, long* value)
{
    const char* p = *text;
    long n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        n = n * 10 + (*p - '0');
        if (n > max)
            return false;
    }
    if (p == *text || n < min)
        return false;
    *text = p;
    *value = n;
    return true;
}

} // namespace

WindowSize window_size()
{
    return size;
}

void on_reshape(int width, int height)
{
    size = {width, height};
    glViewport(0, 0, width, height);
    glLoadIdentity();
}

bool good_geometry(const char* text)
{
    long ignored = 0;
    const char* p = text + (*text == '=' ? 1 : 0);
    const char* start = p;
    if (*p >= '0' && *p <= '9' && !read_number(&p, 1, MAX_WINDOW_SIDE, &ignored))
        return false;
    if (*p == 'x' || *p == 'X') {
        ++p;
        if (!read_number(&p, 1, MAX_WINDOW_SIDE, &ignored))
            return false;
    }
    // A position is both offsets or none.
    if (*p == '+' || *p == '-') {
        for (int offset = 0; offset < 2; ++offset) {
            if (*p != '+' && *p != '-')
                return false;
            ++p;
            if (!read_number(&p, 0, MAX_WINDOW_OFFSET, &ignored))
                return false;
        }
    }
    return *p == '\0' && p != start;
}

bool geometry_options_good(int argc, char** argv)
{
    // The value of -display is skipped: it is GLUT's too.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-display") == 0) {
            ++i;
        } else if (std::strcmp(argv[i], "-geometry") == 0) {
            if (i + 1 == argc || !good_geometry(argv[++i])) {
                std::fprintf(stderr, "skarvolt: -geometry takes WIDTHxHEIGHT, each from 1 to "
                                     "%ld, and may add a position +X+Y\n",
                             MAX_WINDOW_SIDE);
                return false;
            }
        }
    }
    return true;
}
