// Whole numbers as a player or a script writes them: a seed, a count of ticks.
#pragma once

#include <cstdint>

// An unsigned decimal of up to 64 bits: digits only, no sign, no blanks, not empty; any
// number of leading zeros. The simulator's options and scripts and the browser page's
// address all read a seed by this one rule.
bool parse_count(const char* text, std::uint64_t* value);
