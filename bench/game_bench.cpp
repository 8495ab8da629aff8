// The cost of a tick and of a frame, with every GL and GLUT call a no-op.

#include <benchmark/benchmark.h>

#include "render/scene.h"
#include "session/session.h"
#include "game/run.h"
#include "game/state.h"
#include "sim/replay.h"

namespace {

Session sim;

// A new held run, as a press after the crash frame starts it.
void new_run()
{
    arm_after_crash(sim.game);
    session_press(sim);
}

// A run some ticks in, so that the trail and the tunnel are full of flight.
void fly(int ticks)
{
    start_replay(sim, 1);
    new_run();
    thrust_off(sim.game);
    for (int i = 0; i < ticks && (sim.game.state & RUNNING); ++i)
        session_fire_tick(sim);
}

void BM_tick(benchmark::State& state)
{
    fly(0);
    for (auto _ : state) {
        session_fire_tick(sim);
        // A held or dropped run crashes after 45 ticks; the next one starts off the clock.
        if (!(sim.game.state & RUNNING)) {
            state.PauseTiming();
            new_run();
            state.ResumeTiming();
        }
    }
    benchmark::DoNotOptimize(sim);
}
BENCHMARK(BM_tick);

void BM_frame_running(benchmark::State& state)
{
    fly(40);
    if (sim.game.state != RUNNING)
        state.SkipWithError("the run crashed before its frames");
    for (auto _ : state)
        draw_frame(sim.game, session_burst(sim), WINDOW_WIDTH, WINDOW_HEIGHT);
    benchmark::DoNotOptimize(sim);
}
BENCHMARK(BM_frame_running);

// Every frame after a crash draws a new burst: 360 rays, 720 random draws.
void BM_frame_crashed(benchmark::State& state)
{
    fly(100);
    if (!(sim.game.state & CRASHED))
        state.SkipWithError("the run did not crash");
    for (auto _ : state) {
        session_frame(sim);
        draw_frame(sim.game, session_burst(sim), WINDOW_WIDTH, WINDOW_HEIGHT);
    }
    benchmark::DoNotOptimize(sim);
}
BENCHMARK(BM_frame_crashed);

} // namespace
