// The server's judge: what it flies, what it files each run under, and where it stops.
#include <gtest/gtest.h>

#include <string>

#include "app/script.h"
#include "server/verify.h"
#include "version.h"

namespace {

constexpr std::uint64_t NO_LIMIT = 10'000'000;

std::string recording(const std::string& body)
{
    return std::string("# Skarvolt ") + VERSION + " recording\n" + body;
}

// Held from the press, the ship leaves the top of the window on tick 45.
const std::string HELD = "seed 1\npress\ntick 100\nframe\n";

TEST(Verify, FliesTheRunAndWritesItAlone)
{
    const Flight flight = fly_recording(recording(HELD), NO_LIMIT);
    ASSERT_EQ(flight.verdict, Verdict::FLOWN) << flight.reason;
    ASSERT_EQ(flight.runs.size(), 1u);
    const FlownRun& run = flight.runs[0];
    EXPECT_EQ(run.seed, 1u);
    EXPECT_EQ(run.score, 45u);
    EXPECT_DOUBLE_EQ(run.flight_us, 45 * 12000.0);
    EXPECT_STREQ(run_category(run), "standard");
    EXPECT_TRUE(flight.last_run_entered);
    // Only the ticks that flew, and the frame that shows the crash.
    EXPECT_EQ(run.recording, recording("seed 1\npress\ntick 45\nframe\n"));
    // The run's own recording is judged the same, and written the same.
    const Flight again = fly_recording(run.recording, NO_LIMIT);
    ASSERT_EQ(again.runs.size(), 1u);
    EXPECT_EQ(again.runs[0].score, 45u);
    EXPECT_EQ(again.runs[0].recording, run.recording);
}

TEST(Verify, WhatTheCommentsSayCanOnlyLowerTheCategory)
{
    struct Case {
        const char* header;
        const char* category;
        int speed;
    };
    const Case cases[] = {
        {"", "standard", 100},
        {"# options: --keys\n", "standard", 100},
        {"# options: --toggle\n", "assisted", 100},
        {"# options: --speed 70\n", "assisted", 70},
        {"# options: --toggle --speed 50 --keys\n", "assisted", 50},
        {"# agent: skarvolt python\n", "agent", 100},
        {"# agent: skarvolt python\n# options: --speed 60\n", "agent", 60},
        // A score or a category written into the file is a comment like any other.
        {"# score: 99999\n# category: standard\n# options: --toggle\n", "assisted", 100},
    };
    for (const Case& c : cases) {
        const Flight flight = fly_recording(recording(std::string(c.header) + HELD), NO_LIMIT);
        ASSERT_EQ(flight.runs.size(), 1u) << c.header;
        EXPECT_STREQ(run_category(flight.runs[0]), c.category) << c.header;
        EXPECT_EQ(flight.runs[0].score, 45u) << c.header;
        EXPECT_DOUBLE_EQ(flight.runs[0].flight_us, 45 * 12000.0 * 100 / c.speed) << c.header;
        // The run's own recording says the same of it.
        const Flight alone = fly_recording(flight.runs[0].recording, NO_LIMIT);
        ASSERT_EQ(alone.runs.size(), 1u) << c.header;
        EXPECT_STREQ(run_category(alone.runs[0]), c.category) << c.header;
    }
}

TEST(Verify, APaceChangedInTheSessionCountsFromItsLine)
{
    // The page's panel slows the game down from the tenth tick on.
    const Flight flight = fly_recording(
        recording("seed 1\npress\ntick 10\n# options from here: --speed 50\ntick 100\nframe\n"),
        NO_LIMIT);
    ASSERT_EQ(flight.runs.size(), 1u);
    EXPECT_DOUBLE_EQ(flight.runs[0].flight_us, 10 * 12000.0 + 35 * 24000.0);
    EXPECT_STREQ(run_category(flight.runs[0]), "assisted");
}

TEST(Verify, RefusesWhatIsNoRecordingByItsLine)
{
    const Flight flight = fly_recording(recording("seed 1\npress\ntick 10\nfly 3\n"), NO_LIMIT);
    EXPECT_EQ(flight.verdict, Verdict::NOT_A_RECORDING);
    EXPECT_EQ(flight.reason, "line 5: unknown event \"fly\"");
    EXPECT_TRUE(flight.runs.empty());
    EXPECT_EQ(fly_recording("", NO_LIMIT).verdict, Verdict::NOT_A_RECORDING);
    // Cut short in the middle of a line.
    EXPECT_EQ(fly_recording(recording("seed 1\npress\ntick 4"), NO_LIMIT).verdict,
              Verdict::NOT_A_RECORDING);
}

TEST(Verify, EntersOnlyRunsThatCrashed)
{
    // Cut short before the crash, the run is not entered.
    const Flight flight = fly_recording(recording("seed 1\npress\ntick 20\n"), NO_LIMIT);
    EXPECT_EQ(flight.verdict, Verdict::FLOWN);
    EXPECT_TRUE(flight.runs.empty());
}

TEST(Verify, StopsAtTheTickLimit)
{
    EXPECT_EQ(fly_recording(recording(HELD), 44).verdict, Verdict::TOO_LONG);
    EXPECT_EQ(fly_recording(recording(HELD), 45 + 360).verdict, Verdict::FLOWN);
    // A frame over a crash draws as much as 360 ticks: a file of them is no cheap flight.
    EXPECT_EQ(fly_recording(recording(HELD), 45 + 359).verdict, Verdict::TOO_LONG);
    EXPECT_EQ(fly_recording(recording(HELD + "frame\nframe\n"), 45 + 3 * 360).verdict,
              Verdict::FLOWN);
    EXPECT_EQ(fly_recording(recording(HELD + "frame\nframe\n"), 45 + 3 * 360 - 1).verdict,
              Verdict::TOO_LONG);
}

// Whether the reader takes a seed at the start of a later run.
bool reader_takes_seeds_between_runs()
{
    const std::string text = recording(HELD + "seed 2\npress\n");
    std::FILE* stream = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    ScriptReader reader{.file = stream};
    ScriptEvent event;
    ScriptRead read;
    while ((read = read_event(reader, &event)) == ScriptRead::EVENT) {
    }
    std::fclose(stream);
    return read == ScriptRead::END;
}

TEST(Verify, EntersEachRunThatStartsFromItsSeed)
{
    if (!reader_takes_seeds_between_runs())
        GTEST_SKIP() << "the reader takes a seed only as the first event";
    // The second run starts from its seed; the third flies on from the second's
    // sequence; the fourth is seeded, but a crash's burst drew from the sequence after it.
    const Flight flight = fly_recording(
        recording(HELD + "seed 2\npress\ntick 100\nframe\npress\ntick 100\nframe\n"
                  + "seed 3\nframe\npress\ntick 100\nframe\n"),
        NO_LIMIT);
    ASSERT_EQ(flight.verdict, Verdict::FLOWN) << flight.reason;
    ASSERT_EQ(flight.runs.size(), 2u);
    EXPECT_EQ(flight.runs[0].seed, 1u);
    EXPECT_EQ(flight.runs[1].seed, 2u);
    EXPECT_EQ(flight.runs[1].recording, recording("seed 2\npress\ntick 45\nframe\n"));
    // The last run was not entered: an attempt made for it times no other.
    EXPECT_FALSE(flight.last_run_entered);
}

} // namespace
