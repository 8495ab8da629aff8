// Agent steps a second of the training core: frame_skip 1, random actions, every game's
// episodes resetting as they end. A step is one tick of one game plus its observation,
// not a picture. Items per second is the figure: steps of all games together.

#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "train/batch.h"

namespace {

// Random actions for many steps ahead, so that drawing them costs the step nothing.
constexpr std::size_t ACTION_STEPS = 64;

void step_batch(benchmark::State& state, bool record)
{
    BatchConfig config;
    config.num_envs = static_cast<int>(state.range(0));
    config.num_threads = static_cast<int>(state.range(1));
    config.record = record;
    Batch batch(config);
    const std::size_t n = static_cast<std::size_t>(config.num_envs);
    std::vector<std::uint8_t> actions(n * ACTION_STEPS);
    std::mt19937 random(1);
    for (std::uint8_t& a : actions)
        a = static_cast<std::uint8_t>(random() & 1);
    std::vector<std::int64_t> seeds(n);
    for (std::size_t i = 0; i < n; ++i)
        seeds[i] = static_cast<std::int64_t>(i);
    std::vector<float> obs(n * OBS_SIZE);
    std::vector<float> rewards(n);
    std::vector<std::uint8_t> terminated(n);
    std::vector<std::uint8_t> truncated(n);
    batch.reset(seeds.data(), obs.data());
    std::size_t turn = 0;
    for (auto _ : state) {
        batch.step(actions.data() + n * turn, obs.data(), rewards.data(), terminated.data(),
                   truncated.data());
        turn = (turn + 1) % ACTION_STEPS;
    }
    benchmark::DoNotOptimize(obs.data());
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}

void BM_batch_step(benchmark::State& state)
{
    step_batch(state, false);
}
// One game alone; 1024 and 16384 games on one thread and on two.
BENCHMARK(BM_batch_step)->Args({1, 1})->Args({1024, 1})->Args({1024, 2})->Args({16384, 1})->Args({16384, 2})->UseRealTime();

// The same with each episode's actions kept for its script, as the Python package does.
void BM_batch_step_recorded(benchmark::State& state)
{
    step_batch(state, true);
}
BENCHMARK(BM_batch_step_recorded)->Args({1024, 1})->Args({1024, 2})->UseRealTime();

} // namespace
