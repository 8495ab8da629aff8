// A recording stand-in for the GL and GLUT calls the game's drawing and shell make, for the
// store and for the run's clock. Tests link the game's own sources against it, so they
// can fire the shell's ticks one at a time and read back every call, vertex and colour of
// a frame. Which calls the game
// may make, and where a new one must be added, is told in src/CMakeLists.txt.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "game/state.h"

namespace fake {

struct Call {
    std::string name;         // "glVertex2f", "glutTimerFunc", ...
    std::vector<double> args; // numeric arguments as given
};

struct Vertex {
    float x, y;                    // as given to glVertex2f
    double sx, sy;                 // after the current modelview matrix
    std::array<float, 3> color;    // current colour at the vertex
    unsigned primitive;            // GL_QUADS or GL_LINES of the enclosing glBegin
};

struct Timer {
    unsigned ms;
    void (*callback)(int);
    int value;
};

// Everything recorded since the last reset().
extern std::vector<Call> calls;
extern std::vector<Vertex> vertices;
extern std::vector<Timer> timers; // armed and not yet fired
extern int redisplays;
extern int swaps;
extern int max_matrix_depth;      // deepest the modelview stack went

// Calls of the store (load_best_score and save_best_score), and the state at the latest
// one (-1: none).
extern int sync_calls;
extern int state_at_sync;
// What the fake store holds (0 after reset), and whether its saves fail (as a file held
// by a stuck game's lock does).
extern std::uint32_t stored_best;
extern bool saves_fail;

// While false, GL and GLUT calls keep the matrix stack, the colour, the timers and the
// counters, but add nothing to calls or vertices, so a frame can run without the fake
// itself touching the heap (the stack has room for the 32 matrices GL guarantees).
// reset() turns recording back on.
extern bool recording;

// Forgets everything and resets the matrix stack to one identity matrix.
void reset();

// reset(), and the game back to all zero (its sequence that of seed 1).
void reset_with_game(Game& game);

// Column-major modelview matrix on top of the stack, and the stack's depth (1 = bottom).
std::array<double, 16> matrix();
int matrix_depth();

// The run's clock that the shell reads (clock_now_us); reset() sets it to 0. Tests may move
// it at will, to make a tick fire late.
extern Micros clock_us;

// Fires the oldest armed timer, the clock moved on by the delay it was armed with; false
// when none is armed.
bool fire_timer();

// Names of the recorded calls, in order; count(name): how many calls had that name.
std::vector<std::string> names();
int count(const std::string& name);

// Advance width in pixels that the fake gives a glyph: not the real font's, but
// different for different characters, so a box can be checked against the sum.
int glyph_width(int character);

} // namespace fake
