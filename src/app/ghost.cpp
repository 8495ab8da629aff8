#include "app/ghost.h"

#include <cstdio>
#include <new>

#include "app/script.h"
#include "game/random.h"
#include "game/run.h"
#include "render/scene.h"

namespace {

// Only the last input before a tick decides how the tick flies.
void add_input(GhostRecording& ghost, std::uint32_t tick, bool press)
{
    if (!ghost.inputs.empty() && ghost.inputs.back().tick == tick)
        ghost.inputs.back().press = press;
    else
        ghost.inputs.push_back({tick, press});
}

// Where the file stands while it is flown.
struct Search {
    Game game;
    Micros clock = 0;
    unsigned tick_delay_ms = 0;
    std::uint32_t seed = 0;
    bool fresh = false;  // a seed, and no draw taken since: the next run is the seed's own
    bool flying = false; // the run being flown is the seed's own
    bool found = false;
};

// Flies one event of the recording, as the simulator does.
void fly_event(Search& s, const ScriptEvent& event, GhostRecording& ghost)
{
    switch (event.event) {
    case Event::SEED:
        s.seed = static_cast<std::uint32_t>(event.number);
        random_seed(&s.game.random, s.seed);
        s.fresh = true;
        break;
    case Event::FRAME:
        if (s.game.state & CRASHED) {
            take_burst_draws(s.game.random);
            arm_after_crash(s.game);
            s.fresh = false;
        }
        break;
    case Event::PRESS:
        if (thrust_on_timed(s.game, s.clock, &s.tick_delay_ms)) {
            s.flying = s.fresh;
            s.fresh = false;
            ghost.inputs.clear();
        } else if (s.flying) {
            add_input(ghost, s.game.score, true);
        }
        break;
    case Event::RELEASE:
        thrust_off(s.game);
        if (s.flying)
            add_input(ghost, s.game.score, false);
        break;
    case Event::TICK:
        for (std::uint64_t i = 0; i < event.number && (s.game.state & RUNNING); ++i) {
            if (tick_timed(s.game, &s.clock, &s.tick_delay_ms).crashed && s.flying) {
                s.found = true;
                ghost.seed = s.seed;
                ghost.score = s.game.score;
            }
        }
        break;
    case Event::BEST:
        break;
    }
}

bool cannot_race(const char* path, const char* why)
{
    std::fprintf(stderr, "skarvolt: cannot race ");
    put_escaped(path, stderr);
    std::fprintf(stderr, ": %s\n", why);
    return false;
}

} // namespace

bool load_ghost(const char* path, GhostRecording* ghost)
{
    std::FILE* file = open_recording(path, "race");
    if (file == nullptr)
        return false;
    *ghost = GhostRecording{};
    ScriptReader reader{.file = file, .recording = true};
    Search search;
    start_game(search.game);
    ScriptEvent event;
    ScriptRead read = ScriptRead::END;
    try {
        // The whole file is read, so that one that is no recording is never raced.
        while ((read = read_event(reader, &event)) == ScriptRead::EVENT)
            if (!search.found)
                fly_event(search, event, *ghost);
    } catch (const std::bad_alloc&) {
        std::fclose(file);
        return cannot_race(path, "its run is too long to hold in memory");
    }
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
