#include "app/viewer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <GL/freeglut.h>
#include <libgen.h>

#include "app/controls.h"
#include "app/hooks.h"
#include "app/window.h"
#include "game/pace.h"
#include "render/scene.h"
#include "session/session.h"

namespace {

constexpr unsigned char KEY_SPACE = ' ';
constexpr unsigned char KEY_STEP = '.';

// The one viewer of the window: GLUT callbacks carry no context.
struct Viewer {
    Player player;
    char name[256] = "";      // the file's name, as the title shows it
    bool paused = false;
    int rate = NORMAL_RATE;   // quarters of the session's pace
    // The session's clock: step `origin_step` was shown at real time `origin_real`.
    std::int64_t origin_step = 0;
    Micros origin_real = 0;
    bool timer_armed = false;
};

Viewer viewer;

bool ended()
{
    return viewer.player.last_step >= 0 && viewer.player.head.step >= viewer.player.last_step;
}

// Real microseconds of one step at the viewer's speed: a tick at the recorded pace, sped
// up or slowed down.
Micros step_us()
{
    const Micros pace = Micros{viewer.player.head.session.speed} * viewer.rate;
    return TICK_US * FULL_SPEED * NORMAL_RATE / pace;
}

void show_title()
{
    char title[sizeof viewer.name + 48];
    viewer_title(viewer.name, viewer.player.head, viewer.player.session->runs, viewer.paused,
                 ended(), viewer.rate, title, sizeof title);
    set_window_title(title);
}

void on_play_tick(int value);

// The clock starts again from the step shown now, and the next step is armed.
void restart_clock()
{
    viewer.origin_step = viewer.player.head.step;
    viewer.origin_real = clock_now_us();
    if (!viewer.paused && !ended() && !viewer.timer_armed) {
        viewer.timer_armed = true;
        glutTimerFunc(delay_ms(viewer.origin_real + step_us(), viewer.origin_real),
                      on_play_tick, 0);
    }
}

// Something the viewer did changed what is shown.
void moved()
{
    restart_clock();
    show_title();
    glutPostRedisplay();
}

void on_play_tick(int /*value*/)
{
    viewer.timer_armed = false;
    if (viewer.paused)
        return;
    const Micros now = clock_now_us();
    const Micros each = step_us();
    const std::int64_t due = viewer.origin_step + (now - viewer.origin_real) / each;
    while (viewer.player.head.step < due && player_step(viewer.player)) {
    }
    if (!ended()) {
        const Micros next = viewer.origin_real + (due - viewer.origin_step + 1) * each;
        viewer.timer_armed = true;
        glutTimerFunc(delay_ms(next, now), on_play_tick, 0);
    }
    show_title();
    glutPostRedisplay();
}

// Every picture is drawn from a copy, as the game draws its frame: a redraw of the
// viewer's own (an exposure, a resize, a pause) takes nothing from the session.
void on_play_display()
{
    const Session& shown = viewer.player.head.session;
    const WindowSize size = window_size();
    draw_frame(shown.game, session_burst(shown), size.width, size.height);
    glutSwapBuffers();
}

void set_rate(int rate)
{
    viewer.rate = std::clamp(rate, SLOWEST_RATE, FASTEST_RATE);
    moved();
}

void on_play_key(unsigned char key, int /*x*/, int /*y*/)
{
    if (is_quit_key(key))
        std::exit(0);
    switch (key) {
    case KEY_SPACE:
        viewer.paused = !viewer.paused;
        moved();
        break;
    case KEY_STEP:
        if (viewer.paused && player_step(viewer.player))
            moved();
        break;
    case '+':
        set_rate(viewer.rate * 2);
        break;
    case '-':
        set_rate(viewer.rate / 2);
        break;
    default:
        break;
    }
}

void on_play_special(int key, int /*x*/, int /*y*/)
{
    Player& player = viewer.player;
    switch (key) {
    case GLUT_KEY_RIGHT:
        player_seek(player, player.head.step + JUMP_STEPS);
        break;
    case GLUT_KEY_LEFT:
        player_seek(player, player.head.step - JUMP_STEPS);
        break;
    case GLUT_KEY_UP:
        set_rate(viewer.rate * 2);
        return;
    case GLUT_KEY_DOWN:
        set_rate(viewer.rate / 2);
        return;
    case GLUT_KEY_PAGE_DOWN:
        player_next_run(player);
        break;
    case GLUT_KEY_PAGE_UP:
        player_previous_run(player, clock_now_us());
        break;
    case GLUT_KEY_HOME:
        player_seek(player, 0);
        break;
    default:
        return;
    }
    moved();
}

void ignore_mouse(int /*button*/, int /*state*/, int /*x*/, int /*y*/) {}
void ignore_key(unsigned char /*key*/, int /*x*/, int /*y*/) {}
void ignore_special(int /*key*/, int /*x*/, int /*y*/) {}

} // namespace

void start_viewer(const RecordedSession& session, const char* path)
{
    // Afresh each time: the browser's page shows one recording after another in its
    // canvas, with the timers of the one before cancelled.
    viewer = Viewer{};
    player_start(viewer.player, session);
    char copy[sizeof viewer.name];
    std::strncpy(copy, path, sizeof copy - 1);
    copy[sizeof copy - 1] = '\0';
    std::strncpy(viewer.name, basename(copy), sizeof viewer.name - 1);
    glutDisplayFunc(on_play_display);
    glutKeyboardFunc(on_play_key);
    glutKeyboardUpFunc(ignore_key);
    glutSpecialFunc(on_play_special);
    glutSpecialUpFunc(ignore_special);
    glutMouseFunc(ignore_mouse);
    // The viewer's keys may be held to seek on and on.
    glutIgnoreKeyRepeat(0);
    moved();
}
