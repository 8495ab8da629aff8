// The best score, kept between program runs in a one-line file in the home directory.
#pragma once

#include <cstdint>

#include "app/hooks.h"
#include "game/state.h"
#include "game/stored_score.h"

inline constexpr char SCORE_FILE_NAME[] = ".skarvolt";

// Longest path of the score file kept, with its NUL.
inline constexpr int SCORE_PATH_SIZE = 256;

// Sets the score file's path from the password database's home directory; the bare file
// name (in the working directory) when the home is too long or the user has no entry.
void build_score_path();
// Sets the score file's path as given (the tests', the benchmarks' scratch files); cut
// short to SCORE_PATH_SIZE - 1 bytes.
void use_score_path(const char* path);
const char* score_file_path();

// The game's load_best_score and save_best_score (app/hooks.h) are provided here, on the
// file at score_file_path(). Loading reads at once, without a lock: a save replaces the
// file whole or writes the new number over the old one first. Games that save together
// take turns through a lock on the file, and every write goes to the file that was
// locked, read and found to hold a score. A file that cannot be read (not a regular
// file, a read error) is reported in one line and never written, nor is one that holds
// anything but a score.

// Reads at most SCORE_READ_MAX characters from the descriptor and parses them into
// value; false when the reading fails, which is not the same as an empty file.
// *score_text, when asked for, says whether the text is what a score file holds
// (holds_score_text), so that the file may be written over.
bool read_stored_score(int fd, std::uint32_t* value, bool* score_text = nullptr);

