// Reading a script of events (game/events.h): the simulator replays one, the viewer plays
// a recording. One event a line; blank lines and text from "#" on are ignored, but for the
// comments that open a recording: its header (RECORDING_HEADER), and the options it was
// played with (RECORDING_OPTIONS) above its seed.
//
// A recording is held to what the recorder writes, so that a file that is not one, or
// that was cut short, is never taken for a session: its seed comes first, and its last
// line is whole. A file is read as a recording when its first line is the header, or when
// the reader is told to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "game/events.h"
#include "session/session.h"

// Longest line, its comment included.
inline constexpr int MAX_EVENT_LINE = 255;

// What a reader of recordings takes at most, the viewer, the page and the server alike:
// hours of play take a few megabytes, and a larger file is no recording.
inline constexpr std::uint64_t MAX_RECORDING_BYTES = std::uint64_t{64} << 20;

// The most work a script may ask of a reader, counted in ticks: each tick that flies is
// one, and each frame drawn over a crash FRAME_WORK, the 720 draws of its burst. In a
// recording the game wrote every tick flies and every frame is over a crash, so its work
// is the sum of its tick counts and FRAME_WORK for each frame. 20 million ticks are more
// than 66 hours of play.
inline constexpr std::uint64_t FRAME_WORK = 720;
inline constexpr std::uint64_t MAX_SCRIPT_WORK = 20'000'000;

// The first line of a recording names the program and its version between these.
inline constexpr char RECORDING_HEADER_START[] = "# Skarvolt ";
inline constexpr char RECORDING_HEADER_END[] = " recording";
// Whether a line (without its line end) is a recording's first line, of any version.
bool is_recording_header(const char* line);
// A recording that a program flew, not a player (the training environment's), names it
// in this comment above its seed.
inline constexpr char RECORDING_AGENT[] = "# agent: ";
// The options' comment, above the seed.
inline constexpr char RECORDING_OPTIONS[] = "# options: ";
// Where the options change in the middle of a session (the page's panel), a comment says
// so from there on.
inline constexpr char RECORDING_OPTIONS_CHANGED[] = "# options from here: ";
inline constexpr std::size_t RECORDING_OPTIONS_TEXT = 64;
// The ghost raced, above the seed.
inline constexpr char RECORDING_GHOST[] = "# ghost: ";

using ScriptEvent = EventLine;

struct ScriptReader {
    std::FILE* file = nullptr;
    bool recording = false;   // held to a recording's rules (also when the header says so)
    bool seed_chosen = false; // the command line chose the seed: the script may not
    unsigned long line = 0;   // the line read last, from 1
    bool ended = false;
    bool played = false;      // an event has been read
    bool seeded = false;      // a "seed" has been read
    std::uint64_t max_bytes = 0; // what the reader takes at most; 0: no limit
    std::uint64_t bytes = 0;     // what it has taken
    char options[RECORDING_OPTIONS_TEXT] = ""; // the options' comment's text, if any
    bool pending = false;     // an event read with the last one, to give next
    ScriptEvent pending_event{};
    char reason[MAX_EVENT_LINE * 4 + 96] = ""; // why the line read last is no event
};

enum class ScriptRead {
    EVENT, // *event holds the next event
    END,   // the script is over
    BAD,   // line `line` is no event, for reason `reason`
};

// The next event. Recordings made before the pace was an event name it only in their
// options' comments ("# options: --speed 70" above the seed, "# options from here: ..."
// where the page's panel changed it): each is read as the "speed" it names, the full pace
// where it names none, so such a recording plays at the pace it was played at. A "seed"
// may stand at the start of any run: whether a run is in progress is the session's to
// say (session_apply), not the reader's.
ScriptRead read_event(ScriptReader& reader, ScriptEvent* event);

// Opens the recording at path to be read. Only a regular file is a recording: a FIFO or a
// device is never waited on, and one larger than MAX_RECORDING_BYTES is not read at all.
// nullptr, after one line on standard error ("skarvolt: cannot VERB PATH: why"), when it
// cannot be had.
std::FILE* open_recording(const char* path, const char* verb);

// A text in memory (a submitted recording, a ghost a program hands over) opened to be
// read as a file, which the text must outlast; nullptr when the C library cannot.
std::FILE* open_text(std::string_view text);

// The one line that says a recording cannot be used: "skarvolt: cannot VERB PATH: WHY",
// the path escaped.
void say_cannot(const char* verb, const char* path, const char* why);

// Makes the reason of the line read last that the script has asked for more than
// MAX_SCRIPT_WORK by then; the reader reads no more.
void say_too_much_work(ScriptReader& reader);

// Reads a recording to its end and flies each event through session as it is read, so
// that a file the game could not have written is refused by its line (BAD, with
// reader.reason): a line that is no recording's, one that asks for more than
// MAX_SCRIPT_WORK by then (the ticks it names, FRAME_WORK for a frame), or an event that
// cannot stand where it does. flown(event, applied) is told of each event flown and says
// whether to fly the next: once it says no, the rest is read and counted, not flown.
template <typename Flown>
ScriptRead fly_as_read(ScriptReader& reader, Session& session, Flown&& flown)
{
    std::uint64_t work = 0;
    bool flying = true;
    ScriptEvent event;
    ScriptRead read;
    while ((read = read_event(reader, &event)) == ScriptRead::EVENT) {
        const std::uint64_t asked = event.event == Event::TICK    ? event.number
                                    : event.event == Event::FRAME ? FRAME_WORK
                                                                  : 0;
        if (asked > MAX_SCRIPT_WORK - work) {
            say_too_much_work(reader);
            return ScriptRead::BAD;
        }
        work += asked;
        if (!flying)
            continue;
        const Applied applied = session_apply(session, event);
        if (applied.refused != nullptr) {
            std::snprintf(reader.reason, sizeof reader.reason, "%s", applied.refused);
            return ScriptRead::BAD;
        }
        flying = flown(event, applied);
    }
    return read;
}

// The pace that options as the recorder writes them ("--toggle --speed 70") name, in
// percent; the full pace when they name none that the game could be played at.
int options_speed(const char* options);

// The one line that says why a script was refused: "PROGRAM: NAME: line N: REASON", the
// name escaped.
void report_bad_line(const char* program, const char* name, const ScriptReader& reader);

// Writes text to stream with every byte that a terminal could take as a command, and every
// byte outside printable ASCII, written as an escape (\t, \r, \n, \\ or \xHH), so that
// messages never hand a script's bytes to the terminal.
void put_escaped(const char* text, std::FILE* stream);
