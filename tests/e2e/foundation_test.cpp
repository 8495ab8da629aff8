// The game as a player and a shell see it: the command line, the window, the quit keys,
// a run from the first press to the crash, and the random device.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"
#include "picture.h"
#include "quit.h"
#include "support/files.h"
#include "support/mounts.h"

namespace {

using e2e::Game;
using e2e::Sandbox;
using e2e::XServer;
using test_support::list_dir;
using test_support::read_file;
using test_support::write_file;

int lines_starting_with(const std::string& text, const std::string& prefix)
{
    int count = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        if (text.compare(start, prefix.size(), prefix) == 0)
            ++count;
        const std::size_t end = text.find('\n', start);
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return count;
}

TEST(VersionOption, PrintsOnceAndExitsWithoutDisplayOrHome)
{
    const std::vector<std::vector<std::string>> cases{
        {"-v"},
        {"--version"},
        {"-v", "--version"},
        {"--version", "-v"},
        {"-geometry", "640x480", "-v"},
        {"-display", "-v"}, // taken as the option even where GLUT expects a value
        {"-iconic", "--version", "-V"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        Sandbox box;
        Game game(box, {.args = args}); // no DISPLAY at all
        const auto status = game.wait_exit();
        ASSERT_TRUE(status);
        EXPECT_TRUE(status->ok()) << *status;
        EXPECT_EQ(game.out(), "Skarvolt 1.2\n");
        EXPECT_EQ(game.err(), "") << "no home lookup, no file, no window";
        EXPECT_TRUE(list_dir(box.home()).empty());
    }
}

// A lookalike of the version option is no option of the game's nor GLUT's: it is named,
// with the option meant, before any window. The program's own name is never an option.
TEST(VersionOption, LookalikesAreNamedWithTheOptionMeant)
{
    const struct {
        std::string arg;
        std::string nearest;
    } cases[] = {
        {"-V", "-v"}, {"-version", "--version"}, {"--version=1", "--version"},
        {"-vv", "-v"}, {"--Version", "--version"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arg);
        Sandbox box;
        Game game(box, {.args = {c.arg}}); // no DISPLAY
        const auto status = game.wait_exit();
        ASSERT_TRUE(status);
        EXPECT_TRUE(status->exited && status->code == 2) << *status;
        EXPECT_EQ(game.err(), "skarvolt: unknown option " + c.arg + " (the nearest is " +
                                  c.nearest + "; --help lists them)\n");
        EXPECT_EQ(game.out(), "");
    }
    XServer x;
    Sandbox box;
    Game game(box, {.argv0 = "-v"}, &x);
    game.window();
    EXPECT_TRUE(game.running());
    e2e::quit(x, game);
    EXPECT_EQ(game.out(), "");
}

TEST(Window, SizeAndTitle)
{
    XServer x;
    struct Case {
        std::vector<std::string> args;
        int width, height;
    };
    for (const Case& c : {Case{{}, 400, 300}, Case{{"-geometry", "640x480"}, 640, 480}}) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Sandbox box;
        // Started as <sandbox>/bin/<name>: the title is the last component only.
        Game game(box, {.args = c.args, .name = "skarvolt-window-" + std::to_string(c.width)}, &x);
        const Window w = game.window();
        EXPECT_EQ(x.title(w), game.title());
        EXPECT_EQ(game.title().find('/'), std::string::npos);
        const e2e::Geometry g = x.geometry(w);
        EXPECT_EQ(g.width, c.width);
        EXPECT_EQ(g.height, c.height);
    }
}

// A window size that the GL driver cannot take (it crashes), or that the window system
// refuses (with a raw protocol error), is said in one line before any window opens: the
// game is started without a display, where an accepted value ends in GLUT's own complaint
// about it instead.
TEST(Window, GeometryIsCheckedBeforeTheWindowOpens)
{
    const std::string error = "skarvolt: -geometry takes WIDTHxHEIGHT, each from 1 to 16384, "
                              "and may add a position +X+Y\n";
    const std::vector<std::vector<std::string>> refused{
        {"-geometry", "32767x32767"}, {"-geometry", "0x0"},   {"-geometry", "abc"},
        {"-geometry", "16385x300"},   {"-geometry", "400x0"}, {"-geometry", "-1x300"},
        {"-geometry", "400x300+5"},   {"-geometry", ""},      {"-geometry", "400x300 "},
        {"-geometry", "99999999999999999999x1"},
        {"-geometry", "640x480", "-geometry", "0x0"}, // every one counts
        {"-geometry"},
    };
    const std::vector<std::vector<std::string>> accepted{
        {"-geometry", "16384x16384"}, {"-geometry", "1x1"},   {"-geometry", "=640X480+10-20"},
        {"-geometry", "+10+20"},      {"-geometry", "640"},   {"-geometry", "x480"},
        {"-display", "-geometry"}, // the display's name, not the option
    };
    for (const bool good : {false, true})
        for (const auto& args : good ? accepted : refused) {
            SCOPED_TRACE(testing::PrintToString(args));
            Sandbox box;
            Game game(box, {.args = args}); // no DISPLAY
            const auto status = game.wait_exit();
            ASSERT_TRUE(status);
            if (good) {
                EXPECT_NE(game.err().find("failed to open display"), std::string::npos)
                    << game.err();
            } else {
                EXPECT_TRUE(status->exited && status->code == 2) << *status;
                EXPECT_EQ(game.err(), error);
            }
        }
}

TEST(QuitKeys, EndTheGameWithStatusZeroOnTitleScreenAndDuringARun)
{
    XServer x;
    for (const char* key : {"q", "Q", "Escape"})
        for (const bool during_run : {false, true}) {
            SCOPED_TRACE(std::string(key) + (during_run ? " during a run" : " on the title"));
            Sandbox box;
            write_file(box.score_file(), "0\n");
            Game game(box, {}, &x);
            const Window w = game.window();
            if (during_run) {
                x.press(200, 150);
                x.wait_for_image(w, e2e::shows_run);
            }
            x.key(key);
            const auto status = game.wait_exit();
            x.release();
            ASSERT_TRUE(status) << "still running after " << key;
            EXPECT_TRUE(status->ok()) << *status;
            // Quitting saves nothing, not even a run that would beat the stored best.
            EXPECT_EQ(read_file(box.score_file()), "0\n");
        }
}

TEST(QuitKeys, OtherKeysChangeNothing)
{
    XServer x;
    Sandbox box;
    Game game(box, {}, &x);
    const Window w = game.window();
    const e2e::Image title = x.settled_image(w, e2e::shows_text);
    for (const char* key : {"a", "x", "space", "Return", "BackSpace", "Left", "Up", "F1"})
        x.key(key);
    // Events arrive in order: the game has seen every key above before it draws the
    // window anew, and before it sees the press, so the same title proves that no key
    // started a run, and a run starting that none of them ended the game.
    x.redraw(w);
    EXPECT_EQ(x.settled_image(w), title);
    x.press(200, 150);
    x.wait_for_image(w, e2e::shows_run);
    e2e::quit(x, game);
}

TEST(Run, HeldPressClimbsOutOfTheTopAtScore45)
{
    XServer x;
    Sandbox box;
    Game game(box, {}, &x);
    e2e::held_run_crash(x, game, box); // waits for the score file to say 45
    EXPECT_EQ(read_file(box.score_file()), "45\n");
    EXPECT_TRUE(game.running()) << "a crash does not end the program";
}

// With no usable random device the seed is 1, so every such start flies the same run
// and draws the same burst; a seed read from the device gives another burst.
TEST(RandomDevice, UnopenableOrEmptyMeansSeedOne)
{
    if (!test_support::private_mounts_available())
        GTEST_SKIP() << "needs root for a private mount namespace";
    XServer x;
    Sandbox seeds;
    const std::string empty = seeds.path("empty"), one = seeds.path("one"), two = seeds.path("two");
    write_file(empty, "");
    e2e::write_seed(one, 1);
    e2e::write_seed(two, 2);

    auto crash_picture = [&](e2e::RandomDevice device, const std::string& file, std::string* err) {
        Sandbox box;
        write_file(box.score_file(), "0\n"); // keeps the missing-file line off stderr
        Game game(box, {.random = device, .random_file = file}, &x);
        const e2e::Image picture = e2e::held_run_crash(x, game, box);
        x.release();
        *err = game.err();
        return picture;
    };
    std::string err;
    const e2e::Image unopenable = crash_picture(e2e::RandomDevice::Unopenable, "", &err);
    EXPECT_EQ(lines_starting_with(err, "fopen"), 1) << err;
    EXPECT_EQ(err.rfind("fopen: ", 0), 0u) << err;

    EXPECT_EQ(crash_picture(e2e::RandomDevice::File, empty, &err), unopenable);
    EXPECT_EQ(err, "") << "a short read is not reported";
    EXPECT_EQ(crash_picture(e2e::RandomDevice::File, one, &err), unopenable);
    EXPECT_NE(crash_picture(e2e::RandomDevice::File, two, &err), unopenable);
}

} // namespace
