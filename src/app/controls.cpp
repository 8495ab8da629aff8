#include "app/controls.h"

#include <cstdio>
#include <cstring>

#include "app/options.h"

namespace {

constexpr unsigned char KEY_ESCAPE = 27;


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
    OptionGiven toggle, keys, speed;
    if (!take_option("skarvolt", GAME_OPTIONS[OPTION_TOGGLE], argc, argv, &toggle)
        || !take_option("skarvolt", GAME_OPTIONS[OPTION_KEYS], argc, argv, &keys)
        || !take_option("skarvolt", GAME_OPTIONS[OPTION_SPEED], argc, argv, &speed))
        return false;
    controls->toggle = toggle.given;
    controls->keys = keys.given;
    if (speed.given)
        controls->speed = static_cast<int>(speed.number);
    return true;
}

void describe_controls(const Controls& controls, char* text, std::size_t size)
{
    if (size == 0)
        return;
    char speed[16] = "";
    if (controls.speed != FULL_SPEED)
        std::snprintf(speed, sizeof speed, " %s %d", GAME_OPTIONS[OPTION_SPEED].name, controls.speed);
    std::snprintf(text, size, "%s%s%s", controls.toggle ? " --toggle" : "", speed,
                  controls.keys ? " --keys" : "");
    // Every option brings a blank before it; the first one's goes.
    if (text[0] == ' ')
        std::memmove(text, text + 1, std::strlen(text));
}

bool wants_help(int argc, char** argv)
{
    const Option& help = GAME_OPTIONS[OPTION_HELP];
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], help.alias) == 0 || std::strcmp(argv[i], help.name) == 0)
            return true;
    return false;
}

void print_usage()
{
    std::fputs("usage: skarvolt [--toggle] [--speed PERCENT] [--keys] [--seed N] [--record FILE]\n"
               "                [GLUT options]\n"
               "       skarvolt --play FILE [GLUT options]\n",
               stdout);
    print_options(GAME_OPTIONS, GAME_OPTION_COUNT);
    std::fputs("GLUT options: -display DISPLAY, -geometry WxH+X+Y, -iconic, -indirect, -direct,\n"
               "-gldebug, -sync. Any mouse button is the button. q, Q or Esc quit.\n",
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
