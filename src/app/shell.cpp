#include "app/shell.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <GL/freeglut.h>
#include <libgen.h>

#include "app/ghost.h"
#include "app/hooks.h"
#include "app/record.h"
#include "app/shell_session.h"
#include "app/window.h"
#include "game/pace.h"
#include "game/random.h"
#include "game/run.h"
#include "game/state.h"
#include "render/scene.h"
#include "session/session.h"

namespace {

constexpr char DEFAULT_TITLE[] = "Skarvolt";

// The window's one session.
Session session;
Game& game = session.game;

Controls controls;
// The run's clock: the real one, slowed down by --speed.
PacedClock paced_clock;

Micros game_now()
{
    return game_time(paced_clock, clock_now_us());
}

// A best score that its crash could not save (the file held by a stuck game, say): the
// next crash saves it, and so does the way out.
bool best_pending = false;

// --seed: every run flies the tunnel of this seed.
std::optional<std::uint32_t> run_seed;

// The ghost raced, if any (race).
struct Race {
    bool on = false;
    bool shown = true; // g hides it, and shows it again
    Ghost ghost;
    char title[64] = "";
};

Race racing;

// The title tells the race; it is set only when its text changes.
void show_race_title()
{
    char title[sizeof racing.title];
    if (!race_title(racing.ghost.run.score, game, title, sizeof title)
        || std::strcmp(title, racing.title) == 0)
        return;
    std::memcpy(racing.title, title, sizeof title);
    set_window_title(title);
}

bool is_ghost_key(unsigned char key)
{
    return racing.on && (key == 'g' || key == 'G');
}

// Arms the tick timer for a tick due at `due` on the run's clock.
void arm_tick(Micros due)
{
    glutTimerFunc(delay_ms(real_time(paced_clock, due), clock_now_us()), on_tick, 0);
}

// The stored best taken into the game's, at once (load_best_score).
void load_best()
{
    if (session_best_stored(session, load_best_score(game)))
        record_best(game.high_score);
}

// A crash's best (the session has merged the run's score into it) saved, and what the
// store held taken in. False when it could not be saved.
bool save_best()
{
    const SavedBest saved = save_best_score(game, game.high_score);
    // Another game's better score, saved meanwhile, shows from now on.
    if (session_best_stored(session, saved.stored))
        record_best(game.high_score);
    return saved.kept;
}

// Tells the game what the player's input gives, as a press or a release: that is what
// the rules receive, and what a recording replays.
void play(Input input)
{
    switch (thrust_for(controls, input, climbing(game))) {
    case Thrust::ON:
        // A run after a crash starts from the fixed seed again; the recording says so.
        if (run_seed && (game.state & ARMED) && (game.state & CRASHED)) {
            record_seed_again(*run_seed);
            seed_game(*run_seed);
        }
        record_input(Event::PRESS, [] {
            session.clock = game_now();
            if (!session_press(session))
                return;
            arm_tick(pace_next_due(game.pace));
            if (racing.on) {
                ghost_start(racing.ghost);
                show_race_title();
            }
        });
        break;
    case Thrust::OFF:
        record_input(Event::RELEASE, [] { session_release(session); });
        break;
    case Thrust::NONE:
        break;
    }
}

} // namespace

Session& window_session()
{
    return session;
}

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
    seed_game(seed);
    return static_cast<std::uint32_t>(seed);
}

void seed_game(std::uint64_t seed)
{
    random_seed(&game.random, static_cast<std::uint32_t>(seed));
}

void set_run_seed(std::optional<std::uint32_t> seed)
{
    run_seed = seed;
}

void new_game()
{
    const int speed = session.speed;
    session = Session{};
    session.speed = speed;
    racing = Race{};
}

std::uint32_t best_known()
{
    return game.high_score;
}

const char* window_title(int argc, char** argv)
{
    if (argc < 1 || argv[0] == nullptr)
        return DEFAULT_TITLE;
    const char* base = basename(argv[0]);
    return base ? base : DEFAULT_TITLE;
}

void save_pending_best()
{
    if (best_pending)
        best_pending = !save_best();
}

void open_title_screen(std::uint32_t known_best)
{
    start_game(game);
    load_best();
    session_best_stored(session, known_best);
    // The quit keys and a closed window all end in exit.
    static const bool saves_on_exit = std::atexit(save_pending_best) == 0;
    (void)saves_on_exit;
}

bool take_controls(int* argc, char** argv)
{
    Controls chosen;
    if (!take_control_options(argc, argv, &chosen))
        return false;
    use_controls(chosen);
    return true;
}

void use_controls(const Controls& chosen)
{
    controls = chosen;
    set_pace(paced_clock, clock_now_us(), chosen.speed);
    session.speed = chosen.speed;
    // The recording names them, and notes the pace where it changes.
    char text[CONTROLS_TEXT_SIZE];
    describe_controls(chosen, text, sizeof text);
    record_options(text);
    record_speed(chosen.speed);
}

void race(const GhostRun& run)
{
    racing = Race{};
    racing.on = true;
    racing.ghost.run = run;
}

void on_mouse(int /*button*/, int button_state, int /*x*/, int /*y*/)
{
    play(button_state == GLUT_DOWN ? Input::MOUSE_PRESS : Input::MOUSE_RELEASE);
}

void on_tick(int /*value*/)
{
    const TickResult result = session_tick_at(session, game_now());
    if (racing.on) {
        // Tick for tick: a late timer's catch-up moves the ghost as far as the player.
        ghost_follow(racing.ghost, result.ticks);
        show_race_title();
    }
    if (result.crashed)
        best_pending = !save_best();
    else
        arm_tick(result.next_due);
    glutPostRedisplay();
}

void on_display()
{
    // A frame over a crash draws its burst from the random sequence, and the first one
    // lets the next run start: a replay must draw it too.
    if (game.state & CRASHED) {
        record_crash_frame();
        session_frame(session);
    }
    const WindowSize size = window_size();
    const bool ghost_shown = racing.on && racing.shown;
    draw_frame(game, session_burst(session), size.width, size.height,
               ghost_shown ? &racing.ghost.session.game : nullptr, ghost_fade(racing.ghost));
    glutSwapBuffers();
}

void on_key(unsigned char key, int /*x*/, int /*y*/)
{
    if (is_quit_key(key))
        std::exit(0);
    if (is_ghost_key(key)) {
        racing.shown = !racing.shown;
        glutPostRedisplay();
        return;
    }
    play(Input::KEY_DOWN);
}

void on_key_up(unsigned char key, int /*x*/, int /*y*/)
{
    if (!is_quit_key(key) && !is_ghost_key(key))
        play(Input::KEY_UP);
}

void on_special(int /*key*/, int /*x*/, int /*y*/)
{
    play(Input::KEY_DOWN);
}

void on_special_up(int /*key*/, int /*x*/, int /*y*/)
{
    play(Input::KEY_UP);
}
