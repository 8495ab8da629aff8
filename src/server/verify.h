// The server's judge: a submitted recording is read with the game's own reader and flown
// with the game's own rules, and only what it flew counts. Nothing the client says about
// a score is read; the header's comments say only how a run was played (a program, a
// toggled button, a slower pace), which can only lower the category it is filed under.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One run that started from a seed line, with the sequence exactly as that seed gives it,
// and crashed.
struct FlownRun {
    std::uint64_t seed = 0;
    std::uint32_t score = 0;  // ticks flown, as the game counts them
    double flight_us = 0;     // the least real time it can have taken: each tick 12 ms at
                              // full pace, longer at a slower one
    int slowest_speed = 100;  // percent of the full pace, the slowest it was played at
    bool toggle = false;      // played with the button toggled
    bool agent = false;       // the recording says a program flew it
    std::string recording;    // a recording of this run alone, which flies to the same score
};

enum class Verdict {
    FLOWN,            // runs holds every run that counts (perhaps none)
    NOT_A_RECORDING,  // reason: "line N: why", as the reader says it
    TOO_LONG,         // more work than max_ticks: refused before it is flown to the end
};

struct Flight {
    Verdict verdict = Verdict::FLOWN;
    std::string reason;
    std::vector<FlownRun> runs;
    bool last_run_entered = false; // the last run that crashed is runs.back()
};

// Flies a recording held in memory. At most max_ticks ticks are flown in all, a frame over
// a crash counting as the 360 ticks whose random draws its burst takes.
Flight fly_recording(std::string_view text, std::uint64_t max_ticks);

// The category a run is filed under: "agent", "assisted" or "standard".
const char* run_category(const FlownRun& run);
