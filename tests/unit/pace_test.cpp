// The run's clock against a fake one: a GLUT-like main loop whose timer counts whole
// milliseconds, and frames that take as long as the case says.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "game/pace.h"

namespace {

constexpr int HELD_RUN_TICKS = 45;
constexpr Micros MS = 1000;

// When a frame drawn from `start` is on the screen.
using FrameEnd = std::function<Micros(Micros start)>;

struct Flight {
    std::vector<Micros> ticks;           // when each tick ran
    std::vector<std::int64_t> per_call;  // ticks run by each timer callback
    std::vector<unsigned> delays;        // every delay armed
};

// A held run of HELD_RUN_TICKS ticks, started at `start`, in a loop that works as
// freeglut's does: a timer armed with d milliseconds fires once the millisecond count
// has reached the count at arming plus d; due timers run first, then the frame that
// they asked for, then the loop sleeps until the next timer.
Flight fly(Micros start, const FrameEnd& frame_end)
{
    Flight flight;
    Pace pace{};
    pace_start(pace, start);
    Micros now = start;
    Micros trigger_ms = now / MS + pace_delay_ms(pace, now);
    flight.delays.push_back(static_cast<unsigned>(trigger_ms - now / MS));
    for (int guard = 0; guard < 10000; ++guard) {
        now = std::max(now, trigger_ms * MS);
        const std::int64_t due = pace_take_due(pace, now);
        flight.per_call.push_back(due);
        for (std::int64_t i = 0; i < due && static_cast<int>(flight.ticks.size()) < HELD_RUN_TICKS; ++i)
            flight.ticks.push_back(now);
        if (static_cast<int>(flight.ticks.size()) == HELD_RUN_TICKS)
            return flight; // the crash: nothing more is armed
        const unsigned delay = pace_delay_ms(pace, now);
        flight.delays.push_back(delay);
        trigger_ms = now / MS + delay;
        now = frame_end(now);
    }
    ADD_FAILURE() << "the run never ended";
    return flight;
}

Micros due(Micros start, int tick)
{
    return start + tick * TICK_US;
}

TEST(Pace, OnTimeFramesRunOneTickPerCallbackOnItsTime)
{
    // A start between two millisecond marks: timers fire up to a millisecond early.
    const Micros start = 5 * 1000 * MS + 300;
    const Flight flight = fly(start, [](Micros t) { return t + 2 * MS; });
    ASSERT_EQ(flight.ticks.size(), static_cast<std::size_t>(HELD_RUN_TICKS));
    for (int n = 1; n <= HELD_RUN_TICKS; ++n) {
        EXPECT_GT(flight.ticks[n - 1], due(start, n) - MS) << n;
        EXPECT_LE(flight.ticks[n - 1], due(start, n) + MS) << n;
    }
    for (std::int64_t per_call : flight.per_call)
        EXPECT_EQ(per_call, 1);
}

TEST(Pace, ExactClockArmsTwelveMillisecondsEveryTime)
{
    // The simulator's and the unit tests' clock: always exactly on time.
    const Flight flight = fly(0, [](Micros t) { return t; });
    ASSERT_EQ(flight.ticks.size(), static_cast<std::size_t>(HELD_RUN_TICKS));
    for (int n = 1; n <= HELD_RUN_TICKS; ++n)
        EXPECT_EQ(flight.ticks[n - 1], due(0, n));
    for (unsigned delay : flight.delays)
        EXPECT_EQ(delay, TICK_MS);
}

TEST(Pace, ALateFrameIsCaughtUpAtOnceAndThePaceResumes)
{
    // The frame after tick 10 takes 40 ms: ticks 11 to 13 fall due during it.
    int frames = 0;
    const Flight flight = fly(0, [&](Micros t) { return t + (++frames == 10 ? 40 * MS : 0); });
    ASSERT_EQ(flight.ticks.size(), static_cast<std::size_t>(HELD_RUN_TICKS));
    for (int n = 11; n <= 13; ++n)
        EXPECT_EQ(flight.ticks[n - 1], 160 * MS) << n; // right after the late frame
    for (int n = 14; n <= HELD_RUN_TICKS; ++n)
        EXPECT_EQ(flight.ticks[n - 1], due(0, n)) << n;
    EXPECT_EQ(flight.per_call[10], 3);
}

TEST(Pace, FramesWaitingForA60HzRefreshKeepTheRunsLength)
{
    constexpr Micros REFRESH = 16667;
    const Micros start = 3 * MS + 100;
    const Flight flight = fly(start, [](Micros t) { return (t / REFRESH + 1) * REFRESH; });
    ASSERT_EQ(flight.ticks.size(), static_cast<std::size_t>(HELD_RUN_TICKS));
    for (int n = 1; n <= HELD_RUN_TICKS; ++n) {
        EXPECT_GT(flight.ticks[n - 1], due(start, n) - MS) << n;
        EXPECT_LE(flight.ticks[n - 1], due(start, n) + REFRESH + MS) << n;
    }
    // One tick per frame would take 44 refreshes, 733 ms, from the first to the last.
    const Micros span = flight.ticks.back() - flight.ticks.front();
    EXPECT_LT(span, 44 * TICK_US + REFRESH + MS);
    for (std::int64_t per_call : flight.per_call)
        EXPECT_LE(per_call, 2);
}

TEST(Pace, AStallIsForgottenAndTheRunGoesOnAtItsPace)
{
    // The process stops for a second after tick 10.
    int frames = 0;
    const Flight flight = fly(0, [&](Micros t) { return t + (++frames == 10 ? 1000 * MS : 0); });
    ASSERT_EQ(flight.ticks.size(), static_cast<std::size_t>(HELD_RUN_TICKS));
    const Micros resumed = 120 * MS + 1000 * MS;
    EXPECT_EQ(flight.per_call[10], 1);
    for (int n = 11; n <= HELD_RUN_TICKS; ++n)
        EXPECT_EQ(flight.ticks[n - 1], resumed + (n - 11) * TICK_US) << n;
}

TEST(Pace, HowManyTicksAreDueByHowLateTheTimerFires)
{
    struct Case {
        const char* what;
        Micros late; // after the due time of the tick the timer was armed for
        std::int64_t due;
        bool restarted;
    };
    const Case cases[] = {
        {"more than a tick early", -TICK_US - 1, 1, true},
        {"a whole tick early", -TICK_US, 1, false},
        {"a little early", -700, 1, false},
        {"on time", 0, 1, false},
        {"just short of the next", TICK_US - 1, 1, false},
        {"when the next is due too", TICK_US, 2, false},
        {"at the stall limit", STALL_US, 1 + STALL_US / TICK_US, false},
        {"past the stall limit", STALL_US + 1, 1, true},
        {"a second late", 1000 * MS, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pace pace{};
        pace_start(pace, 7 * MS);
        pace.ticks = 20; // the timer was armed for tick 21
        const Micros now = due(7 * MS, 21) + c.late;
        EXPECT_EQ(pace_take_due(pace, now), c.due);
        // After a restart the tick that ran was due now; the next comes one tick later.
        const Micros next = pace.origin + (pace.ticks + 1) * TICK_US;
        if (c.restarted)
            EXPECT_EQ(next, now + TICK_US);
        else
            EXPECT_EQ(next, due(7 * MS, 21 + static_cast<int>(c.due)));
    }
}

TEST(Pace, DelayIsTheTimeLeftRoundedUpToAMillisecond)
{
    const struct {
        Micros left;
        unsigned ms;
    } cases[] = {{TICK_US, 12}, {TICK_US - 999, 12}, {TICK_US - 1000, 11}, {1, 1}, {0, 0}, {-5 * MS, 0}};
    for (const auto& c : cases) {
        Pace pace{};
        pace_start(pace, 0);
        EXPECT_EQ(pace_delay_ms(pace, TICK_US - c.left), c.ms) << c.left;
    }
}

} // namespace
