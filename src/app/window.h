// The game's window: the one start-up step that talks to the window system, the window's
// size as the window system last gave it, and what the command line may ask of it.
#pragma once

// Initialises GLUT with the command line (it takes out the options it knows), opens the
// game's window with the shell's callbacks and sets its clear colour. The browser's page
// opens its canvas through the same steps.
void open_window(int* argc, char** argv);

// Gives the open window back to the game: the shell's callbacks, as open_window sets them
// (the browser's page, after it has shown a recording in its canvas).
void use_shell_callbacks();

struct WindowSize {
    int width;
    int height;
};

// The window's size in pixels, as last reshaped; the size it opens with until then.
WindowSize window_size();

// GLUT reshape callback: the window's new size, and the whole window the viewport.
void on_reshape(int width, int height);

// A value of -geometry as the X toolkits write it, [=][WIDTH][xHEIGHT][{+-}X{+-}Y], with
// every size one the window can take.
bool good_geometry(const char* text);

// GLUT takes -geometry as it is and passes a size it cannot have to the window system and
// the GL driver, which end the game with a protocol error or a crash; so it is checked
// first. False, after one line on standard error, when it is not good.
bool geometry_options_good(int argc, char** argv);

// Another program may destroy the game's window (xdotool windowclose): the game then ends
// as when the window is closed. Called once the window is open (the desktop's, on X).
void watch_window();
