// Reading UTF-8: the names a leaderboard keeps, and the window's titles.
#pragma once

#include <cstddef>
#include <string_view>

// The character of UTF-8 text at *at, *at moved past it; -1 when the bytes there are no
// character (a stray continuation byte, a sequence cut short, overlong, a surrogate or
// beyond U+10FFFF).
long next_utf8(std::string_view text, std::size_t* at);

// Whether the whole text is well-formed UTF-8.
bool is_utf8(std::string_view text);
