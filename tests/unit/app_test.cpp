// The shell around the game: the version option, the frame bracket, keys and reshapes.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include "app/shell.h"
#include "app/shell_session.h"
#include "app/window.h"
#include "fake_gl.h"
#include "game/state.h"

namespace {

// The window's game, as the shell flies it.
Game& game = window_session().game;

bool version_requested(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return wants_version(static_cast<int>(args.size()), argv.data());
}

TEST(VersionOption, WholeArgumentsAfterTheProgramNameOnly)
{
    struct Case {
        std::vector<std::string> args;
        bool version;
    };
    const Case cases[] = {
        {{"skarvolt", "-v"}, true},
        {{"skarvolt", "--version"}, true},
        {{"skarvolt", "-geometry", "640x480", "-v"}, true},
        {{"skarvolt", "-display", "-v"}, true}, // even as the value of a GLUT option
        {{"skarvolt", "-v", "--version"}, true},
        {{"skarvolt"}, false},
        {{"-v"}, false}, // the program's own name is never an option
        {{"skarvolt", "-V"}, false},
        {{"skarvolt", "-version"}, false},
        {{"skarvolt", "--version=1"}, false},
        {{"skarvolt", "-vv"}, false},
        {{"skarvolt", "--v"}, false},
        {{"skarvolt", ""}, false},
        {{}, false},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& arg : c.args)
            shown += "'" + arg + "' ";
        EXPECT_EQ(version_requested(c.args), c.version) << shown;
    }
}

TEST(WindowTitle, LastComponentOfTheProgramName)
{
    char path[] = "/usr/games/skarvolt";
    char bare[] = "skarvolt-e2e";
    char dash[] = "-v";
    char* with_path[] = {path, nullptr};
    char* without_path[] = {bare, nullptr};
    char* dashed[] = {dash, nullptr};
    char* none[] = {nullptr};
    EXPECT_STREQ(window_title(1, with_path), "skarvolt");
    EXPECT_STREQ(window_title(1, without_path), "skarvolt-e2e");
    EXPECT_STREQ(window_title(1, dashed), "-v");
    EXPECT_STREQ(window_title(0, none), "Skarvolt");
}

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        on_reshape(WINDOW_WIDTH, WINDOW_HEIGHT);
        fake::reset_with_game(game);
    }
};

TEST_F(FrameTest, ReshapeKeepsViewportAndSizeInStep)
{
    for (auto [w, h] : {std::pair{640, 480}, {1, 1000}, {1000, 1}, {0, 0}}) {
        fake::reset();
        glTranslatef(0.5f, 0.5f, 0.0f); // left over from nowhere: reshape resets it
        fake::calls.clear();
        on_reshape(w, h);
        EXPECT_EQ(window_size().width, w);
        EXPECT_EQ(window_size().height, h);
        ASSERT_EQ(fake::names(), (std::vector<std::string>{"glViewport", "glLoadIdentity"}));
        EXPECT_EQ(fake::calls[0].args, (std::vector<double>{0, 0, double(w), double(h)}));
        EXPECT_EQ(fake::matrix()[12], 0.0);
        EXPECT_EQ(fake::redisplays, 0);
    }
}

TEST_F(FrameTest, FrameIsClearSceneOverlaySwap)
{
    game.state = CRASHED;
    game.score = 45;
    game.high_score = 45;
    on_display();
    const std::vector<std::string> names = fake::names();
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(fake::calls.front().name, "glClear");
    EXPECT_EQ(fake::calls.front().args, std::vector<double>{GL_COLOR_BUFFER_BIT});
    EXPECT_EQ(fake::count("glClear"), 1);
    EXPECT_EQ(names.back(), "glutSwapBuffers");
    EXPECT_EQ(fake::swaps, 1);
    // The overlay comes after the whole scene, burst included, and sees the armed crash.
    const auto last_ray = std::find(names.rbegin(), names.rend(), "glRotatef");
    const auto text = std::find(names.begin(), names.end(), "glRasterPos2f");
    ASSERT_NE(last_ray, names.rend());
    ASSERT_NE(text, names.end());
    EXPECT_LT(names.rend() - last_ray, text - names.begin() + 1);
    EXPECT_EQ(game.state, CRASHED | ARMED);
    EXPECT_EQ(fake::count("glutBitmapCharacter"), 11); // "45 (HS: 45)"
    EXPECT_EQ(fake::matrix_depth(), 1);
}

TEST_F(FrameTest, TitleFrameIsOnlyTheOverlay)
{
    game.state = ARMED;
    on_display();
    EXPECT_EQ(fake::count("glVertex2f"), 4); // the box
    EXPECT_EQ(fake::count("glutBitmapCharacter"), 5); // "HS: 0"
    EXPECT_EQ(game.state, ARMED);
}

TEST(QuitKeys, EndTheProcessWithStatusZero)
{
    for (unsigned char key : {'q', 'Q', '\x1b'}) {
        fake::reset_with_game(game);
        game.state = RUNNING;
        EXPECT_EXIT(on_key(key, 10, 10), ::testing::ExitedWithCode(0), "") << int(key);
    }
}

TEST(QuitKeys, EveryOtherKeyChangesNothing)
{
    fake::reset_with_game(game);
    game.state = RUNNING;
    game.score = 12;
    const Game before = game;
    for (int key = 0; key < 256; ++key) {
        if (key == 'q' || key == 'Q' || key == 27)
            continue;
        on_key(static_cast<unsigned char>(key), -5, 9999);
    }
    EXPECT_EQ(std::memcmp(static_cast<const GameState*>(&before),
                          static_cast<const GameState*>(&game), sizeof(GameState)),
              0);
    EXPECT_EQ(game.random, before.random);
    EXPECT_TRUE(fake::calls.empty());
}

TEST(MouseButtons, EveryButtonAnywhereIsTheOneButton)
{
    for (int button : {GLUT_LEFT_BUTTON, GLUT_MIDDLE_BUTTON, GLUT_RIGHT_BUTTON, 3, 4}) {
        fake::reset_with_game(game);
        game.state = ARMED;
        on_mouse(button, GLUT_DOWN, -7, 9999);
        EXPECT_EQ(game.state, RUNNING) << button;
        EXPECT_EQ(game.accel, THRUST) << button;
        on_mouse(button, GLUT_UP, 400, 0);
        EXPECT_EQ(game.accel, -THRUST) << button;
        EXPECT_EQ(fake::timers.size(), 1u) << button;
    }
}

// The shell keeps the rules' clock: the title screen loads the best score, a press that
// starts a run arms the tick timer, every tick asks for a redisplay and arms the next,
// and the crash stores the score instead.
class ShellTimer : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset_with_game(game);
    }
};

TEST_F(ShellTimer, TheTitleScreenLoadsTheBestScore)
{
    game.high_score = 77; // whatever was there, the load starts from nothing
    open_title_screen();
    EXPECT_EQ(game.state, ARMED);
    EXPECT_EQ(fake::sync_calls, 1);
    EXPECT_EQ(fake::state_at_sync, ARMED);
    EXPECT_EQ(game.high_score, 0u);
    EXPECT_TRUE(fake::timers.empty());
}

TEST_F(ShellTimer, AHeldRunTicksByTheTimerUntilItsCrashIsStored)
{
    game.state = ARMED;
    on_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0);
    ASSERT_EQ(fake::timers.size(), 1u);
    EXPECT_EQ(fake::timers[0].ms, 12u);
    EXPECT_EQ(fake::timers[0].callback, &on_tick);
    EXPECT_EQ(fake::timers[0].value, 0);
    EXPECT_EQ(fake::redisplays, 0);

    int ticks = 0;
    while (fake::fire_timer()) {
        ++ticks;
        EXPECT_LE(fake::timers.size(), 1u);
        EXPECT_EQ(fake::redisplays, ticks);
        EXPECT_EQ(fake::sync_calls, game.state == CRASHED ? 1 : 0);
    }
    EXPECT_EQ(ticks, 45);
    EXPECT_EQ(game.state, CRASHED);
    EXPECT_EQ(fake::state_at_sync, CRASHED);
    EXPECT_EQ(game.high_score, 45u);
}

// A crash whose save fails (the file held by a stuck game) keeps its best pending: the
// way out saves it, once; a best that was saved is never saved again on the way out.
TEST_F(ShellTimer, OnlyABestItsCrashCouldNotSaveIsSavedOnTheWayOut)
{
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "the crash's save fails" : "the crash's save succeeds");
        fake::reset_with_game(game);
        fake::stored_best = 30;
        open_title_screen();
        EXPECT_EQ(game.high_score, 30u);
        fake::saves_fail = fails;
        on_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0);
        while (fake::fire_timer()) {
        }
        EXPECT_EQ(game.high_score, 45u);
        EXPECT_EQ(fake::stored_best, fails ? 30u : 45u);

        fake::saves_fail = false;
        const int calls = fake::sync_calls;
        save_pending_best();
        EXPECT_EQ(fake::sync_calls, calls + (fails ? 1 : 0));
        EXPECT_EQ(fake::stored_best, 45u);
        save_pending_best();
        EXPECT_EQ(fake::sync_calls, calls + (fails ? 1 : 0));
    }
}

TEST_F(ShellTimer, ALateTimerRunsTheDueTicksAndArmsForTheNext)
{
    game.state = ARMED;
    on_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0);
    ASSERT_TRUE(fake::fire_timer());
    fake::clock_us += 30000; // the second tick fires 30 ms late: three ticks are due
    ASSERT_TRUE(fake::fire_timer());
    EXPECT_EQ(game.score, 4u);
    EXPECT_EQ(fake::redisplays, 2);
    ASSERT_EQ(fake::timers.size(), 1u);
    EXPECT_EQ(fake::timers[0].ms, 6u);
}

} // namespace
