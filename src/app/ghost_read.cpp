#include "app/ghost.h"

#include <cstdio>

#include "game/run.h"
#include "session/session.h"

namespace {

// Only the last input before a tick decides how the tick flies.
void add_input(GhostRecording& ghost, std::uint32_t tick, bool press)
{
    if (!ghost.inputs.empty() && ghost.inputs.back().tick == tick)
        ghost.inputs.back().press = press;
    else
        ghost.inputs.push_back({tick, press});
}

// Where the file stands while it is flown. A recording begins with its seed, and no burst
// can be drawn before its first run: that run is the seed's own tunnel, and the ghost's
// when it crashes. (A later run may start from a seed too, but only after the first has
// crashed.)
struct Search {
    Session session;
    std::uint32_t seed = 0;
    bool started = false; // the first run has started
    bool found = false;   // and crashed
};

// Takes what one event of the recording did, flown as the simulator flies it. A press or
// release cannot start or end a run but for the press that starts it, so one that leaves
// the run going was played in the middle of it.
void note_event(Search& s, const ScriptEvent& event, const Applied& applied, GhostRecording& ghost)
{
    const Game& game = s.session.game;
    if (event.event == Event::SEED && !s.started)
        s.seed = static_cast<std::uint32_t>(event.number);
    if (applied.started)
        s.started = true;
    else if ((game.state & RUNNING) && (event.event == Event::PRESS || event.event == Event::RELEASE))
        add_input(ghost, game.score, event.event == Event::PRESS);
    if (applied.crashed) {
        s.found = true;
        ghost.seed = s.seed;
        ghost.score = game.score;
    }
}

} // namespace

ScriptRead read_ghost(ScriptReader& reader, GhostRecording* ghost, bool* found)
{
    *ghost = GhostRecording{};
    Search search;
    start_game(search.session.game);
    // The whole text is read, so that one that is no recording is never raced; it is
    // flown only as far as the ghost's run.
    const ScriptRead read = fly_as_read(
        reader, search.session, [&](const ScriptEvent& event, const Applied& applied) {
            note_event(search, event, applied, *ghost);
            return !search.found;
        });
    *found = search.found;
    return read;
}

ScriptRead read_ghost_from(std::FILE* file, ScriptReader* reader, GhostRecording* ghost,
                           bool* found)
{
    *reader = ScriptReader{.file = file, .recording = true, .max_bytes = MAX_RECORDING_BYTES};
    try {
        const ScriptRead read = read_ghost(*reader, ghost, found);
        std::fclose(file);
        return read;
    } catch (...) {
        std::fclose(file);
        throw;
    }
}
