// The game played another way: --toggle (each press flips the thrust), --keys (every key
// but the quit keys is the button) and both together with one key and nothing else; bad
// option values; and the desktop entry's actions, which start the game with them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "harness.h"
#include "picture.h"
#include "quit.h"
#include "support/files.h"

namespace {

using e2e::Game;
using e2e::Image;
using e2e::Sandbox;
using e2e::XServer;
using test_support::read_file;

const std::string HELD_SCORE_LINE = std::to_string(e2e::HELD_RUN_SCORE) + "\n";

// The run is under way once the trail shows and no burst does.
bool run_shown(const Image& image)
{
    return !e2e::shows_burst(image, 0, image.height) &&
           e2e::count_pixels(image, 0, 0, image.width, image.height,
                             [](e2e::Rgb c) { return c == e2e::GREEN; }) > 0;
}

bool shows_burst_below(const Image& image)
{
    return e2e::shows_burst(image, image.height / 2, image.height - e2e::OVERLAY_BOX_HEIGHT);
}

// The best score that the game has stored, or nullopt while there is none.
std::optional<unsigned long> stored(const Sandbox& box)
{
    const auto text = read_file(box.score_file());
    if (!text || text->empty())
        return std::nullopt;
    return std::stoul(*text);
}

void wait_for_score(const Sandbox& box, Game& game, const std::string& line)
{
    if (!e2e::wait_until([&] { return read_file(box.score_file()) == line; }))
        FAIL() << "the score file holds \"" << read_file(box.score_file()).value_or("(none)")
               << "\", not \"" << line << "\"; the game's errors: " << game.err();
}

void tap(XServer& x, const std::string& key)
{
    x.hold_key(key, true);
    x.hold_key(key, false);
}

TEST(Toggle, OneShortPressClimbsUntilTheNextPress)
{
    XServer x;
    Sandbox box;
    const std::string recording = box.path("session.txt");
    Game game(box, {.args = {"--toggle", "--record", recording}}, &x);
    const Window w = game.window();
    x.settled_image(w, e2e::shows_text);

    // One click, and the ship climbs out of the top as a held button takes it.
    x.press(200, 150);
    x.release();
    wait_for_score(box, game, HELD_SCORE_LINE);
    x.settled_image(w, e2e::shows_burst_above);

    // A click starts the next run, climbing; the next lets it fall out of the bottom,
    // later than the held run's crash, as a press held to then and released would.
    x.press(200, 150);
    x.release();
    x.wait_for_image(w, run_shown);
    x.press(200, 150);
    x.release();
    x.settled_image(w, shows_burst_below);
    const auto best = stored(box);
    ASSERT_TRUE(best);
    EXPECT_GT(*best, static_cast<unsigned long>(e2e::HELD_RUN_SCORE));
    x.key("q");
    ASSERT_TRUE(game.wait_exit());

    // The recording holds what the rules received, presses and releases as a held
    // button gives them, and the simulator flies it to the same crashes.
    const std::string text = read_file(recording).value_or("");
    EXPECT_EQ(text.rfind(e2e::RECORDING_HEADER + "# options: --toggle\nseed ", 0), 0u) << text;
    std::istringstream lines(text);
    std::vector<std::string> events;
    for (std::string line; std::getline(lines, line);)
        if (line == "press" || line == "release")
            events.push_back(line);
    EXPECT_EQ(events, (std::vector<std::string>{"press", "press", "release"})) << text;
    const std::string trace = box.path("trace");
    ASSERT_EQ(std::system((std::string(SKARVOLT_SIM_BINARY) + " " + recording + " > " + trace).c_str()), 0);
    const std::string replayed = read_file(trace).value_or("");
    EXPECT_NE(replayed.find("crash 45\n"), std::string::npos) << replayed;
    EXPECT_NE(replayed.find("crash " + std::to_string(*best) + "\n"), std::string::npos) << replayed;
}

TEST(Keys, SpaceHeldFromTheStartCrashesAt45AsTheMouseDoes)
{
    XServer x;
    Sandbox box;
    Game game(box, {.args = {"--keys"}}, &x);
    const Window w = game.window();
    x.settled_image(w, e2e::shows_text);
    x.hold_key("space", true);
    wait_for_score(box, game, HELD_SCORE_LINE);
    x.settled_image(w, e2e::shows_burst_above);
    // Still held, past the server's delay before a key repeats: the repeats start no run
    // after the crash is shown. Events come in order, so a frame drawn after them (a
    // redraw) shows whether one did.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    x.redraw(w);
    EXPECT_TRUE(e2e::shows_burst_above(x.settled_image(w)));
    EXPECT_EQ(read_file(box.score_file()), HELD_SCORE_LINE);
    x.hold_key("space", false);
    // An arrow key, pressed and released, is the button too: a run starts.
    tap(x, "Left");
    x.wait_for_image(w, run_shown);
    e2e::quit(x, game);
}

TEST(Keys, WithoutTheOptionSpaceDoesNothing)
{
    XServer x;
    Sandbox box;
    Game game(box, {}, &x);
    const Window w = game.window();
    const Image title = x.settled_image(w, e2e::shows_text);
    x.hold_key("space", true);
    x.redraw(w);
    EXPECT_EQ(x.settled_image(w), title);
    x.hold_key("space", false);
    EXPECT_FALSE(test_support::exists(box.score_file()));
}

// With --toggle --keys one key does everything: it starts a run, lets the ship fall,
// and starts the next run after a crash.
TEST(OneSwitch, AWholeSessionWithOneKeyAlone)
{
    XServer x;
    Sandbox box;
    Game game(box, {.args = {"--toggle", "--keys"}}, &x);
    const Window w = game.window();
    x.settled_image(w, e2e::shows_text);

    tap(x, "space"); // climbs out of the top
    wait_for_score(box, game, HELD_SCORE_LINE);
    x.settled_image(w, e2e::shows_burst_above);

    tap(x, "space"); // the next run, climbing
    x.wait_for_image(w, run_shown);
    tap(x, "space"); // falls out of the bottom, later than 45
    x.settled_image(w, shows_burst_below);
    ASSERT_GT(stored(box).value_or(0), static_cast<unsigned long>(e2e::HELD_RUN_SCORE));

    tap(x, "space"); // and once more, out of the top
    x.wait_for_image(w, run_shown);
    x.settled_image(w, e2e::shows_burst_above);
    EXPECT_TRUE(game.running());
}

TEST(ControlOptions, ABadValueIsOneLineAndStatus2BeforeAnyWindow)
{
    const struct {
        std::vector<std::string> args;
        std::string error;
    } cases[] = {
        {{"--speed", "30"}, "skarvolt: --speed takes a whole percentage from 50 to 100\n"},
        {{"--toggle", "--speed=7O"}, "skarvolt: --speed takes a whole percentage from 50 to 100\n"},
        {{"--keys", "--speed"}, "skarvolt: --speed needs a percentage from 50 to 100\n"},
        {{"--speed", "60", "--speed", "60"}, "skarvolt: --speed given twice\n"},
        // A mistyped option is said, not played without a word; GLUT's go to GLUT.
        {{"--toogle", "-geometry", "640x480"},
         "skarvolt: unknown option --toogle (the nearest is --toggle; --help lists them)\n"},
        {{"--geometry", "800x600"},
         "skarvolt: unknown option --geometry (the nearest is -geometry; --help lists them)\n"},
        {{"--seed", "x"}, "skarvolt: --seed takes a whole number from 0 to 18446744073709551615\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        Sandbox box;
        std::vector<std::string> args = c.args;
        const std::string recording = box.path("session.txt");
        args.insert(args.begin(), {"--record", recording});
        // No display at all: the game must not get as far as looking for one.
        Game game(box, {.args = args});
        const auto status = game.wait_exit();
        ASSERT_TRUE(status);
        EXPECT_TRUE(status->exited);
        EXPECT_EQ(status->code, 2);
        EXPECT_EQ(game.err(), c.error);
        EXPECT_FALSE(test_support::exists(recording));
        EXPECT_FALSE(test_support::exists(box.score_file()));
    }
}

// The desktop entry's actions, [Desktop Action ID] groups named by its Actions key:
// each one's Exec line.
std::vector<std::pair<std::string, std::string>> desktop_actions(const std::string& file)
{
    std::ifstream in(file);
    std::vector<std::pair<std::string, std::string>> actions;
    std::string group;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("["))
            group = line;
        else if (line.starts_with("Exec=") && group.starts_with("[Desktop Action "))
            actions.emplace_back(group.substr(16, group.size() - 17), line.substr(5));
    }
    return actions;
}

TEST(DesktopEntry, EachActionStartsTheGameWithItsOptions)
{
    const auto actions = desktop_actions(SKARVOLT_DESKTOP_FILE);
    ASSERT_EQ(actions.size(), 2u);
    XServer x;
    for (const auto& [id, exec] : actions) {
        SCOPED_TRACE(id + ": " + exec);
        std::istringstream words(exec);
        std::string program;
        words >> program;
        ASSERT_EQ(program, "skarvolt");
        std::vector<std::string> args;
        for (std::string word; words >> word;)
            args.push_back(word);
        ASSERT_FALSE(args.empty());
        std::string options;
        for (const std::string& arg : args)
            options += (options.empty() ? "" : " ") + arg;

        // The recording names the options the game took, in the order they are given.
        Sandbox box;
        const std::string recording = box.path("session.txt");
        args.insert(args.end(), {"--record", recording});
        Game game(box, {.args = args}, &x);
        const Window w = game.window();
        x.settled_image(w, e2e::shows_text);
        // Every action makes the keys the button.
        tap(x, "Return");
        x.wait_for_image(w, run_shown);
        x.key("q");
        ASSERT_TRUE(game.wait_exit());
        const std::string text = read_file(recording).value_or("");
        EXPECT_EQ(text.rfind(e2e::RECORDING_HEADER + "# options: " + options + "\nseed ", 0), 0u)
            << text;
    }
}

} // namespace
