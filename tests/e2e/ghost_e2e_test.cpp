// Racing a ghost in the real window: a ghost of the player's own recorded run, flown
// again with the same inputs, never shows beside the player's ship, and the title says
// the race was a tie; a ghost of another run shows grey where it parts, g hides it, and
// a recording made while racing names it and replays as any other. A file that cannot be
// raced is one line before any window.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "harness.h"
#include "picture.h"
#include "quit.h"
#include "support/files.h"

namespace {

using e2e::Game;
using e2e::Image;
using e2e::quit;
using e2e::Rgb;
using e2e::Sandbox;
using e2e::XServer;

// The ghost's grey, at any step of its fade: nothing else the game draws is grey.
bool is_ghost_grey(Rgb c)
{
    return c.r == c.g && c.g == c.b && c.r > 0 && c.r < 255;
}

int ghost_pixels(const Image& image)
{
    return e2e::count_pixels(image, 0, 0, image.width, image.height, is_ghost_grey);
}

bool title_is(XServer& x, Window w, const std::string& title)
{
    return e2e::wait_until([&] { return x.title(w) == title; });
}

// The crash lines of skarvolt-sim's replay of a recording.
std::string sim_crashes(const Sandbox& box, const std::string& recording)
{
    const std::string trace = box.path("trace");
    const std::string command = std::string(SKARVOLT_SIM_BINARY) + " " + recording + " > " +
                                trace + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << test_support::read_file(trace).value_or("");
    std::istringstream lines(test_support::read_file(trace).value_or(""));
    std::string crashes;
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("crash "))
            crashes += line + "\n";
    return crashes;
}

TEST(Ghost, ItsOwnRunFlownAgainStaysOnThePlayersShip)
{
    XServer x;
    Sandbox box;
    const std::string recording = box.path("held.rec");
    Image recorded_crash;
    {
        Game game(box, {.args = {"--record", recording}}, &x);
        recorded_crash = e2e::held_run_crash(x, game, box);
        x.release();
        quit(x, game);
    }

    Sandbox racing;
    Game game(racing, {.args = {"--ghost", recording}}, &x);
    const Window w = game.window();
    const e2e::Geometry g = x.geometry(w);
    x.press(g.width / 2, g.height / 2);
    // The title tells the race while it runs, its middle dot whole.
    EXPECT_TRUE(e2e::wait_until([&] {
        const std::string title = x.title(w);
        return title.starts_with("ghost ") && title.find(" \u00b7 you ") != std::string::npos;
    })) << x.title(w);
    // Every picture of the run: the ghost lies under the player's trail.
    int pictures = 0;
    e2e::wait_until([&] {
        const Image shot = x.grab(w);
        ++pictures;
        EXPECT_EQ(ghost_pixels(shot), 0) << "picture " << pictures;
        return e2e::shows_burst_above(shot);
    });
    EXPECT_TRUE(title_is(x, w, "ahead by 0")) << x.title(w);
    const Image crash = x.settled_image(w, e2e::shows_burst_above);
    x.release();
    EXPECT_EQ(ghost_pixels(crash), 0);
    // The same seed, the same strokes, the same burst: the very picture of the recorded
    // game, as if no ghost flew.
    EXPECT_TRUE(crash == recorded_crash) << "the race's crash differs from the recorded one";
    quit(x, game);
}

TEST(Ghost, AnotherRunShowsGreyWhereItPartsAndGHidesIt)
{
    XServer x;
    Sandbox box;
    // Up for 20 ticks, then falling: out of the bottom of the window on tick 93, behind
    // which the held run's 45 stays.
    const std::string ghost = box.path("ghost.rec");
    test_support::write_file(ghost, e2e::RECORDING_HEADER +
                                        "seed 7\npress\ntick 20\nrelease\ntick 500\n");
    ASSERT_EQ(sim_crashes(box, ghost), "crash 93\n");
    const std::string recording = box.path("race.rec");
    Game game(box, {.args = {"--ghost", ghost, "--record", recording}}, &x);
    const Window w = game.window();
    const Image crash = e2e::held_run_crash(x, game, box);
    x.release();
    EXPECT_TRUE(title_is(x, w, "behind by 48")) << x.title(w);
    // The ghost stands where it was when the player crashed, grey under the burst.
    EXPECT_GT(ghost_pixels(crash), 20);

    x.key("g");
    EXPECT_NO_THROW(x.wait_for_image(w, [](const Image& i) { return ghost_pixels(i) == 0; }));
    x.key("g");
    EXPECT_NO_THROW(x.wait_for_image(w, [](const Image& i) { return ghost_pixels(i) > 20; }));
    quit(x, game);

    const std::string kept = test_support::read_file(recording).value_or("(none)");
    EXPECT_TRUE(kept.starts_with(e2e::RECORDING_HEADER + "# ghost: run of seed 7, score 93\n"
                                                         "seed 7\npress\n"))
        << kept;
    EXPECT_EQ(sim_crashes(box, recording), "crash 45\n");
}

TEST(Ghost, AFileThatCannotBeRacedIsOneLineBeforeAnyWindow)
{
    Sandbox box;
    const std::string no_recording = box.path("notes.txt");
    test_support::write_file(no_recording, "buy milk\n");
    const std::string unfinished = box.path("unfinished.rec");
    test_support::write_file(unfinished, e2e::RECORDING_HEADER + "seed 7\npress\ntick 20\n");
    const std::pair<std::string, std::string> cases[] = {
        {no_recording, no_recording + ": line 1: unknown event \"buy\""},
        {unfinished, "cannot race " + unfinished +
                         ": no run in it starts from a \"seed\" line and ends in a crash"},
        {box.path("missing"), "cannot race " + box.path("missing") +
                                  ": No such file or directory"},
    };
    for (const auto& [path, said] : cases) {
        Game game(box, {.args = {"--ghost", path}}); // no display: a window would fail
        const auto status = game.wait_exit();
        ASSERT_TRUE(status) << path;
        EXPECT_TRUE(status->exited && status->code == 2) << *status;
        EXPECT_EQ(game.err(), "skarvolt: " + said + "\n");
    }
}

} // namespace
