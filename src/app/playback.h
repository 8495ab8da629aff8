// Watching a recording (skarvolt --play FILE): the session it holds flown again through
// the game's own rules, tick by tick, with the pictures the player saw. Nothing here
// draws or keeps time: the viewer asks for the game at a point of the session and draws
// it.
//
// The session's time is counted in steps of one tick. A tick of a run is a step; so is
// each step of the pause that the viewer puts before every run (HOLD_STEPS), since the
// recording keeps no time between runs: the title screen, or the last crash with its
// burst, stays that long before the run starts.
//
// A recorded frame over a crash drew its burst from the game's random sequence, and the
// session after it counts on those draws; so the frames the recording holds take them
// here, and every picture the viewer draws for itself reads the burst the last one took
// (session_burst). However often the window is redrawn, the session flies on exactly as
// it was played.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/script.h"
#include "game/state.h"
#include "session/session.h"

// About a second, at the game's pace.
inline constexpr std::int64_t HOLD_STEPS = 84;
// A second of play, in steps.
inline constexpr std::int64_t SECOND_STEPS = 1000 / TICK_MS;
// A copy of the playhead is kept each time the flight has done this much more work, so
// that a jump re-flies at most this much: each step counts one, as does each event, and
// a frame over a crash FRAME_WORK (720) for the draws of its burst. A session at the
// largest work a recording may ask keeps some thousands of copies of a few kilobytes.
inline constexpr std::uint64_t SNAPSHOT_WORK = 4000;

// The viewer's speed in quarters of the session's pace: 1 (a quarter) to 64 (16 times).
inline constexpr int SLOWEST_RATE = 1;
inline constexpr int NORMAL_RATE = 4;
inline constexpr int FASTEST_RATE = 64;
// What Right and Left jump: 5 seconds of play.
inline constexpr std::int64_t JUMP_STEPS = 5000 / TICK_MS;

// A recording read whole.
struct RecordedSession {
    std::vector<ScriptEvent> events;
    int runs = 0; // how many runs it holds
};

// Reads the recording at path, and flies it once to make sure that it can be played (a
// "seed" in the middle of a run cannot) and to count its runs. False, after one line on
// standard error naming the file (and the line, for a line that is no recording's), when
// it cannot be read, is no recording, is larger than MAX_RECORDING_BYTES or asks for more
// than MAX_SCRIPT_WORK. From then on, memory that runs out (a recording too large for it,
// or the copies kept for jumps) ends the program with one line and status 2.
bool load_session(const char* path, RecordedSession* session);

// Where the session stands: the session as it was after `step` steps.
struct Playhead {
    Session session;              // the game, its clock, its best, its pace and its burst
    std::size_t next = 0;         // the event to come
    bool begun = false;           // the steps of that event (ticks, or the pause before a
    std::uint64_t left = 0;       // run) have begun; how many are left
    std::int64_t step = 0;
    int run = 0;                  // runs started so far
    std::uint64_t work = 0;       // what flying this far took (see SNAPSHOT_WORK)
};

struct Player {
    const RecordedSession* session = nullptr;
    Playhead head;
    std::vector<Playhead> snapshots;  // the start, then at every SNAPSHOT_WORK of work, as far
                                      // as flown; a copy may stand between the events of a step
    Micros last_previous_run = -1;    // real time of the last player_previous_run; -1: none
    std::vector<std::int64_t> run_starts; // the step at which each run started, as far as flown
    std::int64_t last_step = -1;      // the session's last step, once it has been reached
};

// The session's start: the game as it opens, seeded as the recording says.
void player_start(Player& player, const RecordedSession& session);

// One step on. False, and nothing done, at the end of the session.
bool player_step(Player& player);

// To step `step` of the session, or its end if it is shorter; from the nearest copy kept
// on the way, or by flying on from where it stands.
void player_seek(Player& player, std::int64_t step);

// The start of the next run after the playhead, or the end of the session when none
// follows; the start of the run in progress, or of the run before (the session's start
// before the first run) when the playhead stands within the run's first second of play
// or when the last call came less than AGAIN_US before `now` (real time): a key pressed
// again at once goes on back, as media players do.
inline constexpr Micros AGAIN_US = 1'000'000;
void player_next_run(Player& player);
void player_previous_run(Player& player, Micros now);

// The title: the file's name, the run of how many, and paused, ended or the speed (paused
// first: the player paused it).
// "session.rec: run 2 of 9, paused"; "session.rec: run 3 of 9, 1/4x".
void viewer_title(const char* name, const Playhead& head, int runs, bool paused, bool ended,
                  int rate, char* text, int size);
