// The application shell: what the game needs of the desktop. The command line, the random
// seed, the window's title, and the GLUT callbacks that turn the window's events into the
// game's own verbs (run.h), keep its tick timer, store its best score and draw each frame
// (render/). The browser's page runs the same shell.
#pragma once

#include <cstdint>
#include <optional>

#include "app/controls.h"
#include "game/state.h"
#include "session/ghost.h"

// True when an argument after the program name asks for the version (the whole argument
// is "-v" or "--version").
bool wants_version(int argc, char** argv);

// Seeds the game's random sequence from the system's random device, or with 1 when it cannot be read.
// Returns the seed as the sequence took it, narrowed to 32 bits.
std::uint32_t seed_random();

// Seeds the window's game with seed (narrowed to 32 bits, as the random device's is).
void seed_game(std::uint64_t seed);

// Every run of the session starts from seed (skarvolt --seed N): the first from the
// game's seeding, each later one seeded again at the press that starts it, which a
// recording notes as "seed N" before it. nullopt: each run flies on from the last.
void set_run_seed(std::optional<std::uint32_t> seed);

// A new game in the window, all zero, at the pace played, racing no ghost: seeded next
// (seed_game or seed_random), then open_title_screen. best_known() is the best the game
// showed.
void new_game();
std::uint32_t best_known();

// The window title: the last component of the program's name, or the game's name when
// the program's is not known.
const char* window_title(int argc, char** argv);

// The title screen (start_game), with the best score loaded from the store. Called once,
// after the game is seeded and its window open. From then on, leaving the program (a
// quit key, the window closed) saves a best score that its crash could not save, and
// nothing else. known_best: a best known already, from a game played before in the same
// page, which the overlay shows if the store holds less.
void open_title_screen(std::uint32_t known_best = 0);

// Saves the window's game's best if its crash could not; nothing otherwise.
void save_pending_best();

// Takes the player's options out of the command line (take_control_options), plays by
// them and has a recording name them. False, after one line on standard error, when one
// cannot be followed.
bool take_controls(int* argc, char** argv);

// How the window's player plays from now on (app/controls.h): toggled or held, the pace,
// the keys. Until it is called, the button is held, at full pace, on the mouse alone.
void use_controls(const Controls& controls);

// The window's player races a ghost from now on (skarvolt --ghost): each run of the
// player's starts the ghost's run again beside it, the ghost's trail is drawn under the
// player's, the title tells the race, and g hides and shows the ghost. The run's inputs
// must last as long as the game.
void race(const GhostRun& run);

// GLUT mouse callback: every button of the mouse is the game's one button.
void on_mouse(int button, int button_state, int x, int y);

// GLUT timer callback: the ticks that are due. Arms the next one unless the run crashed,
// saves the best score if it did, and asks for a redisplay either way. The ticks run
// here, in this one callback: GLUT may well draw a frame before it runs a timer armed
// from inside another.
void on_tick(int value);

// Draws a frame of the window's game and shows it. A frame over a crash takes its burst
// from the game's random sequence (take_burst), and the first one lets the next run start.
void on_display();

// GLUT keyboard callbacks: q, Q and Esc quit; g and G hide and show a ghost raced; with
// --keys every other key, those GLUT reports as special (arrows, function keys) included,
// is the button too.
void on_key(unsigned char key, int x, int y);
void on_key_up(unsigned char key, int x, int y);
void on_special(int key, int x, int y);
void on_special_up(int key, int x, int y);
