#include "sim/replay.h"

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
            const Applied applied = session_apply(
                sim, event, [write, out](const Session& flown) { write(flown.game, out); });
            if (applied.refused != nullptr) {
                std::fflush(out);
                std::snprintf(reader.reason, sizeof reader.reason, "%s", applied.refused);
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
