// What a stored best score says: the one reading shared by the score file and the
// browser's storage.
#pragma once

#include <cstdint>

// Only this many characters of what is stored are ever read.
inline constexpr int SCORE_READ_MAX = 63;

// The number that a stored text stands for: a decimal number read as a signed 64-bit
// value (blanks first, an optional sign, the digits, clamped at the limits), reduced to
// its low 32 bits, so "-1" reads as 4294967295 and "4294967296" as 0, on every machine.
std::uint32_t parse_stored_score(const char* text);

// What a score file holds: white space, an optional sign, digits, white space, nothing
// else. Anything else is never written over.
bool is_score_text(const char* text);
