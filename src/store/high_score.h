// The best score, kept between program runs in a one-line file in the home directory.
#pragma once

#include <cstdint>

#include "app/hooks.h"
#include "game/state.h"

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
// read error) is reported in one line and never written.

// The number that a stored text stands for: strtol's reading in base 10, reduced to its
// low 32 bits, so "-1" reads as 4294967295.
std::uint32_t parse_stored_score(const char* text);

// Reads at most SCORE_READ_MAX characters from the descriptor and parses them into
// value; false when the reading fails, which is not the same as an empty file.
// score_text, when given, says whether the text is what a score file holds.
bool read_stored_score(int fd, std::uint32_t* value, bool* score_text = nullptr);
// What a score file holds: white space, an optional sign, digits, white space, nothing
// else. Anything else is never written over.
bool is_score_text(const char* text);

// Opens /dev/null on any of the standard descriptors 0, 1 and 2 that is closed, so that
// a file or connection opened later cannot take its place and receive the game's
// messages. Called first thing after the version option is answered.
void open_standard_descriptors();
