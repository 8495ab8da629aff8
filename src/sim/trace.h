// The simulator's trace: one line per tick that ran, and a crash line after the tick that
// ended a run. Numbers are written as printf's "%u" and "%.9g" would write them, without
// going through printf, whose parsing of the format costs more than the flight itself.
#pragma once

#include <cstdio>

#include "game/state.h"

// Longest text that format_tick writes: five numbers on the tick's line and the crash line.
inline constexpr int TICK_TEXT_MAX = 128;

// Writes value into [first, last) as "%.9g" writes the same value widened to double, and
// returns the end of the text. Nine significant digits tell every float apart.
char* put_general9(char* first, char* last, float value);

// Writes the trace of the tick that the game just ran into text (at least TICK_TEXT_MAX
// bytes), without a terminating NUL, and returns its length.
int format_tick(const GameState& game, char* text);

// Writes the trace of the tick that the game just ran to out.
void write_tick(const GameState& game, std::FILE* out);
