#include "app/controls.h"

#include <cstdio>
#include <cstring>

#include "app/options.h"

namespace {

constexpr unsigned char KEY_ESCAPE = 27;

constexpr char TOGGLE[] = "--toggle";
constexpr char KEYS[] = "--keys";
constexpr char SPEED[] = "--speed";

// What each input gives, by the way the button is played. A key is the button only with
// --keys; a key's own repeats never are, or a key held through a crash would start the
// next run by itself. A toggle acts on presses alone.
struct Row {
    Input input;
    Thrust held;         // the button held to climb
    Thrust toggled;      // each press flips; FLIP stands for ON or OFF by the ship
    bool needs_keys;
};
constexpr Thrust FLIP = static_cast<Thrust>(-1);

constexpr Row ROWS[] = {
    {Input::MOUSE_PRESS, Thrust::ON, FLIP, false},
    {Input::MOUSE_RELEASE, Thrust::OFF, Thrust::NONE, false},
    {Input::KEY_DOWN, Thrust::ON, FLIP, true},
    {Input::KEY_UP, Thrust::OFF, Thrust::NONE, true},
    {Input::KEY_REPEAT, Thrust::NONE, Thrust::NONE, true},
};

// A percentage from SLOWEST_SPEED to FULL_SPEED written in plain digits.
bool parse_speed(const char* text, int* percent)
{
    int value = 0;
    if (*text == '\0')
        return false;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || value > FULL_SPEED)
            return false;
        value = value * 10 + (*p - '0');
    }
    if (value < SLOWEST_SPEED || value > FULL_SPEED)
        return false;
    *percent = value;
    return true;
}

bool bad_speed(const char* what)
{
    std::fprintf(stderr, "skarvolt: %s %s\n", SPEED, what);
    return false;
}

// (a * b) / c rounded towards minus infinity (round_up: towards plus infinity), for the
// clock's differences, which may be negative when a time before the origin is asked for.
Micros scale(Micros a, Micros b, Micros c, bool round_up)
{
    const Micros product = a * b;
    Micros q = product / c;
    const Micros r = product % c;
    if (r != 0 && (r > 0) == round_up)
        q += round_up ? 1 : -1;
    return q;
}

} // namespace

Thrust thrust_for(const Controls& controls, Input input, bool climbing)
{
    for (const Row& row : ROWS) {
        if (row.input != input)
            continue;
        if (row.needs_keys && !controls.keys)
            return Thrust::NONE;
        const Thrust thrust = controls.toggle ? row.toggled : row.held;
        if (thrust == FLIP)
            return climbing ? Thrust::OFF : Thrust::ON;
        return thrust;
    }
    return Thrust::NONE;
}

bool climbing(const GameState& game)
{
    return (game.state & RUNNING) && game.accel > 0.0f;
}

bool is_quit_key(unsigned char key)
{
    return key == 'q' || key == 'Q' || key == KEY_ESCAPE;
}

bool take_control_options(int* argc, char** argv, Controls* controls)
{
    *controls = Controls{};
    bool speed_given = false;
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        const char* arg = argv[i];
        const char* speed = nullptr;
        if (std::strcmp(arg, TOGGLE) == 0) {
            controls->toggle = true;
            continue;
        }
        if (std::strcmp(arg, KEYS) == 0) {
            controls->keys = true;
            continue;
        }
        const OptionValue match = match_option_value(*argc, argv, &i, SPEED, &speed);
        if (match == OptionValue::NOT_IT) {
            argv[kept++] = argv[i];
            continue;
        }
        if (match == OptionValue::MISSING)
            return bad_speed("needs a percentage from 50 to 100");
        if (speed_given)
            return bad_speed("given twice");
        if (!parse_speed(speed, &controls->speed))
            return bad_speed("takes a whole percentage from 50 to 100");
        speed_given = true;
    }
    if (*argc > 0) {
        argv[kept] = nullptr;
        *argc = kept;
    }
    return true;
}

void describe_controls(const Controls& controls, char* text, std::size_t size)
{
    if (size == 0)
        return;
    char speed[16] = "";
    if (controls.speed != FULL_SPEED)
        std::snprintf(speed, sizeof speed, " %s %d", SPEED, controls.speed);
    std::snprintf(text, size, "%s%s%s", controls.toggle ? " --toggle" : "", speed,
                  controls.keys ? " --keys" : "");
    // Every option brings a blank before it; the first one's goes.
    if (text[0] == ' ')
        std::memmove(text, text + 1, std::strlen(text));
}

bool wants_help(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
            return true;
    return false;
}

void print_usage()
{
    std::fputs(
        "usage: skarvolt [--toggle] [--speed PERCENT] [--keys] [--ghost FILE] [--record FILE]\n"
        "                [GLUT options]\n"
        "       skarvolt --play FILE [GLUT options]\n"
        "  --toggle         each press of the button flips the thrust: climb, fall, climb...;\n"
        "                   releases do nothing\n"
        "  --speed PERCENT  the game's pace, 50 to 100 (default 100); a run scores as ever\n"
        "  --keys           every key but q, Q and Esc is the button too\n"
        "  --ghost FILE     race the first run of a recording that starts from a seed: every\n"
        "                   run flies its tunnel beside its ghost; g hides and shows it\n"
        "  --record FILE    record the session, to watch with --play or replay with skarvolt-sim\n"
        "  --play FILE      watch a recorded session: Space pause, . step, Left/Right 5 s,\n"
        "                   Up/Down (+/-) speed, Page Up/Down run, Home start\n"
        "  -v, --version    print the version\n"
        "  -h, --help       print this summary\n"
        "Any mouse button is the button. q, Q or Esc quit.\n",
        stdout);
}

Micros game_time(const PacedClock& clock, Micros real)
{
    return clock.game_origin
           + scale(real - clock.real_origin, clock.percent, FULL_SPEED, false);
}

Micros real_time(const PacedClock& clock, Micros game)
{
    return clock.real_origin
           + scale(game - clock.game_origin, FULL_SPEED, clock.percent, true);
}

void set_pace(PacedClock& clock, Micros now, int percent)
{
    clock.game_origin = game_time(clock, now);
    clock.real_origin = now;
    clock.percent = percent;
}
