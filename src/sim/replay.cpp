#include "sim/replay.h"

#include <algorithm>

#include "app/script.h"
#include "game/state.h"
#include "session/session.h"
#include "sim/trace.h"

void start_replay(Session& sim, std::uint64_t seed)
{
    session_start(sim, seed);
}

int replay(Session& sim, std::FILE* script, const char* name, std::FILE* out,
           const ReplayOptions& options)
{
    const TickWriter write = options.write_tick != nullptr ? options.write_tick : write_tick;
    ScriptReader reader{.file = script, .seed_chosen = options.seed_chosen};
    // What the script has asked so far: each tick flown, and FRAME_WORK for each frame.
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
        case ScriptRead::EVENT: {
            // No more ticks flown than the work left allows; a run that would fly on past
            // it, or a frame beyond it, stops the replay at this line.
            ScriptEvent bounded = event;
            if (event.event == Event::TICK)
                bounded.number = std::min(event.number, MAX_SCRIPT_WORK - work);
            const bool frame_too_much =
                event.event == Event::FRAME && FRAME_WORK > MAX_SCRIPT_WORK - work;
            Applied applied;
            if (!frame_too_much) {
                work += event.event == Event::FRAME ? FRAME_WORK : 0;
                applied = session_apply(sim, bounded, [write, out](const Session& flown) {
                    write(flown.game, out);
                });
                work += applied.ticks;
            }
            const bool too_much =
                frame_too_much || (bounded.number < event.number && (sim.game.state & RUNNING));
            if (too_much)
                say_too_much_work(reader);
            else if (applied.refused != nullptr)
                std::snprintf(reader.reason, sizeof reader.reason, "%s", applied.refused);
            if (too_much || applied.refused != nullptr) {
                std::fflush(out);
                report_bad_line("skarvolt-sim", name, reader);
                return EXIT_BAD_INPUT;
            }
            break;
        }
        }
        if (options.flush_each_line)
            std::fflush(out);
    }
}
