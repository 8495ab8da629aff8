// The player's controls: what each press, release and key gives in each way of playing,
// the options that choose them, the slowed clock, and whole sessions played through the
// shell's callbacks with them, against the same sessions held at full speed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <GL/freeglut.h>

#include "app/controls.h"
#include "app/options.h"
#include "app/record.h"
#include "app/shell.h"
#include "app/shell_session.h"
#include "app/window.h"
#include "fake_gl.h"
#include "game/random.h"
#include "game/state.h"
#include "sim/trace.h"
#include "support/files.h"
#include "support/scratch.h"
#include "version.h"

namespace {

// The window's game, as the shell flies it.
Game& game = window_session().game;

using test_support::read_file;

constexpr Thrust NONE = Thrust::NONE;
constexpr Thrust ON = Thrust::ON;
constexpr Thrust OFF = Thrust::OFF;

TEST(InputMapping, EachInputInEachWayOfPlaying)
{
    struct Case {
        bool toggle, keys;
        Input input;
        Thrust falling, climbing; // what it gives with the ship falling (or no run), climbing
    };
    const Case cases[] = {
        // Held, on the mouse alone: the game as it always was.
        {false, false, Input::MOUSE_PRESS, ON, ON},
        {false, false, Input::MOUSE_RELEASE, OFF, OFF},
        {false, false, Input::KEY_DOWN, NONE, NONE},
        {false, false, Input::KEY_UP, NONE, NONE},
        {false, false, Input::KEY_REPEAT, NONE, NONE},
        // Held, a key as a button.
        {false, true, Input::MOUSE_PRESS, ON, ON},
        {false, true, Input::MOUSE_RELEASE, OFF, OFF},
        {false, true, Input::KEY_DOWN, ON, ON},
        {false, true, Input::KEY_UP, OFF, OFF},
        {false, true, Input::KEY_REPEAT, NONE, NONE},
        // Toggled: presses flip, releases and repeats do nothing.
        {true, false, Input::MOUSE_PRESS, ON, OFF},
        {true, false, Input::MOUSE_RELEASE, NONE, NONE},
        {true, false, Input::KEY_DOWN, NONE, NONE},
        {true, false, Input::KEY_UP, NONE, NONE},
        {true, false, Input::KEY_REPEAT, NONE, NONE},
        {true, true, Input::MOUSE_PRESS, ON, OFF},
        {true, true, Input::MOUSE_RELEASE, NONE, NONE},
        {true, true, Input::KEY_DOWN, ON, OFF},
        {true, true, Input::KEY_UP, NONE, NONE},
        {true, true, Input::KEY_REPEAT, NONE, NONE},
    };
    for (const Case& c : cases) {
        const Controls controls{.toggle = c.toggle, .keys = c.keys};
        // The pace has nothing to do with the button.
        for (int speed : {100, 50}) {
            Controls paced = controls;
            paced.speed = speed;
            const auto where = ::testing::Message() << "toggle " << c.toggle << ", keys " << c.keys
                                                    << ", input " << static_cast<int>(c.input)
                                                    << ", speed " << speed;
            EXPECT_EQ(thrust_for(paced, c.input, false), c.falling) << where;
            EXPECT_EQ(thrust_for(paced, c.input, true), c.climbing) << where;
        }
    }
}

TEST(InputMapping, ClimbingIsARunWithUpwardThrust)
{
    GameState game{};
    for (int state : {ARMED, CRASHED, CRASHED | ARMED, RUNNING})
        for (float accel : {THRUST, -THRUST}) {
            game.state = state;
            game.accel = accel;
            EXPECT_EQ(climbing(game), state == RUNNING && accel > 0) << state << " " << accel;
        }
}

// The arguments after the program name, as the command line gives them.
struct Parsed {
    bool ok;
    Controls controls;
    std::vector<std::string> rest; // what GLUT gets, after the program name
    std::string error;
};

Parsed parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "skarvolt");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int argc = static_cast<int>(args.size());
    Parsed parsed{};
    ::testing::internal::CaptureStderr();
    parsed.ok = take_control_options(&argc, argv.data(), &parsed.controls);
    parsed.error = ::testing::internal::GetCapturedStderr();
    if (parsed.ok) {
        EXPECT_EQ(argv[static_cast<std::size_t>(argc)], nullptr);
        for (int i = 1; i < argc; ++i)
            parsed.rest.emplace_back(argv[static_cast<std::size_t>(i)]);
    }
    return parsed;
}

TEST(ControlOptions, AreTakenOutAndTheRestKeptInOrder)
{
    struct Case {
        std::vector<std::string> args;
        Controls want;
        std::vector<std::string> rest;
    };
    const Case cases[] = {
        {{}, {}, {}},
        {{"-geometry", "800x600"}, {}, {"-geometry", "800x600"}},
        {{"--toggle", "--speed", "70", "--keys"}, {true, true, 70}, {}},
        {{"-display", ":1", "--speed=50", "x", "--keys"}, {false, true, 50}, {"-display", ":1", "x"}},
        {{"--speed", "100", "--toggle", "--toggle"}, {true, false, 100}, {}},
        {{"--speed", "050"}, {false, false, 50}, {}},
        // Look-alikes are no options of ours: GLUT gets them.
        {{"--Toggle", "-keys", "--keys=1", "--speed70"}, {}, {"--Toggle", "-keys", "--keys=1", "--speed70"}},
    };
    for (const Case& c : cases) {
        const Parsed parsed = parse(c.args);
        const auto where = ::testing::PrintToString(c.args);
        ASSERT_TRUE(parsed.ok) << where << ": " << parsed.error;
        EXPECT_EQ(parsed.controls.toggle, c.want.toggle) << where;
        EXPECT_EQ(parsed.controls.keys, c.want.keys) << where;
        EXPECT_EQ(parsed.controls.speed, c.want.speed) << where;
        EXPECT_EQ(parsed.rest, c.rest) << where;
        EXPECT_EQ(parsed.error, "") << where;
    }
}

TEST(ControlOptions, ABadSpeedIsOneLineNamingTheOption)
{
    const std::string range = "skarvolt: --speed takes a whole percentage from 50 to 100\n";
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--speed"}, "skarvolt: --speed needs a percentage from 50 to 100\n"},
        {{"--keys", "--speed"}, "skarvolt: --speed needs a percentage from 50 to 100\n"},
        {{"--speed", "49"}, range},
        {{"--speed", "101"}, range},
        {{"--speed", "0"}, range},
        {{"--speed", "-70"}, range},
        {{"--speed", "+70"}, range},
        {{"--speed", "70.5"}, range},
        {{"--speed", "70%"}, range},
        {{"--speed", " 70"}, range},
        {{"--speed", ""}, range},
        {{"--speed="}, range},
        {{"--speed", "99999999999999999999"}, range},
        {{"--speed", "fast"}, range},
        {{"--speed", "70", "--speed=70"}, "skarvolt: --speed given twice\n"},
    };
    for (const auto& c : cases) {
        const Parsed parsed = parse(c.args);
        EXPECT_FALSE(parsed.ok) << ::testing::PrintToString(c.args);
        EXPECT_EQ(parsed.error, c.error) << ::testing::PrintToString(c.args);
    }
}

TEST(ControlOptions, DescribedAsTheCommandLineGivesThem)
{
    const struct {
        Controls controls;
        const char* text;
    } cases[] = {
        {{}, ""},
        {{.toggle = true}, "--toggle"},
        {{.keys = true}, "--keys"},
        {{.speed = 70}, "--speed 70"},
        {{.toggle = true, .keys = true, .speed = 50}, "--toggle --speed 50 --keys"},
        {{.toggle = true, .keys = true, .speed = 100}, "--toggle --keys"},
    };
    for (const auto& c : cases) {
        char text[CONTROLS_TEXT_SIZE];
        describe_controls(c.controls, text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(PacedClock, FullSpeedIsTheRealClock)
{
    PacedClock clock;
    for (Micros t : {Micros{0}, Micros{1}, Micros{-5}, Micros{123456789012}}) {
        EXPECT_EQ(game_time(clock, t), t);
        EXPECT_EQ(real_time(clock, t), t);
    }
    set_pace(clock, 5000, 100);
    EXPECT_EQ(game_time(clock, 17000), 17000);
}

TEST(PacedClock, SlowerRunsAtItsShareOfRealTimeAndChangesWithoutAJump)
{
    for (int percent : {50, 70, 99}) {
        PacedClock clock;
        set_pace(clock, 1000000, percent);
        const Micros start = game_time(clock, 1000000);
        EXPECT_EQ(start, 1000000) << percent; // the game's time goes on from where it was
        // A tick's worth of the game's time takes TICK_MS * 100 / percent of real time.
        const Micros tick = Micros{TICK_MS} * 1000;
        const Micros real_tick = real_time(clock, start + tick) - 1000000;
        EXPECT_EQ(real_tick, (tick * 100 + percent - 1) / percent) << percent;
        // real_time is the first real time at which the game's clock has got there.
        for (Micros game = start - 3; game < start + 3 * tick; game += 997) {
            const Micros real = real_time(clock, game);
            EXPECT_GE(game_time(clock, real), game) << percent << " " << game;
            EXPECT_LT(game_time(clock, real - 1), game) << percent << " " << game;
        }
        // Back to full speed mid-run: no jump, then the real clock's pace.
        const Micros later = 1000000 + 5 * real_tick;
        const Micros at_change = game_time(clock, later);
        set_pace(clock, later, FULL_SPEED);
        EXPECT_EQ(game_time(clock, later), at_change) << percent;
        EXPECT_EQ(game_time(clock, later + tick), at_change + tick) << percent;
    }
}

// Sessions played through the shell's callbacks, as GLUT delivers them, and recorded.
class ControlsSession : public ::testing::Test {
protected:
    void SetUp() override { fake::reset_with_game(game); }
    void TearDown() override
    {
        finish_recording();
        use_controls(Controls{});
        record_options("");
    }

    // Starts a game seeded with SEED, recorded to `name`, played with `controls`.
    void start(const std::string& name, const Controls& controls)
    {
        fake::reset_with_game(game);
        trace_.clear();
        use_controls(controls);
        char text[CONTROLS_TEXT_SIZE];
        describe_controls(controls, text, sizeof text);
        record_options(text);
        ASSERT_TRUE(start_recording(path(name).c_str()));
        random_seed(&game.random, SEED);
        record_seed(SEED);
        open_title_screen();
        on_display();
    }

    // Fires up to n pending ticks, keeping their trace as the simulator writes it.
    void ticks(int n = 1 << 20)
    {
        for (int i = 0; i < n && fake::fire_timer(); ++i) {
            char text[TICK_TEXT_MAX];
            trace_.append(text, static_cast<std::size_t>(format_tick(game, text)));
        }
    }
    // What a session flew, and its recording below the header that opens every one.
    struct Flown {
        std::string trace;
        std::string recording;
    };
    Flown finish(const std::string& name)
    {
        finish_recording();
        const std::string header = std::string("# Skarvolt ") + VERSION + " recording\n";
        std::string recording = read_file(path(name)).value_or("");
        EXPECT_EQ(recording.rfind(header, 0), 0u) << recording;
        if (recording.starts_with(header))
            recording.erase(0, header.size());
        return {trace_, recording};
    }

    std::string path(const std::string& name) const { return dir_ / name; }

    static constexpr unsigned SEED = 77;
    test_support::ScratchDir dir_{"controls"};
    std::string trace_;
};

constexpr int SPACE = ' ';

void mouse_down() { on_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0); }
void mouse_up() { on_mouse(GLUT_LEFT_BUTTON, GLUT_UP, 0, 0); }
void tap() { mouse_down(); mouse_up(); }

TEST_F(ControlsSession, ToggledPressesFlyTheHeldRunAndRecordItAsHeld)
{
    // Two runs: one that climbs, falls, climbs and falls into the floor, one held out of
    // the top. Held, then toggled with a press where each press or release was.
    start("held", {});
    mouse_down();
    ticks(30);
    mouse_up();
    ticks(40);
    mouse_down();
    ticks(20);
    mouse_up();
    ticks();
    on_display();
    mouse_down();
    ticks();
    const Flown held = finish("held");

    start("toggled", {.toggle = true});
    tap();
    ticks(30);
    tap();
    ticks(40);
    tap();
    ticks(20);
    tap();
    ticks();
    on_display();
    tap(); // the crash ended the run falling; the next starts climbing
    EXPECT_GT(game.accel, 0.0f);
    ticks();
    EXPECT_EQ(game.score, 45u);
    on_display();
    tap(); // and climbing too after a crash out of the top
    EXPECT_EQ(game.state, RUNNING);
    EXPECT_GT(game.accel, 0.0f);
    const std::string before_third_run = trace_;
    const Flown toggled = finish("toggled");

    EXPECT_EQ(before_third_run, held.trace);
    ASSERT_EQ(toggled.recording.rfind("# options: --toggle\n", 0), 0u) << toggled.recording;
    const std::string events = toggled.recording.substr(toggled.recording.find('\n') + 1);
    EXPECT_EQ(events, held.recording + "frame\npress\n");
    EXPECT_EQ(held.recording.find('#'), std::string::npos);

    // The simulator reads past the options' comment and flies the toggled session.
    const std::string out = path("replayed");
    const std::string command = std::string(SKARVOLT_SIM_BINARY) + " " + path("toggled") + " > " + out;
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(read_file(out), before_third_run);
}

TEST_F(ControlsSession, KeysAreTheButtonOnlyWithKeysAndTheQuitKeysStayQuitKeys)
{
    // Without --keys no key, plain or special, down or up, does a thing.
    start("mouse", {});
    const Game before = game;
    on_key(SPACE, 0, 0);
    on_special(GLUT_KEY_UP, 0, 0);
    on_key_up(SPACE, 0, 0);
    on_special_up(GLUT_KEY_UP, 0, 0);
    EXPECT_EQ(game.state, before.state);
    EXPECT_TRUE(fake::timers.empty());
    EXPECT_EQ(finish("mouse").recording, "seed 77\n");

    // With it, a key is pressed and released like a mouse button: Space held from the
    // start climbs out of the top at 45, as the mouse does.
    start("keys", {.keys = true});
    on_key(SPACE, 0, 0);
    ticks(10);
    on_special(GLUT_KEY_F5, 0, 0);   // a second key changes nothing while climbing
    on_key_up('Q', 0, 0);            // nor does a quit key's release
    ticks();
    EXPECT_EQ(game.score, 45u);
    on_display();
    on_special(GLUT_KEY_LEFT, 0, 0); // an arrow starts the next run
    on_special_up(GLUT_KEY_LEFT, 0, 0);
    EXPECT_EQ(game.state, RUNNING);
    EXPECT_LT(game.accel, 0.0f);
    on_key('\r', 0, 0);
    on_key_up('\r', 0, 0);
    EXPECT_EQ(finish("keys").recording,
              "# options: --keys\nseed 77\npress\ntick 10\npress\ntick 35\nframe\npress\n"
              "release\npress\nrelease\n");

    for (unsigned char key : {'q', 'Q', '\x1b'})
        EXPECT_EXIT(on_key(key, 0, 0), ::testing::ExitedWithCode(0), "") << int(key);
}

TEST_F(ControlsSession, OneKeyAloneStartsFliesCrashesAndStartsAgain)
{
    start("one-key", {.toggle = true, .keys = true});
    const auto tap_space = [] {
        on_key(SPACE, 0, 0);
        on_key_up(SPACE, 0, 0);
    };
    tap_space();
    EXPECT_EQ(game.state, RUNNING);
    ticks(20);
    tap_space();
    EXPECT_LT(game.accel, 0.0f);
    ticks(); // falls into the floor
    EXPECT_EQ(game.state, CRASHED);
    tap_space(); // before the crash is shown: nothing
    EXPECT_EQ(game.state, CRASHED);
    on_display();
    tap_space();
    EXPECT_EQ(game.state, RUNNING);
    EXPECT_GT(game.accel, 0.0f);
}

TEST_F(ControlsSession, ASlowerPaceArmsLongerTicksAndScoresTheSame)
{
    for (int speed : {100, 70, 50}) {
        start("paced", {.speed = speed});
        const Micros pressed = fake::clock_us;
        mouse_down();
        ASSERT_EQ(fake::timers.size(), 1u);
        // The first tick: 12 ms of the game's time, rounded up to whole milliseconds.
        EXPECT_EQ(fake::timers[0].ms, (12000u * 100 / static_cast<unsigned>(speed) + 999) / 1000)
            << speed;
        ticks();
        EXPECT_EQ(game.score, 45u) << speed;
        // 45 ticks of 12 ms * 100 / speed each; never sooner, and no later than the last
        // timer's rounding to a whole millisecond.
        const Micros exact = Micros{45} * 12000 * 100 / speed;
        EXPECT_GE(fake::clock_us - pressed, exact) << speed;
        EXPECT_LT(fake::clock_us - pressed, exact + 1000) << speed;
        const std::string recording = finish("paced").recording;
        EXPECT_EQ(recording.find("# options: --speed"), speed == 100 ? std::string::npos : 0u)
            << recording;
    }
}

// What the game leaves to GLUT must be GLUT's: anything else is one line naming it and
// the nearest option, where a typo would otherwise start a game played otherwise than asked.
TEST(CommandLine, WhatIsNeitherTheGamesNorGlutsIsNamedWithTheNearestOption)
{
    const struct {
        std::vector<std::string> args;
        std::string error; // "": all GLUT's
    } cases[] = {
        {{}, ""},
        {{"-geometry", "640x480", "-display", ":1", "-iconic", "-indirect", "-direct",
          "-gldebug", "-sync"},
         ""},
        {{"-display", "--toogle"}, ""}, // the display's name, however odd, is GLUT's
        {{"--toogle"}, "unknown option --toogle (the nearest is --toggle; --help lists them)"},
        {{"--key"}, "unknown option --key (the nearest is --keys; --help lists them)"},
        {{"--speed=70", "--bogus"}, "unknown option --speed=70 (the nearest is --speed; --help lists them)"},
        {{"-geometry", "1x1", "--geometry", "800x600"},
         "unknown option --geometry (the nearest is -geometry; --help lists them)"},
        {{"-x"}, "unknown option -x (the nearest is "},
        {{"--\x1b[2J"}, "unknown option --\\x1b[2J (the nearest is "},
        {{"run.rec"}, "unknown argument run.rec (--help lists the options)"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "skarvolt");
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        testing::internal::CaptureStderr();
        const bool good = only_glut_arguments(static_cast<int>(args.size()), argv.data());
        const std::string said = testing::internal::GetCapturedStderr();
        const auto where = ::testing::PrintToString(c.args);
        EXPECT_EQ(good, c.error.empty()) << where;
        if (c.error.empty())
            EXPECT_EQ(said, "") << where;
        else
            EXPECT_EQ(said.rfind("skarvolt: " + c.error, 0), 0u) << where << ": " << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), c.error.empty() ? 0 : 1) << where;
    }
}

} // namespace
