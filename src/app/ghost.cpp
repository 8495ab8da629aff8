#include "app/ghost.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "app/script.h"

namespace {

bool cannot_race(const char* path, const char* why)
{
    say_cannot("race", path, why);
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

bool read_ghost_file(const char* path, GhostRecording* ghost)
{
    std::FILE* file = open_recording(path, "race");
    if (file == nullptr)
        return false;
    ScriptReader reader;
    bool found = false;
    if (read_ghost_from(file, &reader, ghost, &found) == ScriptRead::BAD) {
        report_bad_line("skarvolt", path, reader);
        return false;
    }
    if (!found)
        return cannot_race(path, NO_GHOST_RUN);
    return true;
}

bool load_ghost(const char* path, GhostRecording* ghost)
{
    // Memory that cannot be had for the run's inputs is one line, not an abort.
    reading = path;
    const std::new_handler before = std::set_new_handler(out_of_memory);
    const bool read = read_ghost_file(path, ghost);
    std::set_new_handler(before);
    return read;
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
