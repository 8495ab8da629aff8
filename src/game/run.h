// Run control and the flight tick.
#pragma once

// GLUT mouse callback: steers during a run, starts a run when armed.
void on_mouse(int button, int button_state, int x, int y);

// Clears the tunnel and the trail, sets RUNNING and arms the first tick.
void start_run();

// GLUT timer callback: one step of flight, tunnel generation and the crash tests.
void on_tick(int value);

// True when the ship, at height y, has crashed on the current tick.
bool ship_crashed(float y);
