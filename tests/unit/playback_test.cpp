// Reading a recording to watch it, and flying it in the viewer: a file that is no
// recording is refused at its line; the viewer's session flies the simulator's ticks, a
// jump lands on exactly the game that playing on would reach, and the bursts shown are
// the ones the recording drew.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/playback.h"
#include "app/script.h"
#include "game/random.h"
#include "game/run.h"
#include "game/state.h"
#include "render/scene.h"
#include "sim/replay.h"
#include "sim/trace.h"
#include "support/files.h"
#include "support/scratch.h"

namespace {

// The first refusal of a text read as a recording: "line N: reason", or "" when every
// line is read.
std::string refusal(const std::string& text)
{
    std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    if (text.empty())
        file = std::tmpfile();
    ScriptReader reader{.file = file, .recording = true};
    ScriptEvent event;
    ScriptRead read;
    while ((read = read_event(reader, &event)) == ScriptRead::EVENT) {
    }
    std::fclose(file);
    return read == ScriptRead::BAD
        ? "line " + std::to_string(reader.line) + ": " + reader.reason
        : "";
}

TEST(RecordingReader, RefusesWhatIsNoRecordingAtItsLine)
{
    const std::string header = "# Skarvolt 1.1 recording\n";
    struct Case {
        std::string text;
        std::string refusal; // its start
    };
    const Case cases[] = {
        {header + "seed 4\npress\njump\n", "line 4: unknown event \"jump\""},
        {header + "seed 4\npress\ntick 3 4\n", "line 4: too many words after \"tick\""},
        {header + "press\nseed 4\n", "line 2: a recording begins with its \"seed\""},
        {header + "seed 4\npress\nspeed 120\n", "line 4: speed \"120\" is not a whole number from 50 to 100"},
        {header + "# options: --keys\n\npress\n", "line 4: a recording begins with its \"seed\""},
        {header, "line 2: a recording begins with its \"seed\", and this one has none"},
        {"", "line 1: a recording begins with its \"seed\", and this one has none"},
        {header + "seed 4\npress\ntick 12", "line 4: the last line has no line feed"},
        {header + "seed 4\npress # pressed", "line 3: the last line has no line feed"},
        {"seed 4\r\npress\rtick 1\n", "line 2: carriage return without a line feed"},
        {std::string("seed 4\npr\0ss\n", 13), "line 2: holds a NUL character"},
        {"GIF89a\x01\x02\n", "line 1: unknown event \"GIF89a\\x01\\x02\""},
        // A comment is a line like any other.
        {header + "seed 4\n# " + std::string(254, 'x') + "\n", "line 3: longer than 255 characters"},
        {header + std::string("seed 4\n# a\0b\n", 13), "line 3: holds a NUL character"},
        {header + "seed 4\nbest 4294967296\n", "line 3: best score is more than 4294967295"},
        {header + "seed 4\nbest 18446744073709551615\n", "line 3: best score is more than"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(refusal(c.text).rfind(c.refusal, 0), 0u)
            << "[" << c.text << "] gave: " << refusal(c.text);

    // Recordings made before the header, comments and blank lines around the events, and
    // the options above the seed.
    for (const std::string good : {"press\ntick 3\n", "", "\n# made by hand\n"})
        EXPECT_EQ(refusal(header + "# options: --speed 70\nseed 4\n" + good), "") << good;
    EXPECT_EQ(refusal("# Skarvolt 0.9 recording\nseed 4\npress\n"), "");
    EXPECT_EQ(refusal("seed 4\npress\n\ntick 3 # on\n"), "");
    EXPECT_EQ(refusal(header + "seed 4\n# " + std::string(253, 'x') + "\r\nbest 4294967295\n"), "");
}

// Three held runs, a run released at once, frames over every crash (two over one), and
// ticks after a crash that pass with nothing to do.
const char SESSION[] =
    "seed 17\n"
    "press\ntick 300\nframe\n"
    "press\nrelease\ntick 20\npress\ntick 300\nframe\nframe\n"
    "press\ntick 40\nrelease\ntick 300\nframe\n"
    "press\ntick 1000\nframe\n";

TEST(RecordingReader, LoadsTheEventsAndTheRecordedPace)
{
    test_support::ScratchDir dir{"playback"};
    const std::string path = dir / "session";
    test_support::write_file(path,
                             "# Skarvolt 1.1 recording\n# options: --toggle --speed 70\n"
                             "seed 9\npress\ntick 5\nframe\n");
    RecordedSession session;
    ASSERT_TRUE(load_session(path.c_str(), &session));
    // The pace that the options name comes as the "speed" of the recordings made since.
    ASSERT_EQ(session.events.size(), 5u);
    EXPECT_EQ(session.events[0].event, Event::SEED);
    EXPECT_EQ(session.events[0].number, 9u);
    EXPECT_EQ(session.events[1].event, Event::SPEED);
    EXPECT_EQ(session.events[1].number, 70u);
    EXPECT_EQ(session.events[3].number, 5u);
    EXPECT_EQ(session.runs, 1);

    test_support::write_file(path, SESSION);
    ASSERT_TRUE(load_session(path.c_str(), &session));
    EXPECT_EQ(session.runs, 4);

    // Only a regular file is read, and a FIFO with no writer is never waited on.
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(load_session(fifo.c_str(), &session));
    EXPECT_FALSE(load_session((dir / "missing").c_str(), &session));
    test_support::write_file(path, "seed 9\nfly\n");
    EXPECT_FALSE(load_session(path.c_str(), &session));
}

// What the viewer (and the page) takes is bounded: a file larger than any recording, or
// one that asks for more work than any, is refused in one line before anything is flown,
// and one too large for the memory there is says so rather than ending the game.
TEST(RecordingReader, TakesNoMoreThanAnyRecordingHolds)
{
    test_support::ScratchDir dir{"playback"};
    const std::string header = "# Skarvolt 1.1 recording\nseed 1\n";
    const std::string path = dir / "session";
    const auto refusal_of = [&](const std::string& text, std::uint64_t size = 0) {
        test_support::write_file(path, text);
        if (size != 0) {
            EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
        }
        RecordedSession session;
        testing::internal::CaptureStderr();
        const bool loaded = load_session(path.c_str(), &session);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(loaded, said.empty()) << said;
        return said;
    };
    // A run of 45 ticks, then frames over its crash: the work is what the file asks.
    const std::string run = header + "press\ntick 45\n";
    const std::string frames = run + "frame\n" + "tick 19999235\n";
    EXPECT_EQ(refusal_of(frames), "");
    EXPECT_EQ(refusal_of(frames + "tick\n"),
              "skarvolt: " + path + ": line 7: asks for more than 20000000 ticks of play by here "
                                    "(a frame counts 720)\n");
    EXPECT_EQ(refusal_of(run + "tick 18446744073709551615\n"),
              "skarvolt: " + path + ": line 5: asks for more than 20000000 ticks of play by here "
                                    "(a frame counts 720)\n");
    // A sparse file reads as fast as any: its size says it all.
    EXPECT_EQ(refusal_of(header, MAX_RECORDING_BYTES + 1),
              "skarvolt: cannot play " + path + ": larger than 64 MiB, more than any recording "
                                                "holds\n");
    EXPECT_EQ(refusal_of(header, MAX_RECORDING_BYTES),
              "skarvolt: " + path + ": line 3: holds a NUL character\n");

#if !defined(__SANITIZE_ADDRESS__)
    // Under a memory limit, a long recording is one line, not an abort.
    std::string many = header;
    for (int i = 0; i < 1 << 22; ++i)
        many += "release\n";
    test_support::write_file(path, many);
    const std::string said = dir / "said";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Room for 48 MiB more than the process holds: not for the events' 64 MiB.
        std::FILE* status = std::fopen("/proc/self/status", "r");
        char line[256];
        unsigned long size_kib = 0;
        while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr)
            std::sscanf(line, "VmSize: %lu kB", &size_kib);
        rlimit room{};
        ::getrlimit(RLIMIT_AS, &room);
        room.rlim_cur = (size_kib << 10) + (48ul << 20);
        if (size_kib == 0 || ::setrlimit(RLIMIT_AS, &room) != 0
            || std::freopen(said.c_str(), "w", stderr) == nullptr)
            ::_exit(3);
        RecordedSession session;
        const bool loaded = load_session(path.c_str(), &session);
        std::fflush(stderr);
        ::_exit(loaded ? 0 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << status;
    EXPECT_EQ(test_support::read_file(said),
              "skarvolt: cannot play " + path + ": not enough memory to hold it\n");
#endif
}

// A seed stands at a run's start only: the viewer flies the recording as it reads it, and
// refuses one in the middle of a run by its line.
TEST(RecordingReader, TakesASeedAtTheStartOfARunOnly)
{
    test_support::ScratchDir dir{"playback"};
    const std::string path = dir / "runs";
    const std::string header = "# Skarvolt 1.2 recording\n";
    test_support::write_file(path, header + "seed 4\npress\ntick 100\nframe\nseed 4\npress\n");
    RecordedSession session;
    EXPECT_TRUE(load_session(path.c_str(), &session));
    for (const std::string& text : {header + "seed 4\npress\ntick 3\nseed 5\n",
                                    header + "seed 4\npress\ntick 100\nseed 5\n"}) {
        test_support::write_file(path, text);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(load_session(path.c_str(), &session)) << text;
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(": line 5: \"seed\" "), std::string::npos) << said;
    }
}


RecordedSession session_of(const std::string& text)
{
    RecordedSession session;
    std::FILE* file = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    ScriptReader reader{.file = file, .recording = true};
    ScriptEvent event;
    while (read_event(reader, &event) == ScriptRead::EVENT)
        session.events.push_back(event);
    std::fclose(file);
    return session;
}

// The simulator's trace of a script.
std::string simulated(const std::string& text)
{
    static Session sim;
    start_replay(sim, 1);
    std::FILE* script = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    char* trace = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&trace, &size);
    EXPECT_EQ(replay(sim, script, "session", out), 0);
    std::fclose(script);
    std::fclose(out);
    std::string result(trace, size);
    std::free(trace);
    return result;
}

// Long enough to pass kept copies: more held runs after SESSION's.
std::string long_session()
{
    std::string text = SESSION;
    for (int run = 0; run < 16; ++run)
        text += "press\ntick 300\nframe\n";
    return text;
}

bool same(const Playhead& a, const Playhead& b)
{
    return a.step == b.step && a.next == b.next && a.left == b.left && a.run == b.run
        && std::memcmp(static_cast<const GameState*>(&a.session.game),
                       static_cast<const GameState*>(&b.session.game), sizeof(GameState)) == 0
        && a.session.game.random == b.session.game.random && session_burst(a.session) == session_burst(b.session);
}

TEST(Playback, FliesTheSimulatorsTicksAndPausesBeforeEachRun)
{
    const RecordedSession session = session_of(SESSION);
    Player player;
    player_start(player, session);
    std::string trace;
    std::vector<std::int64_t> starts;
    int run = 0;
    do {
        if (player.head.run != run) {
            run = player.head.run;
            starts.push_back(player.head.step);
            // A run starts after the pause, at its first tick still to come.
            EXPECT_EQ(player.head.session.game.score, 0u);
        }
        char text[TICK_TEXT_MAX];
        const std::uint32_t before = player.head.session.game.score;
        const bool was_running = player.head.session.game.state & RUNNING;
        if (!player_step(player))
            break;
        if (was_running && player.head.session.game.score == before + 1)
            trace.append(text, static_cast<std::size_t>(format_tick(player.head.session.game, text)));
    } while (true);
    EXPECT_EQ(trace, simulated(SESSION));
    ASSERT_EQ(starts.size(), 4u);
    EXPECT_EQ(starts[0], HOLD_STEPS);
    EXPECT_EQ(player.run_starts, starts);
    EXPECT_EQ(player.last_step, player.head.step);
    EXPECT_FALSE(player_step(player)) << "the last frame stays";
}

TEST(Playback, AJumpLandsWhereFlyingOnWould)
{
    const RecordedSession session = session_of(long_session());
    Player reference;
    player_start(reference, session);
    std::vector<Playhead> at_step{reference.head};
    while (player_step(reference))
        at_step.push_back(reference.head);
    const std::int64_t last = reference.head.step;
    ASSERT_GT(reference.snapshots.size(), 3u) << "the session should reach past kept copies";
    const std::int64_t kept = reference.snapshots[2].step;

    Player player;
    player_start(player, session);
    // Forward from the start, back over kept copies, forward again, to the edges.
    for (const std::int64_t step :
         {std::int64_t{5}, last - 3, kept, kept - 1, std::int64_t{0}, HOLD_STEPS, last,
          kept + 1, std::int64_t{-40}, last + 500}) {
        player_seek(player, step);
        const std::int64_t want = std::clamp<std::int64_t>(step, 0, last);
        EXPECT_TRUE(same(player.head, at_step[static_cast<std::size_t>(want)])) << step;
    }
}

// Copies are kept by the work flown, not by steps: a crash shown by a great many frames
// takes one step, yet a jump into the frames after it re-flies no more than a copy's
// worth, and lands where flying on would.
TEST(Playback, CopiesAreKeptByTheWorkDone)
{
    std::string text = "seed 5\npress\ntick 100\n";
    for (int i = 0; i < 200; ++i)
        text += "frame\n";
    text += "press\ntick 100\nframe\n";
    const RecordedSession session = session_of(text);
    Player reference;
    player_start(reference, session);
    std::vector<Playhead> at_step{reference.head};
    while (player_step(reference))
        at_step.push_back(reference.head);
    ASSERT_LT(reference.head.step, 1000) << "few steps, much work";
    const std::vector<Playhead>& copies = reference.snapshots;
    ASSERT_GT(copies.size(), 30u);
    for (std::size_t i = 1; i < copies.size(); ++i)
        EXPECT_LE(copies[i].work - copies[i - 1].work, SNAPSHOT_WORK + FRAME_WORK + 1) << i;

    Player player;
    player_start(player, session);
    for (const std::int64_t step : {reference.head.step, std::int64_t{50}, std::int64_t{46},
                                    reference.head.step - 2, std::int64_t{0}}) {
        player_seek(player, step);
        EXPECT_TRUE(same(player.head, at_step[static_cast<std::size_t>(step)])) << step;
    }
}

TEST(Playback, NextAndPreviousRunGoToRunStarts)
{
    const RecordedSession session = session_of(SESSION);
    Player player;
    player_start(player, session);
    std::vector<std::int64_t> seen;
    for (int run = 1; run <= 4; ++run) {
        player_next_run(player);
        EXPECT_EQ(player.head.run, run);
        EXPECT_TRUE(player.head.session.game.state & RUNNING);
        EXPECT_EQ(player.head.session.game.score, 0u);
        seen.push_back(player.head.step);
    }
    player_next_run(player);
    EXPECT_EQ(player.head.step, player.last_step) << "past the last run: the end";

    // Page Up: the start of the run shown; the run before within the run's first second
    // of play, or when pressed again within a second of real time.
    constexpr Micros LATER = 10 * AGAIN_US;
    const struct {
        std::int64_t from;
        Micros after; // since the last Page Up
        std::int64_t to;
    } cases[] = {
        {seen[2] - 1, LATER, seen[1]},             // over run 2's crash: its start
        {seen[2] - 1, AGAIN_US - 1, seen[0]},       // pressed again: the run before
        {seen[2] - 1, AGAIN_US, seen[1]},
        {seen[2], LATER, seen[1]},                  // at a run's start
        {seen[2] + SECOND_STEPS - 1, LATER, seen[1]}, // within its first second
        {seen[1] + 5, LATER, seen[0]},
        {seen[0] + 5, LATER, 0},                    // the first run: the title screen
        {seen[0] - 1, LATER, 0},
        {seen[0] - 1, 1, 0},
    };
    Micros now = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE("from " + std::to_string(c.from) + ", " + std::to_string(c.after) + " us on");
        player_seek(player, c.from);
        now += c.after;
        player_previous_run(player, now);
        EXPECT_EQ(player.head.step, c.to);
    }
    EXPECT_EQ(player.head.session.game.state, ARMED) << "the title screen";
    // Far into a run, its own start.
    Player long_runs;
    std::string hovering = "seed 3\n";
    for (int i = 0; i < 15; ++i)
        hovering += "press\ntick 4\nrelease\ntick 4\n";
    const RecordedSession hover = session_of(hovering);
    player_start(long_runs, hover);
    player_next_run(long_runs);
    const std::int64_t start = long_runs.head.step;
    player_seek(long_runs, start + SECOND_STEPS);
    ASSERT_TRUE(long_runs.head.session.game.state & RUNNING) << "the run should last over a second";
    player_previous_run(long_runs, LATER);
    EXPECT_EQ(long_runs.head.step, start);
}

// Each recorded frame over a crash takes a burst's draws; the picture shows the burst of
// the last one, drawn from a copy of the sequence as that frame found it.
TEST(Playback, TheBestShownIsTheOneTheGameShowed)
{
    // Held from the start, a run crashes at 45. A best that the store gave the game
    // (start-up's, or another game's saved meanwhile) shows as it showed; a run that
    // beats it shows its own.
    const struct {
        const char* text;
        std::uint32_t title; // the best on the title screen
        std::uint32_t crash; // and over the crash
    } cases[] = {
        {"seed 3\npress\ntick 100\n", 0, 45},
        {"seed 3\nbest 300\npress\ntick 100\n", 300, 300},
        {"seed 3\nbest 30\npress\ntick 100\n", 30, 45},
        {"seed 3\npress\ntick 100\nbest 500\nframe\n", 0, 500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const RecordedSession session = session_of(c.text);
        Player player;
        player_start(player, session);
        EXPECT_EQ(player.head.session.game.high_score, c.title);
        while (player_step(player)) {
        }
        ASSERT_TRUE(player.head.session.game.state & CRASHED);
        EXPECT_EQ(player.head.session.game.high_score, c.crash);
    }
}

TEST(Playback, TheBurstShownIsTheLastRecordedFramesOwn)
{
    // The sequence at the crash, as a session without frames leaves it.
    const auto at_crash = [](const RecordedSession& session) {
        Player player;
        player_start(player, session);
        while (!(player.head.session.game.state & CRASHED) && player_step(player)) {
        }
        return player.head;
    };
    const Playhead bare = at_crash(session_of("seed 3\npress\ntick 300\n"));
    const Playhead framed = at_crash(session_of("seed 3\npress\ntick 300\nframe\nframe\n"));
    ASSERT_TRUE(bare.session.game.state & CRASHED);
    EXPECT_EQ(session_burst(bare.session), bare.session.game.random) << "no frame has taken draws";

    // Where a frame's burst leaves the sequence.
    const auto taken = [](const RandomState& from) {
        Game game;
        game.state = CRASHED;
        game.random = from;
        take_burst(game);
        return game.random;
    };
    const RandomState after_first = taken(bare.session.game.random);
    const RandomState after_both = taken(after_first);
    EXPECT_EQ(framed.session.game.random, after_both);
    EXPECT_EQ(session_burst(framed.session), after_first);
    EXPECT_EQ(framed.session.game.state, CRASHED | ARMED);
}

TEST(Playback, TheTitleSaysTheFileTheRunAndThePace)
{
    Playhead head;
    char text[96];
    struct Case {
        int run;
        bool paused, ended;
        int rate;
        const char* title;
    };
    const Case cases[] = {
        {0, false, false, NORMAL_RATE, "a.rec: before the first run, 1x"},
        {2, true, false, NORMAL_RATE, "a.rec: run 2 of 9, paused"},
        {3, false, false, SLOWEST_RATE, "a.rec: run 3 of 9, 1/4x"},
        {3, false, false, FASTEST_RATE, "a.rec: run 3 of 9, 16x"},
        {9, false, true, 8, "a.rec: run 9 of 9, ended"},
        {9, true, true, 8, "a.rec: run 9 of 9, paused"},
    };
    for (const Case& c : cases) {
        head.run = c.run;
        viewer_title("a.rec", head, 9, c.paused, c.ended, c.rate, text, sizeof text);
        EXPECT_STREQ(text, c.title);
    }
}

} // namespace
