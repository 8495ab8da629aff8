// Racing a ghost (skarvolt --ghost FILE): the recorded run read from a file, and the
// window's title that tells the race.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/script.h"
#include "session/ghost.h"
#include "game/state.h"

// The ghost's run as a recording holds it: its first run, which starts from the seed the
// recording begins with, when it ends in a crash.
struct GhostRecording {
    std::uint32_t seed = 0;
    std::uint32_t score = 0;
    std::vector<GhostInput> inputs;

    // The run for session/ghost.h; it refers to inputs, so it lasts as long as they do.
    GhostRun run() const { return {seed, score, inputs.data(), inputs.size()}; }
};

// Why a recording cannot be raced when it reads well but holds no such run.
inline constexpr const char* NO_GHOST_RUN =
    "no run in it starts from a \"seed\" line and ends in a crash";

// Reads the whole recording from reader (held to a recording's rules, as the viewer holds
// it: fly_as_read) and flies it through the game's rules to find the ghost's run: *found
// says whether there was one. BAD, with the line and reader.reason, for a line that is no
// recording's, asks for too much work or cannot stand where it does.
ScriptRead read_ghost(ScriptReader& reader, GhostRecording* ghost, bool* found);

// read_ghost over the recording in file, read as a recording (MAX_RECORDING_BYTES at
// most), through *reader, which tells the line and reason of a BAD. Closes the file, also
// when memory runs out on the way (std::bad_alloc, passed on once the file is closed).
ScriptRead read_ghost_from(std::FILE* file, ScriptReader* reader, GhostRecording* ghost,
                           bool* found);

// Exit status of a ghost that cannot be raced.
inline constexpr int EXIT_BAD_GHOST = 2;

// Reads the recording at path and flies it through the game's rules to find the ghost's
// run. False, after one line on standard error naming the file (and the line, for a line
// that is no recording's), when it cannot be read, is no recording or holds no such run.
// Memory that runs out on the way is std::bad_alloc, for the caller to say.
bool read_ghost_file(const char* path, GhostRecording* ghost);

// read_ghost_file for the game's command line: memory that runs out on the way ends the
// game with one line and EXIT_BAD_GHOST.
bool load_ghost(const char* path, GhostRecording* ghost);

// The window's title during a race, into text (size bytes): "ghost 1843 · you 1210" while
// the player flies, the ghost's score beside the player's; after the player's crash
// "ahead by 312" or "behind by 633", in ticks ("ahead by 0" on a tie). False, and text
// untouched, before the player's first run: the title is then the program's own.
bool race_title(std::uint32_t ghost_score, const GameState& you, char* text, std::size_t size);
