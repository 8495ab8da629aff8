// The best score as a store keeps it in text: one reading of that text for every store
// (the score file, the browser's storage), and what may be written over.
#pragma once

#include <cstddef>
#include <cstdint>

// Only this many characters of what is stored are ever read.
inline constexpr int SCORE_READ_MAX = 63;

// The number that a stored text stands for: a decimal number read in 64 bits (leading
// white space, an optional sign, the digits up to the first other character; clamped at
// the limits of 64 bits), reduced to its low 32 bits, so "-1" reads as 4294967295 and
// "4294967296" as 0 on every machine.
std::uint32_t parse_stored_score(const char* text);

// True when the first length bytes of text are what a score file holds, or nothing: white
// space, an optional sign, digits, white space, and nothing else (not even a NUL). Only
// such a text may be written over: anything else is not the game's and may be precious.
bool holds_score_text(const char* text, std::size_t length);
