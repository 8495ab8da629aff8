// A session played through the shell's callbacks, as GLUT delivers them, while it is
// recorded: the simulator's replay of the recording flies every tick that the session
// flew, and nothing else.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include <GL/freeglut.h>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/playback.h"
#include "app/record.h"
#include "app/shell.h"
#include "app/shell_session.h"
#include "app/window.h"
#include "fake_gl.h"
#include "game/random.h"
#include "game/run.h"
#include "game/state.h"
#include "sim/trace.h"
#include "support/files.h"
#include "support/scratch.h"
#include "version.h"

namespace {

// The window's game, as the shell flies it.
Game& game = window_session().game;

using test_support::read_file;
using test_support::write_file;

// The line that opens every recording.
const std::string HEADER = std::string("# Skarvolt ") + VERSION + " recording\n";

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
    EXPECT_EQ(text.rfind(HEADER + "seed 2026\nrelease\npress\ntick 10\nrelease\ntick 3\npress\n",
                         0),
              0u)
        << text;
    std::istringstream lines(flown);
    int crashes = 0;
    for (std::string line; std::getline(lines, line);)
        crashes += line.starts_with("crash ") ? 1 : 0;
    EXPECT_EQ(crashes, 2);
    EXPECT_EQ(replay(recording), flown);
}

// skarvolt --seed N: every run flies the tunnel of seed N, the recording says "seed N"
// before each run after the first, and the simulator and the viewer fly it to the scores
// the game showed.
TEST_F(RecordingTest, EveryRunFromTheFixedSeedReplaysInTheSimulatorAndTheViewer)
{
    const std::string recording = path("session");
    ASSERT_TRUE(start_recording(recording.c_str()));
    constexpr unsigned SEED = 31;
    set_run_seed(SEED);
    random_seed(&game.random, SEED);
    record_seed(SEED);
    open_title_screen();
    on_display();
    press();
    ticks(); // held to the crash out of the top
    const std::string first_run = trace_;
    on_display();
    on_display(); // two bursts: without the seed again, the next tunnel would be another
    press();
    ticks(12);
    release();
    ticks(); // let fall
    on_display();
    trace_.clear();
    press();
    ticks(); // held again: the same tunnel, tick for tick
    const std::string third_run = trace_;
    finish_recording();
    set_run_seed(std::nullopt);

    EXPECT_EQ(third_run, first_run);
    const std::string text = read_file(recording).value_or("");
    std::size_t seeds = 0;
    for (std::size_t at = 0; (at = text.find("\nseed 31\npress\n", at)) != std::string::npos; ++at)
        ++seeds;
    EXPECT_EQ(seeds, 3u) << text;

    std::vector<std::uint32_t> simulated;
    std::istringstream lines(replay(recording));
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with("crash "))
            simulated.push_back(static_cast<std::uint32_t>(std::stoul(line.substr(6))));
    ASSERT_EQ(simulated.size(), 3u) << text;
    EXPECT_EQ(simulated[0], 45u);
    EXPECT_EQ(simulated[2], 45u);

    RecordedSession session;
    ASSERT_TRUE(load_session(recording.c_str(), &session));
    Player player;
    player_start(player, session);
    std::vector<std::uint32_t> watched;
    bool was_crashed = false;
    while (player_step(player)) {
        const Game& shown = player.head.session.game;
        if ((shown.state & CRASHED) && !was_crashed)
            watched.push_back(shown.score);
        was_crashed = shown.state & CRASHED;
    }
    EXPECT_EQ(watched, simulated);
}

// The pace is an event: written after the seed when it is not the full one and where it
// changes, and the viewer plays each part of the session at its own.
TEST_F(RecordingTest, ThePaceIsWrittenWhereItIsSetAndTheViewerFollowsIt)
{
    const std::string recording = path("session");
    ASSERT_TRUE(start_recording(recording.c_str()));
    use_controls({.speed = 70});
    random_seed(&game.random, 7);
    record_seed(7);
    open_title_screen();
    press();
    ticks(4);
    use_controls({.speed = 100}); // the page's panel, in the middle of the run
    ticks(); // held to the crash
    finish_recording();

    const std::string text = read_file(recording).value_or("");
    EXPECT_EQ(text, HEADER + "# options: --speed 70\nseed 7\nspeed 70\npress\ntick 4\n"
                             "# options from here: none\nspeed 100\ntick 41\n");
    RecordedSession session;
    ASSERT_TRUE(load_session(recording.c_str(), &session));
    Player player;
    player_start(player, session);
    std::vector<int> paces{player.head.session.speed};
    while (player_step(player))
        if (player.head.session.speed != paces.back())
            paces.push_back(player.head.session.speed);
    EXPECT_EQ(paces, (std::vector<int>{70, 100}));
}

// The page's panel may change the options in the middle of a session: the file says so
// where they changed (once for each change), and replays as before.
TEST_F(RecordingTest, OptionsChangedMidSessionAreSaidWhereTheyChanged)
{
    const std::string recording = path("session");
    ASSERT_TRUE(start_recording(recording.c_str()));
    record_options("--speed 70");
    constexpr unsigned SEED = 7;
    random_seed(&game.random, SEED);
    record_seed(SEED);
    open_title_screen();
    on_display();
    press();
    ticks(4);
    record_options("--speed 70"); // the same again: nothing to say
    ticks(2);
    record_options("--toggle");
    ticks(3);
    record_options("");
    ticks(); // held to the crash
    finish_recording();

    const std::string text = read_file(recording).value_or("");
    EXPECT_EQ(text, HEADER + "# options: --speed 70\nseed 7\npress\ntick 6\n"
                             "# options from here: --toggle\ntick 3\n"
                             "# options from here: none\ntick 36\n");
    EXPECT_EQ(replay(recording), trace_);
}

// The player's older recording is emptied only once the game has begun to record, and a
// game that never got that far leaves no file of its own behind.
TEST_F(RecordingTest, AFileIsReplacedOnlyOnceTheGameHasSomethingToPutInIt)
{
    const std::string old = path("old");
    const std::string older = "# Skarvolt 0.9 recording\nseed 2\npress\n";
    write_file(old, older);
    ASSERT_TRUE(start_recording(old.c_str()));
    finish_recording();
    EXPECT_EQ(read_file(old), older);

    ASSERT_TRUE(start_recording(old.c_str()));
    record_seed(5);
    finish_recording();
    EXPECT_EQ(read_file(old), HEADER + "seed 5\n");

    const std::string fresh = path("new");
    ASSERT_TRUE(start_recording(fresh.c_str()));
    finish_recording();
    EXPECT_FALSE(test_support::exists(fresh));

    const std::string empty = path("empty");
    write_file(empty, "");
    ASSERT_TRUE(start_recording(empty.c_str()));
    record_seed(6);
    finish_recording();
    EXPECT_EQ(read_file(empty), HEADER + "seed 6\n");
}

// Only a recording the game wrote, or an empty file, is ever written over: never what a
// link leads to, never a file that holds anything else, never the score file under any
// of its names. Each is left as it was.
TEST_F(RecordingTest, NothingButARecordingIsWrittenOver)
{
    const std::string thesis = path("thesis.txt");
    write_file(thesis, "chapter one\n");
    const std::string link = path("session.rec");
    ASSERT_EQ(::symlink(thesis.c_str(), link.c_str()), 0);
    const std::string dangling = path("dangling");
    ASSERT_EQ(::symlink(path("nothing").c_str(), dangling.c_str()), 0);
    const std::string score = path("home/.skarvolt");
    std::filesystem::create_directory(path("home"));
    write_file(score, "1234\n");
    const std::string score_link = path("hard-link");
    ASSERT_EQ(::link(score.c_str(), score_link.c_str()), 0);

    const struct {
        std::string path;
        std::string text; // "" for a link or a name of the score file
    } cases[] = {
        {link, ""},
        {dangling, ""},
        {score, ""},
        {score_link, ""},
        {path("home/../home/.skarvolt"), ""},
        {path("notes"), "just some notes\n"},
        {path("no-line-end"), "# Skarvolt 1.1 recording"},
        {path("header-later"), "\n# Skarvolt 1.1 recording\n"},
        {path("nul"), std::string("# Skarvolt\0 1.1 recording\n", 26)},
        {path("other-game"), "# Other 1.0 recording\nseed 1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        if (!c.text.empty())
            write_file(c.path, c.text);
        EXPECT_FALSE(start_recording(c.path.c_str(), score.c_str()));
        record_seed(4);
        finish_recording();
        if (!c.text.empty()) {
            EXPECT_EQ(read_file(c.path), c.text);
        }
    }
    EXPECT_EQ(read_file(thesis), "chapter one\n");
    EXPECT_FALSE(test_support::exists(path("nothing")));
    EXPECT_EQ(read_file(score), "1234\n");

    // A score file yet to be made is not made by the recording either.
    ASSERT_EQ(::unlink(score_link.c_str()), 0);
    ASSERT_EQ(::unlink(score.c_str()), 0);
    EXPECT_FALSE(start_recording(score.c_str(), score.c_str()));
    EXPECT_FALSE(test_support::exists(score));
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
    EXPECT_EQ(read_file(session), HEADER + "seed 3\n");
}

// Two games recording to one file would interleave their lines into a session that
// neither played: the second is refused, and the first one's file is left alone.
TEST_F(RecordingTest, AFileAnotherGameRecordsToIsRefused)
{
    const std::string session = path("session");
    const std::string other_game = HEADER + "seed 9\npress\n";
    write_file(session, other_game);
    const int other = ::open(session.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(start_recording(session.c_str()));
    record_seed(4);
    finish_recording();
    EXPECT_EQ(read_file(session), other_game);

    // Once the other game is done with it, the file is free again; and a recording holds
    // it to the end.
    ::close(other);
    ASSERT_TRUE(start_recording(session.c_str()));
    const int next = ::open(session.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(next, 0);
    EXPECT_NE(::flock(next, LOCK_EX | LOCK_NB), 0);
    finish_recording();
    EXPECT_EQ(::flock(next, LOCK_EX | LOCK_NB), 0);
    ::close(next);
}

// A disk that fills up in the middle of a line: the recording stops there, and the file
// is cut back to its last whole line, never left with a line that reads as another
// ("tick 1" of "tick 10").
TEST_F(RecordingTest, AFailedWriteLeavesTheFileOnAWholeLine)
{
    // A file size limit stands in for the full disk: writes beyond it fail.
    struct sigaction ignore {}, before {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &before), 0);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);

    for (const int room : {0, 5, 6, 12, 13}) {
        SCOPED_TRACE("room after the seed: " + std::to_string(room));
        fake::reset_with_game(game);
        const std::string session = path("session-" + std::to_string(room));
        ASSERT_TRUE(start_recording(session.c_str()));
        random_seed(&game.random, 2026);
        record_seed(2026); // the header and "seed 2026\n"
        open_title_screen();
        press();
        ticks(10);
        release(); // "press\ntick 10\nrelease\n" waits in the buffer

        rlimit small = saved;
        small.rlim_cur = static_cast<rlim_t>(HEADER.size() + 10 + room);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        finish_recording();
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);

        const std::string whole = room < 6 ? "" : room < 14 ? "press\n" : "press\ntick 10\n";
        EXPECT_EQ(read_file(session), HEADER + "seed 2026\n" + whole);
    }
    ::sigaction(SIGXFSZ, &before, nullptr);
}

// Ctrl-C, kill and a closed terminal end the game by their signal, but only after the
// recording has its last lines: the ticks of the run in progress. A signal the game was
// started to ignore stays ignored.
TEST_F(RecordingTest, AQuitSignalFinishesTheRecordingFirst)
{
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
        for (const bool ignored : {false, true}) {
            SCOPED_TRACE(std::string(strsignal(signal_number)) + (ignored ? ", ignored" : ""));
            const std::string session = path("signal-" + std::to_string(signal_number));
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                if (ignored)
                    std::signal(signal_number, SIG_IGN);
                if (!start_recording(session.c_str()))
                    ::_exit(100);
                finish_recording_on_quit_signals();
                random_seed(&game.random, 7);
                record_seed(7);
                open_title_screen();
                press();
                ticks(5);
                ::raise(signal_number);
                ::_exit(101); // only when the signal is ignored
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            if (ignored) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 101) << status;
                EXPECT_EQ(read_file(session), HEADER + "seed 7\n") << "the run was never finished";
            } else {
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
                EXPECT_EQ(read_file(session), HEADER + "seed 7\npress\ntick 5\n");
            }
        }
}

} // namespace
