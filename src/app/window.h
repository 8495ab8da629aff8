// Opening the game's window: the one start-up step that talks to the window system.
#pragma once

// Initialises GLUT with the command line (it takes out the options it knows), opens the
// game's window with the shell's callbacks and sets its clear colour. The browser's page
// opens its canvas through the same steps.
void open_window(int* argc, char** argv);

// Gives the open window back to the game: the shell's callbacks, as open_window sets them
// (the browser's page, after it has shown a recording in its canvas).
void use_shell_callbacks();
