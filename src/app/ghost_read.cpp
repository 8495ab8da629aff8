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

// Flies one event of the recording, as the simulator does; why it cannot stand where it
// does, or nullptr.
const char* fly_event(Search& s, const ScriptEvent& event, GhostRecording& ghost)
{
    const Game& game = s.session.game;
    const bool running = game.state & RUNNING;
    const Applied applied = session_apply(s.session, event);
    if (applied.refused != nullptr)
        return applied.refused;
    if (event.event == Event::SEED && !s.started)
        s.seed = static_cast<std::uint32_t>(event.number);
    if (applied.started)
        s.started = true;
    else if (running && (event.event == Event::PRESS || event.event == Event::RELEASE))
        add_input(ghost, game.score, event.event == Event::PRESS);
    if (applied.crashed) {
        s.found = true;
        ghost.seed = s.seed;
        ghost.score = game.score;
    }
    return nullptr;
}

} // namespace

ScriptRead read_ghost(ScriptReader& reader, GhostRecording* ghost, bool* found)
{
    *ghost = GhostRecording{};
    Search search;
    start_game(search.session.game);
    ScriptEvent event;
    ScriptRead read = ScriptRead::END;
    // The whole text is read, so that one that is no recording is never raced.
    while ((read = read_event(reader, &event)) == ScriptRead::EVENT) {
        const char* refused = search.found ? nullptr : fly_event(search, event, *ghost);
        if (refused != nullptr) {
            std::snprintf(reader.reason, sizeof reader.reason, "%s", refused);
            read = ScriptRead::BAD;
            break;
        }
    }
    *found = search.found;
    return read;
}
