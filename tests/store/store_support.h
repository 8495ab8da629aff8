// Captured runs of the score merge and faults injected into the store's system calls,
// shared by the high-score tests; scratch directories and files come from the test
// support library. Nothing here touches the home directory: every run is given its
// score path directly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <sys/types.h>

#include "game/state.h"

namespace store_test {

// The game whose scores the merges in this process store.
extern GameState game;

// Faults injected into the store's system calls: the test programs' own read() and
// open() come before the C library's, so the store's calls reach them. Unarmed, they
// pass every call on. A child inherits them, so a test arms them in sync_in_child's
// set-up.
struct Faults {
    bool reads_armed = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::size_t good_bytes = 0;  // handed out before the reads of that file fail
    bool refuse_unnamed = false; // a file system that makes no unnamed files
    int unnamed_refused = 0;
    int directories_flushed = 0; // fsync calls on a directory (counted, never refused)

    // Reads of the file now at path fail with EIO after `after` bytes. Empty on
    // success, else why it failed.
    std::string fail_reads_of(const std::string& path, std::size_t after);
};
extern Faults faults;

struct SyncResult {
    std::uint32_t high_score = 0;
    bool kept = false;  // the store holds the best (false: still to be saved)
    std::string err;    // everything written on standard error
    bool ran = false;   // false when the child's set-up failed (err says why)
    std::string seen;   // what the child's inspection found after the merge
};

// One merge with the given path, final score and high score in memory, in this process:
// a load when both are 0 (the title screen), else a crash's save.
SyncResult sync_here(const std::string& path, std::uint32_t score, std::uint32_t high_score);

// A crash scoring score in a game whose best so far is game.high_score, as a game
// would merge it: no capture, for processes that play many rounds.
void sync_score(const std::string& path, std::uint32_t score);

// One merge as sync_here does, in a child process that first runs setup (dropping
// privileges, entering a mount namespace...). setup returns an empty string on
// success, else why it failed.
// inspect, when given, runs in the child after the merge, to look at what only the
// child can see (a private mount); its answer comes back in seen.
// The child is killed after ten seconds, so a test cannot hang.
SyncResult sync_in_child(const std::string& path, std::uint32_t score, std::uint32_t high_score,
                         const std::function<std::string()>& setup,
                         const std::function<std::string()>& inspect = {});

} // namespace store_test
