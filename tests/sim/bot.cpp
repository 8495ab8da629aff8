// Finds a script that keeps a run alive for a given number of ticks, for the long-run
// trace test. Regeneration only: the tests replay the stored script and never run this.
//
// usage: sim-bot SEED TICKS > script
//
// The stored long run and its digest were made with
//   build-dev/tests/sim/sim-bot 8 36000 > tests/sim/long.script
// and its digest by tools/regen-traces. A changed digest wants the reference model's
// agreement (check-trace reference) before it is stored again.
//
// It flies the game's own code as the simulator flies it. Before every tick it tries
// both buttons, each followed by a simple pilot for a while, on copies of the game, and
// keeps the button whose future lasts longer (the one already
// held when both last the whole look-ahead, so the script stays short). When the run
// crashes anyway it goes back a while and strays from that choice now and then, going
// back further when that does not get past the crash.
#include <cstdint>
#include <cstdio>

#include "app/decimal.h"
#include "game/rules.h"
#include "game/run.h"
#include "game/state.h"
#include "sim/replay.h"

namespace {

constexpr int LOOK_AHEAD = 160;
// How far ahead the pilot aims, in ticks: short aims steer hard, long ones smoothly.
constexpr int PILOT_HORIZONS[] = {3, 5, 8, 12, 18, 27, 40};
constexpr int HISTORY = 512;

Session sim;
const Game& game = sim.game;

// A snapshot of the flight is a copy of it.
using Snapshot = Session;

void take(Snapshot* s)
{
    *s = sim;
}

void restore(const Snapshot& s)
{
    sim = s;
}

// One tick with the button down or up; false when it crashed.
bool step(bool held)
{
    if (held)
        session_press(sim);
    else
        session_release(sim);
    session_fire_tick(sim);
    return (game.state & RUNNING) != 0;
}

// Where the pilot wants the ship to be when it reaches the column now at index i: the
// middle of the passage, or of the wider gap beside a block.
float target_at(int i)
{
    const std::int32_t d = generation_index(game.score, i);
    const float g = half_gap(d);
    const float c = game.tunnel_center[i];
    for (int m = -2; m <= 2; ++m) {
        const std::int32_t k = d - m;
        if (!holds_block(k) || i + m < 0 || i + m >= COLUMNS)
            continue;
        const float block = game.obstacle_center[i + m];
        const float above = (c + g) - (block + OBSTACLE_HALF_HEIGHT);
        const float below = (block - OBSTACLE_HALF_HEIGHT) - (c - g);
        return above > below ? (c + g + block + OBSTACLE_HALF_HEIGHT) / 2
                             : (c - g + block - OBSTACLE_HALF_HEIGHT) / 2;
    }
    return c;
}

// Holds the button when the ship, coasting, would be below the target that many ticks on.
bool pilot(int horizon)
{
    const float y = game.trail[0];
    return y + game.velocity * static_cast<float>(horizon) < target_at(SHIP_COLUMN - horizon);
}

// Ticks survived, up to LOOK_AHEAD, with the button first held as given, then piloted by
// the best of the pilots; the game is back where it was afterwards.
int future(bool held)
{
    Snapshot here;
    take(&here);
    int best = 0;
    for (const int horizon : PILOT_HORIZONS) {
        int n = 0;
        if (step(held))
            for (++n; n < LOOK_AHEAD; ++n)
                if (!step(pilot(horizon)))
                    break;
        restore(here);
        if (n > best)
            best = n;
        if (best == LOOK_AHEAD)
            break;
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    std::uint64_t seed = 0;
    std::uint64_t goal = 0;
    if (argc != 3 || !parse_count(argv[1], &seed) || !parse_count(argv[2], &goal)) {
        std::fputs("usage: sim-bot SEED TICKS > script\n", stderr);
        return 2;
    }
    start_replay(sim, seed);

    static bool held[1u << 22];
    static Snapshot history[HISTORY];
    if (goal == 0 || goal >= sizeof held) {
        std::fputs("sim-bot: TICKS must be from 1 to 4194303\n", stderr);
        return 2;
    }
    session_press(sim);

    std::uint64_t t = 0;       // ticks done
    std::uint64_t crashed = 0; // the latest crash that sent the search back
    int back = 8;
    int tries = 0;
    std::uint32_t noise = static_cast<std::uint32_t>(seed) | 1u;
    while (t < goal) {
        if (t > crashed) {
            back = 8;
            tries = 0;
        }
        take(&history[t % HISTORY]);
        const bool current = t == 0 || held[t - 1];
        const int keep = future(current);
        const int change = keep < LOOK_AHEAD ? future(!current) : -1;
        bool choice = change > keep ? !current : current;
        // On the way back to a crash, stray from the pilots' choice now and then: going
        // the same way again would only meet the same crash.
        noise = noise * 1664525u + 1013904223u;
        if (t < crashed && (noise >> 28) < 4)
            choice = !choice;
        held[t] = choice;
        if (step(choice)) {
            ++t;
            continue;
        }
        if (t + 1 > crashed)
            crashed = t + 1;
        if (++tries > 16) {
            tries = 0;
            back *= 2;
        }
        if (back > HISTORY - 1 || static_cast<std::uint64_t>(back) > t) {
            std::fprintf(stderr, "sim-bot: stuck at tick %llu\n",
                         static_cast<unsigned long long>(t));
            return 1;
        }
        t -= static_cast<std::uint64_t>(back);
        restore(history[t % HISTORY]);
    }

    std::printf("# A run kept alive for %llu ticks with seed %llu (made by tests/sim/bot.cpp),\n"
                "# then let fall, shown crashed, and one more held run.\nseed %llu\npress\n",
                static_cast<unsigned long long>(goal), static_cast<unsigned long long>(seed),
                static_cast<unsigned long long>(seed));
    std::uint64_t run = 0;
    for (std::uint64_t i = 0; i < goal; ++i) {
        if (i > 0 && held[i] != held[i - 1]) {
            std::printf("tick %llu\n%s\n", static_cast<unsigned long long>(run),
                        held[i] ? "press" : "release");
            run = 0;
        }
        ++run;
    }
    std::printf("tick %llu\n%stick 1000\nframe\npress\ntick 100\n",
                static_cast<unsigned long long>(run), held[goal - 1] ? "release\n" : "");
    return 0;
}
