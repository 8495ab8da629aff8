// The simulator's trace writer against printf, side by side in one run: the replay of the
// long bot-flown script in this process, and the formatting of one tick's line. The printf
// writer is the one the simulator used before; it stays here as the control. The goals:
// BM_replay_long<write_tick> at least twice as fast as <write_tick_printf>, and
// BM_tick_line<format_tick> at least twice as fast as <format_tick_printf>.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <benchmark/benchmark.h>

#include "game/state.h"
#include "sim/replay.h"
#include "sim/trace.h"

namespace {

void write_tick_printf(const GameState& game, std::FILE* out)
{
    std::fprintf(out, "%u %.9g %.9g %.9g %.9g\n", game.score, static_cast<double>(game.trail[0]),
                 static_cast<double>(game.velocity), static_cast<double>(game.tunnel_center[0]),
                 static_cast<double>(game.obstacle_center[0]));
    if (game.state & CRASHED)
        std::fprintf(out, "crash %u\n", game.score);
}

int format_tick_printf(const GameState& game, char* text)
{
    int n = std::snprintf(text, TICK_TEXT_MAX, "%u %.9g %.9g %.9g %.9g\n", game.score,
                          static_cast<double>(game.trail[0]), static_cast<double>(game.velocity),
                          static_cast<double>(game.tunnel_center[0]),
                          static_cast<double>(game.obstacle_center[0]));
    if (game.state & CRASHED)
        n += std::snprintf(text + n, static_cast<std::size_t>(TICK_TEXT_MAX - n), "crash %u\n",
                           game.score);
    return n;
}

// The long script replayed as skarvolt-sim replays it, its trace written to out through
// a buffer as large as the simulator's; false when the script is not played to its end.
bool replay_long(std::FILE* out, TickWriter write)
{
    static char buffer[1 << 20];
    std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
    std::FILE* script = std::fopen(LONG_SCRIPT, "r");
    if (script == nullptr)
        return false;
    static Session sim;
    start_replay(sim, std::strtoull(LONG_SCRIPT_SEED, nullptr, 10));
    const int status = replay(sim, script, LONG_SCRIPT, out, {.write_tick = write});
    std::fclose(script);
    return status == 0 && std::fflush(out) == 0;
}

std::string trace_of(TickWriter write)
{
    std::FILE* out = std::tmpfile();
    std::string trace;
    if (out != nullptr && replay_long(out, write)) {
        std::rewind(out);
        char piece[1 << 16];
        for (std::size_t n; (n = std::fread(piece, 1, sizeof piece, out)) > 0;)
            trace.append(piece, n);
    }
    if (out != nullptr)
        std::fclose(out);
    return trace;
}

template <TickWriter WRITE>
void BM_replay_long(benchmark::State& state)
{
    // The control only means something while both writers give the same trace.
    static const bool same = [] {
        const std::string trace = trace_of(write_tick);
        return !trace.empty() && trace == trace_of(write_tick_printf);
    }();
    std::FILE* null = std::fopen("/dev/null", "w");
    if (!same || null == nullptr) {
        state.SkipWithError("the two writers do not give the same trace of " LONG_SCRIPT);
        return;
    }
    for (auto _ : state)
        if (!replay_long(null, WRITE))
            state.SkipWithError("the replay failed");
    std::fclose(null);
}
BENCHMARK_TEMPLATE(BM_replay_long, write_tick_printf)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_replay_long, write_tick)->Unit(benchmark::kMillisecond);

// One line of a run in full flight: a crash line too, so that both parts are measured.
template <int (*FORMAT)(const GameState&, char*)>
void BM_tick_line(benchmark::State& state)
{
    GameState game{};
    game.score = 36040;
    game.trail[0] = -0.183615893f;
    game.velocity = -0.00599999912f;
    game.tunnel_center[0] = 0.0733146816f;
    game.obstacle_center[0] = -1.2345678e-5f;
    game.state = CRASHED;
    char text[TICK_TEXT_MAX];
    for (auto _ : state) {
        benchmark::DoNotOptimize(FORMAT(game, text));
        benchmark::ClobberMemory();
    }
}
BENCHMARK_TEMPLATE(BM_tick_line, format_tick_printf);
BENCHMARK_TEMPLATE(BM_tick_line, format_tick);

} // namespace
