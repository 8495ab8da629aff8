// A session recorded with --record: the file that the game writes while it is played,
// replayed by skarvolt-sim, gives the scores that the game showed and saved, however the
// game ends; and what cannot be recorded to stops the game before any window opens.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"
#include "picture.h"
#include "quit.h"
#include "support/files.h"
#include "support/mounts.h"

namespace {

using e2e::Game;
using e2e::quit;
using e2e::Image;
using e2e::Sandbox;
using e2e::XServer;

bool shows_crash(const Image& image)
{
    return e2e::shows_burst(image, 0, image.height);
}

// The digits of the score box, as this game draws them.
e2e::ScoreReader learn_digits(XServer& x)
{
    Sandbox box;
    test_support::write_file(box.score_file(), std::string(e2e::ScoreReader::LEARNING_SCORE) + "\n");
    Game game(box, {}, &x);
    const Window w = game.window();
    const Image title = x.settled_image(w, e2e::shows_text);
    x.press(200, 150);
    const Image crash = x.settled_image(w, e2e::shows_burst_above);
    x.release();
    e2e::ScoreReader reader(title, crash);
    quit(x, game);
    return reader;
}

// The "crash N" lines of skarvolt-sim's replay of a recording, and how many tick lines
// follow the last of them.
struct Replay {
    std::vector<std::uint32_t> crashes;
    int ticks_after_last_crash = 0;
};

Replay replay(const Sandbox& box, const std::string& recording)
{
    const std::string trace = box.path("trace");
    const std::string command = std::string(SKARVOLT_SIM_BINARY) + " " + recording + " > " +
                                trace + " 2> " + box.path("sim-errors");
    const int status = std::system(command.c_str());
    EXPECT_EQ(status, 0) << test_support::read_file(box.path("sim-errors")).value_or("");
    Replay result;
    std::istringstream lines(test_support::read_file(trace).value_or(""));
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("crash ")) {
            result.crashes.push_back(static_cast<std::uint32_t>(std::stoul(line.substr(6))));
            result.ticks_after_last_crash = 0;
        } else {
            ++result.ticks_after_last_crash;
        }
    }
    return result;
}

TEST(Recording, PlayedRunsReplayToTheScoresTheGameShowedAndSaved)
{
    XServer x;
    const e2e::ScoreReader reader = learn_digits(x);

    Sandbox box;
    const std::string recording = box.path("session.txt");
    e2e::GameOptions options{.args = {"--record", recording}};
    // Where the game can be given a random device of the test's own, the seed that the
    // recording names is checked too: 2^32 + 7 reaches the generator as 7.
    const bool seeded = test_support::private_mounts_available();
    if (seeded) {
        options.random = e2e::RandomDevice::File;
        options.random_file = box.path("seed");
        e2e::write_seed(options.random_file, (std::uint64_t{1} << 32) + 7);
    }
    Game game(box, options, &x);
    const Window w = game.window();
    x.settled_image(w, e2e::shows_text);
    const auto middle = [&] {
        const e2e::Geometry g = x.geometry(w);
        x.pointer(g.width / 2, g.height / 2);
    };

    // A run held from the start, out of the top of the window.
    std::vector<std::uint32_t> shown{reader.read(e2e::held_run_crash(x, game, box))};
    x.release();
    ASSERT_EQ(shown[0], static_cast<std::uint32_t>(e2e::HELD_RUN_SCORE));

    // Strokes, then the fall out of the bottom of the window; the ticks between the
    // strokes are what the recording must count right. They are timed from the press, so
    // a run slow to show shortens the strokes rather than putting them off: they end 300 ms
    // (25 ticks) after the press, or at once if the run shows later than that. The crash
    // comes 76 ticks after the press, and no way of holding brings it before 45 (straight
    // up or straight down out of the window); a press after it would start another run.
    middle();
    const auto strokes = std::chrono::steady_clock::now();
    x.button(1, true);
    x.wait_for_image(w, [](const Image& i) { return !shows_crash(i); });
    for (int i = 1; i <= 5; ++i) {
        std::this_thread::sleep_until(strokes + i * std::chrono::milliseconds(60));
        x.button(1, i % 2 == 0);
    }
    shown.push_back(reader.read(x.settled_image(w, shows_crash)));

    // A climb of about 25 ticks: the fall that follows passes the run's first block (in
    // the middle, at ticks 97 and 98) already below it and lasts past tick 96, from when
    // on the floor under the ship is the tunnel's, made from the random sequence. So the
    // crash comes on the tick that the replay gives only when the seed and every burst
    // drawn before are right.
    const auto climb = std::chrono::steady_clock::now();
    x.button(1, true);
    x.wait_for_image(w, [](const Image& i) { return !shows_crash(i); });
    std::this_thread::sleep_until(climb + std::chrono::milliseconds(300));
    x.release();
    shown.push_back(reader.read(x.settled_image(w, shows_crash)));

    // A last run, which q cuts short.
    x.button(1, true);
    x.wait_for_image(w, [](const Image& i) { return !shows_crash(i); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    quit(x, game);

    const std::string saved = test_support::read_file(box.score_file()).value_or("(none)");
    const auto kept = test_support::read_file(recording);
    ASSERT_TRUE(kept) << "no recording";
    EXPECT_TRUE(kept->starts_with(e2e::RECORDING_HEADER + (seeded ? "seed 7\n" : "seed ")))
        << *kept;

    const Replay played = replay(box, recording);
    EXPECT_EQ(played.crashes, shown) << "the recording:\n" << *kept;
    EXPECT_EQ(std::to_string(*std::max_element(shown.begin(), shown.end())) + "\n", saved);
    EXPECT_GT(played.ticks_after_last_crash, 0) << "the run that q ended is in the recording";
}

// skarvolt --seed N: every run flies the tunnel of seed N (2^32 + 7 reaches the generator
// as 7), the recording says "seed 7" before each run, and the simulator flies it to the
// game's scores.
TEST(Recording, EveryRunOfASeededSessionStartsFromItsSeed)
{
    XServer x;
    Sandbox box;
    const std::string recording = box.path("session.txt");
    Game game(box, {.args = {"--seed", "4294967303", "--record", recording}}, &x);
    const Window w = game.window();
    e2e::held_run_crash(x, game, box);
    x.release();
    x.button(1, true);
    x.wait_for_image(w, [](const Image& i) { return !shows_crash(i); });
    x.settled_image(w, shows_crash);
    x.release();
    quit(x, game);

    const std::string kept = test_support::read_file(recording).value_or("(none)");
    EXPECT_TRUE(kept.starts_with(e2e::RECORDING_HEADER + "seed 7\npress\n")) << kept;
    // The second run's seed comes after the first crash's frame, before its press.
    const std::size_t frame = kept.find("\nframe\n");
    ASSERT_NE(frame, std::string::npos) << kept;
    EXPECT_NE(kept.find("\nseed 7\npress\n", frame), std::string::npos) << kept;
    const Replay played = replay(box, recording);
    EXPECT_EQ(played.crashes, (std::vector<std::uint32_t>{45, 45})) << kept;
}

// Starts a run and lets go at once: the ship falls for more than half a second before it
// leaves the window, and the game is still flying that run when the test goes on.
void start_falling_run(XServer& x, Window w)
{
    x.press(200, 150);
    x.wait_for_image(w, e2e::shows_run);
    x.release();
}

// The recording of a game that ended during a run: it keeps that run, which no event had
// written out yet (the press that started it and the ticks it flew), and replays it
// without a crash.
void expect_run_in_progress_kept(const Sandbox& box, const std::string& recording)
{
    const std::string kept = test_support::read_file(recording).value_or("(none)");
    EXPECT_TRUE(kept.starts_with(e2e::RECORDING_HEADER + "seed ")) << kept;
    EXPECT_NE(kept.find("\npress\ntick "), std::string::npos) << kept;
    EXPECT_TRUE(kept.ends_with("\n")) << kept;
    const Replay played = replay(box, recording);
    EXPECT_TRUE(played.crashes.empty()) << kept;
    EXPECT_GT(played.ticks_after_last_crash, 0) << kept;
}

// Ctrl-C, kill and a closed terminal end the game by their signal, as for any program,
// but the recording is finished first. While a game records to a file, a second game
// asking for it is refused before any window opens, and the first one's recording goes on
// untouched.
TEST(Recording, AQuitSignalFinishesTheRecordingAndASecondGameIsRefused)
{
    XServer x;
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal_number));
        Sandbox box;
        const std::string recording = box.path("session.txt");
        Game game(box, {.args = {"--record", recording}}, &x);
        const Window w = game.window();
        if (signal_number == SIGINT) {
            Game second(box, {.args = {"--record", recording}}); // no DISPLAY
            const auto status = second.wait_exit();
            ASSERT_TRUE(status) << "the second game waits";
            EXPECT_TRUE(status->exited && status->code == 2) << *status;
            EXPECT_EQ(second.err(), "skarvolt: cannot record to " + recording +
                                        ": another game is recording to it\n");
        }
        start_falling_run(x, w);
        ASSERT_EQ(::kill(game.pid(), signal_number), 0);
        const auto status = game.wait_exit();
        ASSERT_TRUE(status) << "still running after the signal";
        EXPECT_TRUE(!status->exited && status->code == signal_number) << *status;
        expect_run_in_progress_kept(box, recording);
    }
}

// A window that another program destroys (xdotool windowclose) ends the game as a
// closed window does, with status 0 and the recording finished, on the title screen and
// during a run; it does not leave the game asleep without a window. One that is only
// hidden for a while does not end it.
TEST(Recording, AWindowDestroyedByAnotherProgramEndsTheGameAsClosingIt)
{
    XServer x;
    for (const bool during_run : {false, true}) {
        SCOPED_TRACE(during_run ? "during a run" : "on the title screen");
        Sandbox box;
        const std::string recording = box.path("session.txt");
        Game game(box, {.args = {"--record", recording}}, &x);
        const Window w = game.window();
        if (during_run) {
            start_falling_run(x, w);
        } else {
            // A window that is only hidden, which GLUT reports alike, keeps the game: it
            // draws the window again once it is back.
            x.set_mapped(w, false);
            x.set_mapped(w, true);
            x.redraw(w);
            x.wait_for_image(w, e2e::shows_text);
            ASSERT_TRUE(game.running());
        }
        x.destroy(w);
        const auto status = game.wait_exit();
        ASSERT_TRUE(status) << "still running without its window";
        EXPECT_TRUE(status->ok()) << *status;
        EXPECT_EQ(game.err().find("X Error"), std::string::npos) << game.err();
        if (during_run)
            expect_run_in_progress_kept(box, recording);
        else
            EXPECT_TRUE(test_support::read_file(recording).value_or("").starts_with(
                e2e::RECORDING_HEADER + "seed "));
    }
}

// What the game cannot record to is said in one line, and the game ends with status 2
// before it looks for a display: without one it would have said so instead. Nothing that
// is not a recording the game wrote is written over: not through a link, not a file with
// something else in it, not the score file by any of its names.
TEST(RecordOption, WhatCannotBeRecordedToEndsTheGameBeforeAnyWindow)
{
    Sandbox box;
    const std::string fifo = box.path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = box.path("to-null");
    ASSERT_EQ(::symlink("/dev/null", link.c_str()), 0);
    const std::string thesis = box.path("thesis.txt");
    test_support::write_file(thesis, "chapter one\n");
    const std::string shared = box.path("session.rec");
    ASSERT_EQ(::symlink(thesis.c_str(), shared.c_str()), 0);
    const std::string taken = box.path("taken");
    test_support::write_file(taken, "an older recording\n");
    test_support::write_file(box.score_file(), "1234\n");
    const std::string score_link = box.path("score");
    ASSERT_EQ(::link(box.score_file().c_str(), score_link.c_str()), 0);
    const std::string score_by_dots = box.home() + "/../home/.skarvolt";

    const std::string link_refused = ": it is a symbolic link, which the game never writes through\n";
    const std::string score_refused = ": it is the high-score file\n";
    struct Case {
        std::vector<std::string> args;
        std::string error;
    };
    const Case cases[] = {
        {{"--record"}, "skarvolt: --record needs a file name\n"},
        {{"-geometry", "640x480", "--record="}, "skarvolt: --record needs a file name\n"},
        {{"--record", taken, "--record=" + box.path("b")}, "skarvolt: --record given twice\n"},
        {{"--record", box.path("no/such/dir")},
         "skarvolt: cannot record to " + box.path("no/such/dir") +
             ": No such file or directory\n"},
        {{"--record", box.dir()}, "skarvolt: cannot record to " + box.dir() + ": not a regular file\n"},
        {{"--record", fifo}, "skarvolt: cannot record to " + fifo + ": not a regular file\n"},
        {{"--record", link}, "skarvolt: cannot record to " + link + link_refused},
        {{"--record", shared}, "skarvolt: cannot record to " + shared + link_refused},
        {{"--record", taken},
         "skarvolt: cannot record to " + taken +
             ": it holds something else than a recording, which the game never writes over\n"},
        {{"--record", box.score_file()}, "skarvolt: cannot record to " + box.score_file() + score_refused},
        {{"--record", score_link}, "skarvolt: cannot record to " + score_link + score_refused},
        {{"--record", score_by_dots}, "skarvolt: cannot record to " + score_by_dots + score_refused},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Game game(box, {.args = c.args}); // no DISPLAY
        const auto status = game.wait_exit();
        ASSERT_TRUE(status) << "the game waits";
        EXPECT_TRUE(status->exited && status->code == 2) << *status;
        EXPECT_EQ(game.err(), c.error);
        EXPECT_EQ(game.out(), "");
    }
    EXPECT_EQ(test_support::read_file(taken), "an older recording\n");
    EXPECT_EQ(test_support::read_file(thesis), "chapter one\n");
    EXPECT_EQ(test_support::read_file(box.score_file()), "1234\n");
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_FALSE(test_support::read_file(box.path("b")));
}

// A game that cannot open its window has recorded nothing: a file it made goes again,
// and one that was there keeps what it held.
TEST(RecordOption, AGameWithoutAWindowLeavesNoFileAndKeepsAnOldOne)
{
    Sandbox box;
    const std::string fresh = box.path("fresh");
    const std::string taken = box.path("taken");
    const std::string older = e2e::RECORDING_HEADER + "seed 4\npress\n";
    test_support::write_file(taken, older);
    for (const std::string& path : {fresh, taken}) {
        SCOPED_TRACE(path);
        Game game(box, {.args = {"--record", path}}); // no DISPLAY
        const auto status = game.wait_exit();
        ASSERT_TRUE(status);
        EXPECT_FALSE(status->ok()) << "GLUT ends a game without a display";
    }
    EXPECT_FALSE(test_support::read_file(fresh));
    EXPECT_EQ(test_support::read_file(taken), older);
}

} // namespace
