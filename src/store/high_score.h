// The best score, kept between program runs in a one-line file in the home directory.
#pragma once

#include <cstdint>

#include "app/hooks.h"
#include "game/state.h"
#include "game/stored_score.h"

inline constexpr char SCORE_FILE_NAME[] = ".skarvolt";
// Only this many characters of the file are ever read.
inline constexpr int SCORE_READ_MAX = 63;

// Fills game.score_path from the password database's home directory; the bare file name
// (in the working directory) when the home is too long or the user has no entry.
void build_score_path(GameState& game);

// The game's sync_high_score (app/hooks.h) is provided here: it merges the run's score,
// the high score in memory and the file's number into game.high_score, and rewrites the
// file when the merged value beats the file's number. Games that crash together take
// turns through a lock on the file. A file that cannot be read (not a regular file, a
// read error), or that holds anything but a number, is reported in one line and never
// written.

// Reads at most SCORE_READ_MAX characters from the descriptor and parses them into
// value (parse_stored_score); false when the reading fails, which is not the same as an
// empty file. *score_text, when asked for, says whether what was read is what a score
// file holds (holds_score_text), so that the file may be written over.
bool read_stored_score(int fd, std::uint32_t* value, bool* score_text = nullptr);

