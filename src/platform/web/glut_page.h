// What the page's GLUT offers the page's game beyond GLUT itself.
#pragma once

// Lets a game that has ended (a quit key) run again in its canvas: its events reach it
// again, and it is reshaped to the canvas's size and drawn as a window just shown is.
// Its timers stay cancelled: the game arms its own.
void glut_resume();

// Stops the game's events and timers, as a quit key does (the page calls it then too).
extern "C" void glut_quit();
