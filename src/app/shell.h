// The application shell: what the game needs of the desktop. The command line, the random
// seed, the window's title, and the GLUT callbacks that turn the window's events into the
// game's own verbs (run.h) and draw each frame (render/).
#pragma once

#include <cstdint>

inline constexpr int WINDOW_WIDTH = 400;
inline constexpr int WINDOW_HEIGHT = 300;

// True when an argument after the program name asks for the version (the whole argument
// is "-v" or "--version").
bool wants_version(int argc, char** argv);

// Seeds the game's random sequence from the system's random device, or with 1 when it cannot be read.
// Returns the seed as the sequence took it, narrowed to 32 bits.
std::uint32_t seed_random();

// The window title: the last component of the program's name, or the game's name when
// the program's is not known.
const char* window_title(int argc, char** argv);

// GLUT mouse callback: every button of the mouse is the game's one button.
void on_mouse(int button, int button_state, int x, int y);

void on_display();
void on_key(unsigned char key, int x, int y);
void on_reshape(int width, int height);
