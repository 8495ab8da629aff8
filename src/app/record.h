// Recording a session (skarvolt --record FILE) in the simulator's script language, so
// that skarvolt-sim replays every run of it exactly and skarvolt --play shows it again: a
// line naming the game and its version, the seed, then the presses and releases as they
// reached the game, the ticks that ran between them, and the frames drawn while a crash
// shows (each draws a burst from the random generator, and the first lets the next run
// start). Every one of these does nothing while no recording is made.
#pragma once

#include <cstddef>
#include <cstdint>

#include "game/events.h"

// Exit status of a --record that cannot be followed.
inline constexpr int EXIT_BAD_RECORD = 2;

// Takes "--record FILE" or "--record=FILE" out of the arguments (GLUT must not see it)
// and sets *path to FILE, or to nullptr when there is none. False, after one line on
// standard error, when --record has no file or comes twice.
bool take_record_option(int* argc, char** argv, const char** path);

// The same for any option that names a file ("--play FILE").
bool take_file_option(int* argc, char** argv, const char* option, const char** path);

// Opens, or creates, the file at path for the recording, and locks it for the session: a
// file that another game records to is refused. A file that was there is emptied when the
// first line is written, and only an empty file or an older recording (its first line the
// header this game writes) is taken. Never blocks, never follows a link, never opens what
// is not a regular file, and never takes the high-score file (score_path, when there is
// one, whatever name leads to it). False, after one line on standard error naming the
// file, when it cannot be had. The path is kept, not copied: it must last until
// finish_recording (the command line's does).
bool start_recording(const char* path, const char* score_path = nullptr);

// The options the session is played with, as the command line gives them ("--toggle
// --speed 70 --keys"): the recording names them in a comment line above its seed, so a
// score played slower or toggled is never taken for one held at full speed. Copied; at
// most RECORD_OPTIONS_SIZE - 1 characters are kept. Nothing is written for "".
inline constexpr std::size_t RECORD_OPTIONS_SIZE = 40;
void record_options(const char* options);

// The ghost the session races (skarvolt --ghost), named in a comment line above the seed,
// "# ghost: run of seed N, score S": it changes nothing of how the session flies.
void record_ghost(std::uint32_t seed, std::uint32_t score);
// A session from now on races no ghost (the page's game after a race): nothing is named.
void record_no_ghost();

// The seed as the random generator took it: the recording's first event, below its
// header and the options' comment if there is one.
void record_seed(std::uint32_t seed);

// A run that starts from the seed again (skarvolt --seed N): "seed N" before its press.
void record_seed_again(std::uint32_t seed);

// The pace the session is played at from now on, in percent: written as "speed N" after
// the seed when it is not the full one, and where it changes later (the page's panel).
void record_speed(int percent);

// Records a press or release (Event::PRESS or Event::RELEASE) and then plays it through
// the game's verb, so that the ticks it ends and the run it may start are counted on the
// right side.
void record_input(Event event, void (*verb)());

// Records the best score that the store gave the game, when it is more than the session's
// own runs make it: the overlay shows it, so a viewer must too.
void record_best(std::uint32_t best);

// Records a frame drawn while a crash shows, and writes everything out: a game that is
// killed later loses at most what came after this crash.
void record_crash_frame();

// Writes out what the recording holds so far, the ticks of a run in progress included,
// and records on: the browser's page offers the file while the session goes on.
void flush_recording();

// Writes out the rest, the ticks of a run in progress included, and closes the file.
// Called on the way out; a file that never got its first line is removed again. The file
// always ends on a whole line: a write that fails (a full disk) ends the recording, after
// one line on standard error, with the file cut back to its last whole line.
void finish_recording();

// From now on SIGINT, SIGTERM and SIGHUP finish the recording before they end the game
// (by that signal, as without a recording). Signals that the game was started to ignore
// stay ignored.
void finish_recording_on_quit_signals();
