// What a jump in a watched recording costs: a session of more than 50,000 steps (the
// long script's run, then held runs), flown from its start to its end with no copy kept
// yet, and a jump back and forth once the copies are kept.
#include <string>

#include <benchmark/benchmark.h>

#include "app/playback.h"

namespace {

RecordedSession long_session()
{
    RecordedSession session;
    load_session(LONG_SCRIPT, &session);
    for (int run = 0; run < 200; ++run) {
        session.events.push_back({Event::PRESS, 1});
        session.events.push_back({Event::TICK, 300});
        session.events.push_back({Event::FRAME, 1});
    }
    return session;
}

void BM_SeekToTheEndFromTheStart(benchmark::State& state)
{
    const RecordedSession session = long_session();
    Player player;
    for (auto _ : state) {
        state.PauseTiming();
        player_start(player, session);
        state.ResumeTiming();
        player_seek(player, 1 << 30);
        benchmark::DoNotOptimize(player.head.session.game.score);
    }
    state.counters["steps"] = static_cast<double>(player.head.step);
}
BENCHMARK(BM_SeekToTheEndFromTheStart)->Unit(benchmark::kMillisecond);

void BM_SeekAnywhereWithCopiesKept(benchmark::State& state)
{
    const RecordedSession session = long_session();
    Player player;
    player_start(player, session);
    player_seek(player, 1 << 30);
    const std::int64_t last = player.head.step;
    std::int64_t target = 0;
    for (auto _ : state) {
        // Steps spread over the session; in a session of runs, a copy is kept about every
        // SNAPSHOT_WORK steps, and these fall just short of one.
        constexpr auto stride = static_cast<std::int64_t>(SNAPSHOT_WORK);
        target = (target + 7 * stride + stride - 1) % last;
        player_seek(player, target);
        benchmark::DoNotOptimize(player.head.session.game.score);
    }
}
BENCHMARK(BM_SeekAnywhereWithCopiesKept)->Unit(benchmark::kMicrosecond);

} // namespace
