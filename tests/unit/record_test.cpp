// A session played through the shell's callbacks, as GLUT delivers them, while it is
// recorded: the simulator's replay of the recording flies every tick that the session
// flew, and nothing else.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include <GL/freeglut.h>
#include <fcntl.h>
#include <unistd.h>

#include "app/record.h"
#include "app/shell.h"
#include "fake_gl.h"
#include "game/random.h"
#include "game/run.h"
#include "game/state.h"
#include "sim/trace.h"
#include "support/files.h"
#include "support/scratch.h"

namespace {

using test_support::read_file;
using test_support::write_file;

class RecordingTest : public ::testing::Test {
protected:
    void SetUp() override { fake::reset_with_game(game); }
    void TearDown() override { finish_recording(); }

    std::string path(const std::string& name) const { return dir_ / name; }

    // Fires up to n pending ticks, keeping their trace as the simulator writes it.
    void ticks(int n = 1 << 20)
    {
        for (int i = 0; i < n && fake::fire_timer(); ++i) {
            char text[TICK_TEXT_MAX];
            trace_.append(text, static_cast<std::size_t>(format_tick(game, text)));
        }
    }
    void press() { on_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0); }
    void release() { on_mouse(GLUT_LEFT_BUTTON, GLUT_UP, 0, 0); }

    // The simulator's trace of a recording.
    std::string replay(const std::string& recording) const
    {
        const std::string out = path("replayed");
        const std::string command =
            std::string(SKARVOLT_SIM_BINARY) + " " + recording + " > " + out;
        EXPECT_EQ(std::system(command.c_str()), 0) << read_file(recording).value_or("(none)");
        return read_file(out).value_or("");
    }

    test_support::ScratchDir dir_{"record"};
    std::string trace_;
};

TEST_F(RecordingTest, SeveralRunsReplayTickForTick)
{
    const std::string recording = path("session");
    ASSERT_TRUE(start_recording(recording.c_str()));
    // As the game starts: seeded, the seed recorded, the title screen drawn.
    constexpr unsigned SEED = 2026;
    random_seed(&game.random, SEED);
    record_seed(SEED);
    open_title_screen();
    on_display();

    release(); // before any run: nothing happens, in the game or in the replay
    press();
    ticks(10);
    release();
    ticks(3);
    press();
    ticks(); // held to the crash out of the top
    // Between the crash and the frame that shows it, a press starts nothing.
    press();
    release();
    on_display();
    on_display(); // a second burst, from the generator too
    press();
    ticks(25);
    release();
    ticks(); // let fall to the crash
    on_display();
    press();
    ticks(7);
    finish_recording(); // the player quits during the third run
    const std::string flown = trace_;

    // Whatever a game did after its recording ended is in no replay.
    press();
    ticks(2);

    const std::string text = read_file(recording).value_or("");
    EXPECT_EQ(text.rfind("seed 2026\nrelease\npress\ntick 10\nrelease\ntick 3\npress\n", 0), 0u)
        << text;
    std::istringstream lines(flown);
    int crashes = 0;
    for (std::string line; std::getline(lines, line);)
        crashes += line.starts_with("crash ") ? 1 : 0;
    EXPECT_EQ(crashes, 2);
    EXPECT_EQ(replay(recording), flown);
}

// The player's older file is emptied only once the game has begun to record, and a game
// that never got that far leaves no file of its own behind.
TEST_F(RecordingTest, AFileIsReplacedOnlyOnceTheGameHasSomethingToPutInIt)
{
    const std::string old = path("old");
    write_file(old, "an older recording\n");
    ASSERT_TRUE(start_recording(old.c_str()));
    finish_recording();
    EXPECT_EQ(read_file(old), "an older recording\n");

    ASSERT_TRUE(start_recording(old.c_str()));
    record_seed(5);
    finish_recording();
    EXPECT_EQ(read_file(old), "seed 5\n");

    const std::string fresh = path("new");
    ASSERT_TRUE(start_recording(fresh.c_str()));
    finish_recording();
    EXPECT_FALSE(test_support::exists(fresh));
}

TEST_F(RecordingTest, ALinkLeadsToTheRegularFileItNames)
{
    const std::string target = path("target");
    const std::string link = path("link");
    write_file(target, "x\n");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    ASSERT_TRUE(start_recording(link.c_str()));
    record_seed(1);
    finish_recording();
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(read_file(target), "seed 1\n");
}

// Started with standard error closed, the recording must not take its place: the
// game's messages would end up in the file and spoil the replay.
TEST_F(RecordingTest, AClosedStandardErrorStaysClosed)
{
    const int saved = ::dup(STDERR_FILENO);
    ASSERT_GE(saved, 0);
    ::close(STDERR_FILENO);
    const std::string session = path("session");
    const bool started = start_recording(session.c_str());
    const bool error_closed = ::fcntl(STDERR_FILENO, F_GETFD) == -1;
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ASSERT_TRUE(started);
    EXPECT_TRUE(error_closed);
    record_seed(3);
    finish_recording();
    EXPECT_EQ(read_file(session), "seed 3\n");
}

} // namespace
