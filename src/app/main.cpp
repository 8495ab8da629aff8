#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <GL/freeglut.h>

#include "app/controls.h"
#include "app/ghost.h"
#include "app/options.h"
#include "app/playback.h"
#include "app/record.h"
#include "app/shell.h"
#include "app/startup.h"
#include "app/viewer.h"
#include "app/window.h"
#include "store/high_score.h"
#include "version.h"

namespace {

// The GL driver may keep compiled shaders in a cache under the home directory, which a
// picture drawn with fixed functions gains nothing from; and on a home with no room left,
// Mesa's cache dies with SIGBUS in a thread of its own and takes the game and its best
// score with it. Off, unless the player turned it on or off themselves; the older name too.
void keep_shader_cache_off()
{
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    setenv("MESA_GLSL_CACHE_DISABLE", "true", 0);
}

// An option given beside it (its value, or nullptr when it was not) that `option` cannot
// go with.
struct Beside {
    const char* name;
    const char* value;
};

// False, after one line naming both, when any of `others` was given beside `option`.
bool goes_alone(const char* option, std::initializer_list<Beside> others)
{
    for (const Beside& other : others) {
        if (other.value != nullptr) {
            std::fprintf(stderr, "skarvolt: %s and %s cannot go together\n", option,
                         other.name);
            return false;
        }
    }
    return true;
}

} // namespace

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

    // GLUT must not see --record, and a command line or a recording that cannot be
    // followed is said before any window opens.
    const char* record_path = nullptr;
    if (!take_record_option(&argc, argv, &record_path))
        return EXIT_BAD_RECORD;
    // A recording to watch is read whole, and refused, before the window opens.
    const char* play_path = nullptr;
    if (!take_file_option(&argc, argv, "--play", &play_path))
        return EXIT_BAD_RECORD;
    OptionGiven seed;
    if (!take_option("skarvolt", GAME_OPTIONS[OPTION_SEED], &argc, argv, &seed))
        return EXIT_BAD_OPTION;
    // A ghost to race is read, and refused, before the window opens too; its run's seed
    // is the one every run flies.
    const char* ghost_path = nullptr;
    if (!take_file_option(&argc, argv, "--ghost", &ghost_path))
        return EXIT_BAD_RECORD;
    // What is left is GLUT's; a mistyped option is said, never played without a word.
    if (!only_glut_arguments(argc, argv))
        return EXIT_BAD_OPTION;
    static GhostRecording ghost;
    if (ghost_path != nullptr) {
        if (!goes_alone("--ghost", {{"--play", play_path}, {"--seed", seed.text}}))
            return EXIT_BAD_RECORD;
        if (!load_ghost(ghost_path, &ghost))
            return EXIT_BAD_RECORD;
    }
    static RecordedSession session;
    if (play_path != nullptr) {
        if (!goes_alone("--play", {{"--record", record_path}, {"--seed", seed.text}}))
            return EXIT_BAD_RECORD;
        if (!load_session(play_path, &session))
            return EXIT_BAD_RECORD;
    }
    if (!geometry_options_good(argc, argv))
        return EXIT_BAD_OPTION;
    // Known before the recording starts, which must never take the score file's place.
    if (play_path == nullptr)
        build_score_path();
    if (record_path != nullptr) {
        if (!start_recording(record_path, score_file_path()))
            return EXIT_BAD_RECORD;
        // The quit keys and a closed window all end in exit, and Ctrl-C, kill and a
        // closed terminal in a signal: the recording keeps the ticks of a run in progress.
        std::atexit(finish_recording);
        finish_recording_on_quit_signals();
    }

    // A program started without even a name still gets a window.
    char fallback_name[] = "skarvolt";
    char* fallback_argv[] = {fallback_name, nullptr};
    if (argc < 1) {
        argc = 1;
        argv = fallback_argv;
    }

    keep_shader_cache_off();
    open_window(&argc, argv);
    watch_window();
    if (play_path != nullptr) {
        // Watching touches neither the score file nor the random device.
        start_viewer(session, play_path);
    } else if (ghost_path != nullptr) {
        // Every run in the tunnel of the ghost's, the ghost beside it.
        seed_game(ghost.seed);
        set_run_seed(ghost.seed);
        record_ghost(ghost.seed, ghost.score);
        record_seed(ghost.seed);
        race(ghost.run());
        open_title_screen();
    } else {
        if (seed.given) {
            // Every run of the session in the tunnel of this seed.
            const auto fixed = static_cast<std::uint32_t>(seed.number);
            seed_game(seed.number);
            set_run_seed(fixed);
            record_seed(fixed);
        } else {
            record_seed(seed_random());
        }
        open_title_screen();
    }

    glutMainLoop();
    return 0;
}
