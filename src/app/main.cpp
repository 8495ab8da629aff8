#include <cstdio>
#include <cstdlib>

#include <GL/freeglut.h>

#include "app/shell.h"
#include "app/window.h"
#include "game/run.h"
#include "store/high_score.h"
#include "version.h"

int main(int argc, char** argv)
{
    // Answered before anything touches the window system, the home directory or a file.
    if (wants_version(argc, argv)) {
        std::printf("Skarvolt %s\n", VERSION);
        std::exit(0);
    }
    open_standard_descriptors();

    build_score_path();

    // A program started without even a name still gets a window.
    char fallback_name[] = "skarvolt";
    char* fallback_argv[] = {fallback_name, nullptr};
    if (argc < 1) {
        argc = 1;
        argv = fallback_argv;
    }

    open_window(&argc, argv);
    seed_random();
    start_game();

    glutMainLoop();
    return 0;
}
