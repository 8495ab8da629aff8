#include "sim/replay.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/hooks.h"
#include "app/script.h"
#include "app/shell.h"
#include "game/random.h"
#include "game/run.h"
#include "game/state.h"
#include "sim/trace.h"

namespace {

// Seeds the random generator as the game seeds itself: the seed narrowed to the
// generator's 32 bits.
void seed_generator(Game& game, std::uint64_t seed)
{
    // The same narrowing as the game's own seeding.
    random_seed(&game.random, static_cast<std::uint32_t>(seed));
}

// Runs one event and writes the trace of the ticks that ran to out, adding what they
// cost to *work. False, with the event stopped there, once that passes MAX_SCRIPT_WORK.
bool run_event(SimGame& sim, const ScriptEvent& event, std::FILE* out, TickWriter write,
               std::uint64_t* work)
{
    if (write == nullptr)
        write = write_tick;
    switch (event.event) {
    case Event::PRESS:
        sim_press(sim);
        break;
    case Event::RELEASE:
        thrust_off(sim.game);
        break;
    case Event::TICK:
        // Once a run has crashed no tick is pending, so the rest of the periods pass
        // without anything to do.
        for (std::uint64_t i = 0; i < event.number && (sim.game.state & RUNNING); ++i) {
            if (++*work > MAX_SCRIPT_WORK)
                return false;
            sim_fire_tick(sim);
            write(sim.game, out);
        }
        break;
    case Event::FRAME:
        // Every frame draws the whole picture here, and over a crash the burst's draws.
        *work += FRAME_WORK;
        if (*work > MAX_SCRIPT_WORK)
            return false;
        draw_frame(sim.game);
        break;
    case Event::SEED:
        seed_generator(sim.game, event.number);
        break;
    case Event::BEST:
        // The store's best changes what the overlay shows, never how the game flies.
        sim.game.high_score = static_cast<std::uint32_t>(event.number);
        break;
    }
    return true;
}

} // namespace

void sim_press(SimGame& sim)
{
    thrust_on_timed(sim.game, sim.clock, &sim.tick_delay_ms);
}

bool sim_fire_tick(SimGame& sim)
{
    if (!(sim.game.state & RUNNING))
        return false;
    if (tick_timed(sim.game, &sim.clock, &sim.tick_delay_ms).crashed)
        save_best(sim.game);
    return true;
}

void start_replay(SimGame& sim, std::uint64_t seed)
{
    // Seeded, and in the window the game opens with.
    sim = SimGame{};
    seed_generator(sim.game, seed);
    sim.game.win_width = WINDOW_WIDTH;
    sim.game.win_height = WINDOW_HEIGHT;
    start_game(sim.game);
    load_best(sim.game);
}

int replay(SimGame& sim, std::FILE* script, const char* name, std::FILE* out,
           const ReplayOptions& options)
{
    ScriptReader reader{.file = script, .seed_chosen = options.seed_chosen};
    std::uint64_t work = 0;
    for (;;) {
        ScriptEvent event;
        switch (read_event(reader, &event)) {
        case ScriptRead::END:
            return 0;
        case ScriptRead::BAD:
            std::fflush(out);
            report_bad_line("skarvolt-sim", name, reader);
            return EXIT_BAD_INPUT;
        case ScriptRead::EVENT:
            if (!run_event(sim, event, out, options.write_tick, &work)) {
                std::fflush(out);
                say_too_much_work(reader);
                report_bad_line("skarvolt-sim", name, reader);
                return EXIT_BAD_INPUT;
            }
            break;
        }
        if (options.flush_each_line)
            std::fflush(out);
    }
}
