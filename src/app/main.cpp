#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include "app/controls.h"
#include "app/record.h"
#include "app/shell.h"
#include "app/startup.h"
#include "app/viewer.h"
#include "app/window.h"
#include "store/high_score.h"
#include "version.h"

namespace {

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

// A value of -geometry as the X toolkits write it, [=][WIDTH][xHEIGHT][{+-}X{+-}Y], with
// every size one the window can take.
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

// GLUT takes -geometry as it is and passes a size it cannot have to the window system and
// the GL driver, which end the game with a protocol error or a crash; so it is checked
// first. The value of -display is skipped: it is GLUT's too.
bool geometry_options_good(int argc, char** argv)
{
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

// The window as the X server knows it.
Display* x_display = nullptr;
Window x_window = None;
XErrorHandler default_x_error = nullptr;
bool window_gone = false;

// Another program may destroy the game's window (xdotool windowclose); GLUT then neither
// ends the game nor says anything, and the game would sleep on without a window. It ends
// as when the window is closed: GLUT's main loop ends, and so the game, with status 0 and
// its recording finished.
void end_without_window()
{
    if (window_gone)
        return;
    window_gone = true;
    glutLeaveMainLoop();
}

// Once the window is gone, what still refers to it fails (a frame drawn before the game
// knew, GLUT's own clean-up); that is expected, not worth a word. A request that fails
// because of the window is how the game may learn of it first.
int on_x_error(Display* display, XErrorEvent* error)
{
    if (!window_gone && error->resourceid != x_window)
        return default_x_error(display, error);
    end_without_window();
    return 0;
}

// A window that is destroyed is first unmapped, which GLUT reports as hidden; a window
// that is only hidden (iconified) has no DestroyNotify waiting behind the unmapping.
void on_window_status(int status)
{
    if (status != GLUT_HIDDEN)
        return;
    XSync(x_display, False);
    XEvent destroyed;
    if (XCheckTypedWindowEvent(x_display, x_window, DestroyNotify, &destroyed))
        end_without_window();
}

void watch_window()
{
    x_display = glXGetCurrentDisplay();
    x_window = glXGetCurrentDrawable();
    if (x_display == nullptr || x_window == None)
        return;
    default_x_error = XSetErrorHandler(on_x_error);
    glutWindowStatusFunc(on_window_status);
}

// The GL driver may keep compiled shaders in a cache under the home directory, which a
// picture drawn with fixed functions gains nothing from; and on a home with no room left,
// Mesa's cache dies with SIGBUS in a thread of its own and takes the game and its best
// score with it. Off, unless the player turned it on or off themselves; the older name too.
void keep_shader_cache_off()
{
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
    setenv("MESA_GLSL_CACHE_DISABLE", "true", 0);
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
    static Session session;
    if (play_path != nullptr) {
        if (record_path != nullptr) {
            std::fprintf(stderr, "skarvolt: --play and --record cannot go together\n");
            return EXIT_BAD_RECORD;
        }
        if (!load_session(play_path, &session))
            return EXIT_BAD_RECORD;
    }
    if (!geometry_options_good(argc, argv))
        return EXIT_BAD_OPTION;
    // Known before the recording starts, which must never take the score file's place.
    if (play_path == nullptr)
        build_score_path(game);
    if (record_path != nullptr) {
        if (!start_recording(record_path))
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
    } else {
        record_seed(seed_random());
        open_title_screen();
    }

    glutMainLoop();
    return 0;
}
