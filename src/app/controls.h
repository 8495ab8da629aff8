// How the player chooses to play: the button held or toggled, the game at full pace or
// slower, and the keyboard as the button too (--toggle, --speed PERCENT, --keys). For a
// player who cannot hold a button down, or who flies with one switch.
//
// Whatever the choice, what reaches the rules is the game's own thrust on and thrust off,
// and every tick is the same tick: a run played with these options scores, records and
// replays as any other.
#pragma once

#include <cstddef>

#include "game/pace.h"
#include "game/state.h"

// Exit status of an option of these that cannot be followed.
inline constexpr int EXIT_BAD_OPTION = 2;

struct Controls {
    bool toggle = false;     // each press flips the thrust; releases do nothing
    bool keys = false;       // every key but the quit keys is the button too
    int speed = FULL_SPEED;  // the ticks come every TICK_MS * 100 / speed milliseconds
};

// What the window reports of the player's hands.
enum class Input {
    MOUSE_PRESS,
    MOUSE_RELEASE,
    KEY_DOWN,    // a key other than a quit key goes down
    KEY_UP,
    KEY_REPEAT,  // the key held repeats by itself (GLUT is asked to drop these, and
                 // they must never press the button: a key held through a crash would
                 // start the next run)
};

// What the game is told.
enum class Thrust {
    NONE,
    ON,   // thrust_on: climb, or start a run
    OFF,  // thrust_off: fall
};

// The thrust an input gives. `climbing` is whether a run is in progress with the ship
// climbing (climbing()), which a toggle turns around.
Thrust thrust_for(const Controls& controls, Input input, bool climbing);

// A run is in progress and the ship's last thrust was upward.
bool climbing(const GameState& game);

// q, Q and Esc end the game, whatever the controls.
bool is_quit_key(unsigned char key);

// Takes --toggle, --keys and "--speed PERCENT" (or --speed=PERCENT) out of the arguments,
// so GLUT never sees them, and sets *controls from them; the other arguments stay in
// order. False, after one line on standard error naming the option, when a speed is
// missing, not a whole number from SLOWEST_SPEED to FULL_SPEED, or given twice.
bool take_control_options(int* argc, char** argv, Controls* controls);

// The options as a command line would give them ("--toggle --speed 70 --keys"), the
// speed only when it is not the full one; "" when there are none. Cut short to fit
// `size`, which CONTROLS_TEXT_SIZE always is enough for.
inline constexpr std::size_t CONTROLS_TEXT_SIZE = 32;
void describe_controls(const Controls& controls, char* text, std::size_t size);

// True when an argument after the program name asks for the command line's summary
// ("-h" or "--help", whole), which print_usage writes on standard output.
bool wants_help(int argc, char** argv);
void print_usage();

// The game's clock at a chosen pace: it runs at `percent` of the real clock from
// `origin`, so a tick due on it every TICK_MS comes every TICK_MS * 100 / percent of real
// time. At the full pace it is the real clock itself.
struct PacedClock {
    Micros real_origin = 0;
    Micros game_origin = 0;
    int percent = FULL_SPEED;
};

// The game's time at real time `real`.
Micros game_time(const PacedClock& clock, Micros real);

// The first real time at which the game's clock reaches `game`.
Micros real_time(const PacedClock& clock, Micros game);

// A new pace from real time `now` on; the game's clock goes on from where it stands, so a
// run in progress keeps its ticks.
void set_pace(PacedClock& clock, Micros now, int percent);
