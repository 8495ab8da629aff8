// The cost of a tick and of a frame, with every GL and GLUT call a no-op.

#include <GL/freeglut.h>
#include <benchmark/benchmark.h>

#include "app/shell.h"
#include "game/random.h"
#include "game/run.h"
#include "game/state.h"
#include "sim/headless_gl.h"

namespace {

// A new held run, as a press after the crash frame starts it.
void new_run()
{
    arm_after_crash();
    thrust_on();
}

// A run some ticks in, so that the trail and the tunnel are full of flight.
void fly(int ticks)
{
    // Whatever run an earlier benchmark left, it ends in a crash: the ship's speed grows
    // without bound, up or down.
    while (fire_pending_tick()) {
    }
    random_seed(&game_random, 1);
    on_reshape(WINDOW_WIDTH, WINDOW_HEIGHT);
    new_run();
    thrust_off();
    for (int i = 0; i < ticks && fire_pending_tick(); ++i) {
    }
}

void BM_tick(benchmark::State& state)
{
    fly(0);
    for (auto _ : state) {
        fire_pending_tick();
        // A held or dropped run crashes after 45 ticks; the next one starts off the clock.
        if (!(game.state & RUNNING)) {
            state.PauseTiming();
            new_run();
            state.ResumeTiming();
        }
    }
    benchmark::DoNotOptimize(game);
}
BENCHMARK(BM_tick);

void BM_frame_running(benchmark::State& state)
{
    fly(40);
    if (game.state != RUNNING)
        state.SkipWithError("the run crashed before its frames");
    for (auto _ : state)
        on_display();
    benchmark::DoNotOptimize(game);
}
BENCHMARK(BM_frame_running);

// Every frame after a crash draws a new burst: 360 rays, 720 random draws.
void BM_frame_crashed(benchmark::State& state)
{
    fly(100);
    if (!(game.state & CRASHED))
        state.SkipWithError("the run did not crash");
    for (auto _ : state)
        on_display();
    benchmark::DoNotOptimize(game);
}
BENCHMARK(BM_frame_crashed);

} // namespace
