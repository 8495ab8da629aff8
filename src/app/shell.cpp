#include "app/shell.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <GL/freeglut.h>
#include <libgen.h>

#include "app/record.h"
#include "game/random.h"
#include "game/run.h"
#include "game/state.h"
#include "render/overlay.h"
#include "render/scene.h"

namespace {

constexpr char DEFAULT_TITLE[] = "Skarvolt";
constexpr unsigned char KEY_ESCAPE = 27;

} // namespace

bool wants_version(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-v") == 0 || std::strcmp(argv[i], "--version") == 0)
            return true;
    return false;
}

std::uint32_t seed_random()
{
    std::uint64_t seed = 1;
    if (std::FILE* device = std::fopen("/dev/random", "rb")) {
        // Whatever a short read leaves in the seed is as good a seed as any, so the count
        // read only needs to be taken (the C library insists that it is).
        [[maybe_unused]] const std::size_t got = std::fread(&seed, sizeof seed, 1, device);
        std::fclose(device);
    } else {
        std::perror("fopen");
    }
    random_seed(&game_random, static_cast<std::uint32_t>(seed));
    return static_cast<std::uint32_t>(seed);
}

const char* window_title(int argc, char** argv)
{
    if (argc < 1 || argv[0] == nullptr)
        return DEFAULT_TITLE;
    const char* base = basename(argv[0]);
    return base ? base : DEFAULT_TITLE;
}

void on_mouse(int /*button*/, int button_state, int /*x*/, int /*y*/)
{
    if (button_state == GLUT_DOWN)
        record_input("press", thrust_on);
    else
        record_input("release", thrust_off);
}

void on_display()
{
    // A frame over a crash draws its burst from the random sequence, and the first one
    // lets the next run start: a replay must draw it too.
    if (game.state & CRASHED)
        record_crash_frame();
    glClear(GL_COLOR_BUFFER_BIT);
    draw_scene();
    draw_overlay();
    glutSwapBuffers();
}

void on_key(unsigned char key, int /*x*/, int /*y*/)
{
    if (key == 'q' || key == 'Q' || key == KEY_ESCAPE)
        std::exit(0);
}

void on_reshape(int width, int height)
{
    game.win_width = width;
    game.win_height = height;
    glViewport(0, 0, width, height);
    glLoadIdentity();
}
