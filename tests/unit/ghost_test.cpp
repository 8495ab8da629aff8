// Racing a ghost: the run a recording gives, flown again tick for tick beside the
// player's; where two runs part; the ghost's fade; the race's title; and the window's
// game raced, drawn and left exactly as it flies without a ghost.
#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/ghost.h"
#include "app/shell.h"
#include "app/shell_session.h"
#include "fake_gl.h"
#include "session/ghost.h"
#include "game/random.h"
#include "game/state.h"
#include "render/scene.h"
#include "sim/replay.h"
#include "support/files.h"
#include "support/scratch.h"

namespace {

Game& game = window_session().game;

const std::string HEADER = "# Skarvolt 1.1 recording\n";

// A run with strokes, and one that parts from it where it lets go: at tick 20 against 25.
const std::string STROKES = HEADER + "seed 77\npress\ntick 20\nrelease\ntick 15\npress\ntick 4\n"
                                     "release\npress\nrelease\ntick 500\n";
const std::string LATER = HEADER + "seed 77\npress\ntick 25\nrelease\ntick 15\npress\ntick 4\n"
                                   "release\ntick 500\n";

struct Loaded {
    bool ok = false;
    GhostRecording ghost;
    std::string err; // what was said on standard error
};

Loaded load_text(const std::string& text, const std::string& name = "ghost.rec")
{
    test_support::ScratchDir dir{"ghost"};
    const std::string path = dir / name;
    test_support::write_file(path, text);
    Loaded loaded;
    ::testing::internal::CaptureStderr();
    loaded.ok = load_ghost(path.c_str(), &loaded.ghost);
    loaded.err = ::testing::internal::GetCapturedStderr();
    return loaded;
}

GhostRecording load_good(const std::string& text)
{
    Loaded loaded = load_text(text);
    EXPECT_TRUE(loaded.ok) << loaded.err;
    return loaded.ghost;
}

// What the simulator's replay of a script flies: the ship's height after each tick.
std::vector<float> flown;
void note_height(const GameState& game, std::FILE* /*out*/)
{
    flown.push_back(game.trail[0]);
}

std::vector<float> simulated_heights(const std::string& script)
{
    flown.clear();
    std::FILE* in = fmemopen(const_cast<char*>(script.data()), script.size(), "r");
    Session sim;
    start_replay(sim, 1);
    replay(sim, in, "script", stdout, {.write_tick = note_height});
    std::fclose(in);
    return flown;
}

bool flying(const Ghost& ghost)
{
    return (ghost.session.game.state & RUNNING) != 0;
}

TEST(GhostFile, TakesTheFirstRunFromASeedThatCrashes)
{
    const GhostRecording held = load_good(HEADER + "seed 5\npress\ntick 100\nframe\npress\n"
                                                   "release\ntick 100\n");
    EXPECT_EQ(held.seed, 5u);
    EXPECT_EQ(held.score, 45u); // straight out of the top
    EXPECT_TRUE(held.inputs.empty());

    // Inputs between the same two ticks come to the last of them; the press that starts
    // the run is no input of it.
    const std::string script =
        "seed 6\npress\nrelease\npress\ntick 3\nrelease\nrelease\ntick 2\npress\ntick 200\n";
    const GhostRecording strokes = load_good(script);
    ASSERT_EQ(strokes.inputs.size(), 3u);
    const GhostInput expected[] = {{0, true}, {3, false}, {5, true}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(strokes.inputs[i].tick, expected[i].tick) << i;
        EXPECT_EQ(strokes.inputs[i].press, expected[i].press) << i;
    }
    EXPECT_EQ(strokes.score, simulated_heights(script).size());

}

TEST(GhostFile, RefusesWhatCannotBeRacedInOneLine)
{
    struct Case {
        std::string text;
        std::string said; // after "skarvolt: ", the file's path standing for PATH
    };
    const Case cases[] = {
        {"hello\n", "PATH: line 1: unknown event \"hello\""},
        {HEADER + "seed 5\npress\ntick 100\njump\n", "PATH: line 5: unknown event \"jump\""},
        {HEADER + "seed 5\npress\ntick 10\nseed 6\ntick 100\n",
         "PATH: line 5: \"seed\" in the middle of a run"},
        {HEADER + "seed 5\npress\ntick 20\n",
         "cannot race PATH: no run in it starts from a \"seed\" line and ends in a crash"},
        {HEADER + "seed 5\n", "cannot race PATH: no run in it starts from a \"seed\" line and "
                              "ends in a crash"},
        // Held to the work the viewer allows a recording, after the ghost's run too.
        {HEADER + "seed 5\npress\ntick 100\ntick 19999900\nframe\n",
         "PATH: line 6: asks for more than 20000000 ticks of play by here (a frame counts 720)"},
    };
    for (const Case& c : cases) {
        test_support::ScratchDir dir{"ghost"};
        const std::string path = dir / "ghost.rec";
        test_support::write_file(path, c.text);
        GhostRecording ghost;
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(load_ghost(path.c_str(), &ghost)) << c.text;
        std::string said = c.said;
        said.replace(said.find("PATH"), 4, path);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "skarvolt: " + said + "\n");
    }

    test_support::ScratchDir dir{"ghost"};
    // Larger than any recording: not read at all (a sparse file takes no room).
    const std::string huge = dir / "huge.rec";
    test_support::write_file(huge, HEADER);
    ASSERT_EQ(truncate(huge.c_str(), (std::int64_t{64} << 20) + 1), 0);
    for (const auto& [path, why] :
         {std::pair{dir / "missing", "No such file or directory"},
          std::pair{dir.path, "not a regular file"},
          std::pair{huge, "larger than 64 MiB, more than any recording holds"}}) {
        GhostRecording ghost;
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(load_ghost(path.c_str(), &ghost));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "skarvolt: cannot race " + path + ": " + why + "\n");
    }
}

// However the player's ticks fall (one a timer, or several when a frame was late), the
// ghost stands where the simulator's replay of its recording stood after as many ticks.
TEST(Ghost, FliesItsRecordedRunTickForTick)
{
    const GhostRecording recorded = load_good(STROKES);
    const std::vector<float> heights = simulated_heights(STROKES);
    ASSERT_EQ(heights.size(), recorded.score);
    for (const int step : {1, 3, 7}) {
        SCOPED_TRACE("ticks at a time: " + std::to_string(step));
        Ghost ghost;
        ghost.run = recorded.run();
        ghost_start(ghost);
        EXPECT_TRUE(flying(ghost));
        while (flying(ghost)) {
            ghost_follow(ghost, step);
            ASSERT_GE(ghost.session.game.score, 1u);
            ASSERT_LE(ghost.session.game.score, recorded.score);
            EXPECT_EQ(ghost.session.game.trail[0], heights[ghost.session.game.score - 1]) << ghost.session.game.score;
        }
        EXPECT_EQ(ghost.session.game.score, recorded.score);
        EXPECT_EQ(ghost.session.game.state, CRASHED);
    }
}

// A ghost of another run stays on the player's ship until the inputs part, and parts on
// the very tick after.
TEST(Ghost, PartsFromAnotherRunWhereTheInputsPart)
{
    Ghost ghost;
    const GhostRecording recorded = load_good(STROKES);
    ghost.run = recorded.run();
    ghost_start(ghost);
    const std::vector<float> player = simulated_heights(LATER);
    std::size_t parted = 0;
    for (std::size_t tick = 1; tick <= player.size() && flying(ghost); ++tick) {
        ghost_follow(ghost, 1);
        if (parted == 0 && ghost.session.game.trail[0] != player[tick - 1])
            parted = tick;
    }
    EXPECT_EQ(parted, 21u); // the ghost let go after tick 20, the player after 25
}

TEST(Ghost, StopsAtItsCrashAndFadesOverTheNextTicks)
{
    Ghost ghost;
    const GhostRecording recorded = load_good("seed 3\npress\ntick 100\n");
    ghost.run = recorded.run();
    EXPECT_EQ(ghost_fade(ghost), 0.0f); // not started: not shown
    ghost_start(ghost);
    EXPECT_EQ(ghost_fade(ghost), 1.0f);
    ghost_follow(ghost, 45);
    ASSERT_EQ(ghost.session.game.state, CRASHED);
    const Game at_crash = ghost.session.game;
    EXPECT_EQ(ghost_fade(ghost), 1.0f);
    float before = 1.0f;
    for (std::int64_t tick = 1; tick < GHOST_FADE_TICKS; ++tick) {
        ghost_follow(ghost, 1);
        EXPECT_LT(ghost_fade(ghost), before) << tick;
        EXPECT_GT(ghost_fade(ghost), 0.0f) << tick;
        before = ghost_fade(ghost);
    }
    ghost_follow(ghost, 1);
    EXPECT_EQ(ghost_fade(ghost), 0.0f);
    // It stopped where it crashed: no tick, no burst drawn from its sequence.
    EXPECT_EQ(std::memcmp(&ghost.session.game, &at_crash, sizeof at_crash), 0);
}

TEST(RaceTitle, TellsTheRaceDuringARunAndAfterTheCrash)
{
    struct Case {
        int state;
        std::uint32_t you;
        std::uint32_t ghost;
        const char* title; // nullptr: the program's own title stays
    };
    const Case cases[] = {
        {RUNNING, 1210, 1843, "ghost 1843 \u00b7 you 1210"},
        {RUNNING, 0, 45, "ghost 45 \u00b7 you 0"},
        {CRASHED | ARMED, 2155, 1843, "ahead by 312"},
        {CRASHED, 1210, 1843, "behind by 633"},
        {CRASHED | ARMED, 45, 45, "ahead by 0"},
        {CRASHED | ARMED, 4294967295u, 1, "ahead by 4294967294"},
        {CRASHED | ARMED, 1, 4294967295u, "behind by 4294967294"},
        {RUNNING, 4294967295u, 4294967295u, "ghost 4294967295 \u00b7 you 4294967295"},
        {ARMED, 0, 45, nullptr},
    };
    for (const Case& c : cases) {
        GameState you{};
        you.state = c.state;
        you.score = c.you;
        char title[64] = "unchanged";
        EXPECT_EQ(race_title(c.ghost, you, title, sizeof title), c.title != nullptr);
        EXPECT_STREQ(title, c.title ? c.title : "unchanged");
    }
}

// --- The window's game raced ------------------------------------------------------------

// The trail's vertices drawn in a colour, in order.
std::vector<fake::Vertex> vertices_coloured(float level_red, float level_green)
{
    std::vector<fake::Vertex> found;
    for (const fake::Vertex& v : fake::vertices)
        if (v.color[0] == level_red && v.color[1] == level_green && v.color[2] == level_red)
            found.push_back(v);
    return found;
}

// A trail's 46 segments, each a quad and its two lines.
constexpr std::size_t TRAIL_VERTICES = 46 * 8;

// The player's trail: what the frame draws first after the ghost.
std::vector<fake::Vertex> player_trail(std::size_t after)
{
    return {fake::vertices.begin() + static_cast<long>(after),
            fake::vertices.begin() + static_cast<long>(after + TRAIL_VERTICES)};
}

void expect_ghost_on_the_player(const char* when)
{
    SCOPED_TRACE(when);
    fake::vertices.clear();
    on_display();
    const std::vector<fake::Vertex> ghost = vertices_coloured(GHOST_GREY, GHOST_GREY);
    ASSERT_EQ(ghost.size(), TRAIL_VERTICES);
    const std::vector<fake::Vertex> player = player_trail(ghost.size());
    for (std::size_t i = 0; i < ghost.size(); ++i) {
        EXPECT_EQ(player[i].color, (std::array<float, 3>{0, 1, 0})) << i;
        EXPECT_EQ(ghost[i].sx, player[i].sx) << i;
        EXPECT_EQ(ghost[i].sy, player[i].sy) << i;
    }
}

// Dimmed as it fades, and not drawn at all once faded; the matrices as it found them.
TEST(Race, TheGhostsTrailIsGreyAndFades)
{
    Game ghost;
    ghost.trail[3] = 0.25f;
    for (const float fade : {1.0f, 0.5f, 0.0f}) {
        fake::reset();
        draw_ghost(ghost, fade);
        EXPECT_EQ(fake::vertices.size(), fade > 0 ? TRAIL_VERTICES : 0u) << fade;
        for (const fake::Vertex& v : fake::vertices)
            EXPECT_EQ(v.color, (std::array<float, 3>{GHOST_GREY * fade, GHOST_GREY * fade,
                                                      GHOST_GREY * fade}));
        EXPECT_EQ(fake::matrix_depth(), 1);
    }
}

// The player flies the ghost's own run: the ghost's trail lies exactly under the player's
// in every frame, the title ends on "ahead by 0", the player's game is the one the
// simulator flies without a ghost, and g hides and shows the ghost.
TEST(Race, TheWindowsRunRacedWithItsOwnInputs)
{
    const GhostRecording recorded = load_good("seed 77\npress\ntick 20\nrelease\ntick 500\n");
    Session alone;
    start_replay(alone, 77);
    {
        const std::string script = "press\ntick 20\nrelease\ntick 500\n";
        std::FILE* in = fmemopen(const_cast<char*>(script.data()), script.size(), "r");
        std::FILE* out = std::tmpfile();
        replay(alone, in, "script", out);
        std::fclose(in);
        std::fclose(out);
    }

    fake::reset();
    new_game();
    seed_game(recorded.seed);
    set_run_seed(recorded.seed);
    game.state = ARMED;
    race(recorded.run());
    EXPECT_EQ(fake::shown_title, ""); // the program's own until a run starts
    on_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0);
    EXPECT_EQ(fake::shown_title, "ghost " + std::to_string(recorded.score) + " \u00b7 you 0");
    expect_ghost_on_the_player("before the first tick");
    ASSERT_TRUE(fake::fire_timer());
    fake::clock_us += 30000; // a late frame: three ticks at once
    ASSERT_TRUE(fake::fire_timer());
    ASSERT_EQ(game.score, 4u);
    expect_ghost_on_the_player("after a late frame");
    while (game.score < 20 && fake::fire_timer()) {
    }
    ASSERT_EQ(game.score, 20u);
    on_mouse(GLUT_LEFT_BUTTON, GLUT_UP, 0, 0);
    ASSERT_TRUE(fake::fire_timer());
    EXPECT_EQ(fake::shown_title, "ghost " + std::to_string(recorded.score) + " \u00b7 you 21");
    expect_ghost_on_the_player("after the release");

    on_key('g', 0, 0);
    fake::vertices.clear();
    on_display();
    EXPECT_TRUE(vertices_coloured(GHOST_GREY, GHOST_GREY).empty()) << "hidden";
    on_key('g', 0, 0);
    expect_ghost_on_the_player("shown again");

    while (fake::fire_timer()) {
    }
    EXPECT_EQ(game.state, CRASHED);
    EXPECT_EQ(game.score, recorded.score);
    EXPECT_EQ(fake::shown_title, "ahead by 0");
    EXPECT_EQ(game.random, alone.game.random);
    EXPECT_EQ(std::memcmp(game.trail, alone.game.trail, sizeof game.trail), 0);
    EXPECT_EQ(std::memcmp(game.tunnel_center, alone.game.tunnel_center, sizeof game.tunnel_center),
              0);
    expect_ghost_on_the_player("at the crash");

    // The next run starts the ghost again, in its tunnel again; held, it crashes first,
    // at 45.
    on_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0);
    ASSERT_EQ(game.state, RUNNING);
    EXPECT_EQ(game.random, random_seeded(recorded.seed));
    while (fake::fire_timer()) {
    }
    EXPECT_EQ(fake::shown_title, "behind by " + std::to_string(recorded.score - 45));

    // With --keys every other key is the button, but g stays the ghost's.
    Controls keys;
    keys.keys = true;
    use_controls(keys);
    on_display(); // the crash shown: the next press may start a run
    on_key('g', 0, 0);
    on_key_up('g', 0, 0);
    EXPECT_FALSE(game.state & RUNNING);
    on_key('x', 0, 0);
    EXPECT_TRUE(game.state & RUNNING);
    use_controls(Controls{});
}

} // namespace
