#include "app/ghost.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/script.h"
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

bool cannot_race(const char* path, const char* why)
{
    std::fprintf(stderr, "skarvolt: cannot race ");
    put_escaped(path, stderr);
    std::fprintf(stderr, ": %s\n", why);
    return false;
}

// The recording being read, for the one line said when the memory runs out.
const char* reading = nullptr;

[[noreturn]] void out_of_memory()
{
    cannot_race(reading, "not enough memory to hold its run");
    std::exit(EXIT_BAD_GHOST);
}

} // namespace

bool load_ghost(const char* path, GhostRecording* ghost)
{
    std::FILE* file = open_recording(path, "race");
    if (file == nullptr)
        return false;
    *ghost = GhostRecording{};
    ScriptReader reader{.file = file, .recording = true, .max_bytes = MAX_RECORDING_BYTES};
    Search search;
    start_game(search.session.game);
    ScriptEvent event;
    ScriptRead read = ScriptRead::END;
    // Memory that cannot be had for the run's inputs is one line, not an abort.
    reading = path;
    const std::new_handler before = std::set_new_handler(out_of_memory);
    // The whole file is read, so that one that is no recording is never raced.
    while ((read = read_event(reader, &event)) == ScriptRead::EVENT) {
        const char* refused = search.found ? nullptr : fly_event(search, event, *ghost);
        if (refused != nullptr) {
            std::snprintf(reader.reason, sizeof reader.reason, "%s", refused);
            read = ScriptRead::BAD;
            break;
        }
    }
    std::set_new_handler(before);
    std::fclose(file);
    if (read == ScriptRead::BAD) {
        report_bad_line("skarvolt", path, reader);
        return false;
    }
    if (!search.found)
        return cannot_race(path, "no run in it starts from a \"seed\" line and ends in a crash");
    return true;
}

bool race_title(std::uint32_t ghost_score, const GameState& you, char* text, std::size_t size)
{
    if (you.state & RUNNING) {
        std::snprintf(text, size, "ghost %u \u00b7 you %u", ghost_score, you.score);
    } else if (you.state & CRASHED) {
        if (you.score >= ghost_score)
            std::snprintf(text, size, "ahead by %u", you.score - ghost_score);
        else
            std::snprintf(text, size, "behind by %u", ghost_score - you.score);
    } else {
        return false;
    }
    return true;
}
