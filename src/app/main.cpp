#include <cstdio>
#include <cstdlib>

#include <GL/freeglut.h>

#include "app/controls.h"
#include "app/record.h"
#include "app/shell.h"
#include "app/window.h"
#include "store/high_score.h"
#include "version.h"

int main(int argc, char** argv)
{
    // Answered before anything touches the window system, the home directory or a file.
    if (wants_version(argc, argv)) {
        std::printf("Skarvolt %s\n", VERSION);
        std::exit(0);
    }
    if (wants_help(argc, argv)) {
        print_usage();
        std::exit(0);
    }
    open_standard_descriptors();

    if (!take_controls(&argc, argv))
        return EXIT_BAD_OPTION;

    // GLUT must not see --record, and a recording that cannot be made is said before any
    // window opens.
    const char* record_path = nullptr;
    if (!take_record_option(&argc, argv, &record_path))
        return EXIT_BAD_RECORD;
    if (record_path != nullptr) {
        if (!start_recording(record_path))
            return EXIT_BAD_RECORD;
        // The quit keys and a closed window all end in exit: the recording keeps the
        // ticks of a run in progress.
        std::atexit(finish_recording);
    }

    build_score_path(game);

    // A program started without even a name still gets a window.
    char fallback_name[] = "skarvolt";
    char* fallback_argv[] = {fallback_name, nullptr};
    if (argc < 1) {
        argc = 1;
        argv = fallback_argv;
    }

    open_window(&argc, argv);
    record_seed(seed_random());
    open_title_screen();

    glutMainLoop();
    return 0;
}
