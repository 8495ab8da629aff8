#include "app/playback.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "game/run.h"
#include "render/scene.h"
#include "session/session.h"

namespace {

static_assert(FRAME_WORK == 2 * BURST_RAYS, "a frame's work is the draws of its burst");

// The status of a recording that cannot be read, as of one too large for the memory.
constexpr int EXIT_OUT_OF_MEMORY = 2;

// Plays an event that takes no time.
void apply(Player& player, const ScriptEvent& event)
{
    Playhead& head = player.head;
    // A frame over a crash draws its burst.
    if (event.event == Event::FRAME && (head.session.game.state & CRASHED))
        head.work += FRAME_WORK;
    if (session_apply(head.session, event).started) {
        ++head.run;
        if (player.run_starts.empty() || player.run_starts.back() < head.step)
            player.run_starts.push_back(head.step);
    }
}

void keep_snapshot(Player& player);

// Plays the events that take no time, up to the next one that takes a step: a tick of a
// run in progress, or a step of the pause before a run.
void settle(Player& player)
{
    Playhead& head = player.head;
    const std::vector<ScriptEvent>& events = player.session->events;
    for (; head.next < events.size(); ++head.next, head.begun = false) {
        // Between the events of one step too: a step may be followed by a great many
        // frames, and a jump must not fly them all again.
        keep_snapshot(player);
        const ScriptEvent& event = events[head.next];
        const Game& game = head.session.game;
        const bool starts_run = event.event == Event::PRESS && (game.state & ARMED);
        if (event.event == Event::TICK || starts_run) {
            if (!head.begun) {
                head.begun = true;
                head.left = starts_run ? HOLD_STEPS : event.number;
            }
            // Ticks after a crash pass with nothing to do, as in the game.
            const bool flies = starts_run || (game.state & RUNNING);
            if (head.left > 0 && flies)
                return;
            if (event.event == Event::TICK)
                continue;
        }
        ++head.work;
        apply(player, event);
    }
    if (player.last_step < 0)
        player.last_step = head.step;
}

void keep_snapshot(Player& player)
{
    const Playhead& head = player.head;
    if (head.work >= player.snapshots.back().work + SNAPSHOT_WORK)
        player.snapshots.push_back(head);
}

// The recording being read, for the one line said when the memory runs out.
const char* reading = nullptr;

// Memory that cannot be had ends the viewer with one line, not an abort. (Said here
// rather than caught: the copies kept for jumps are made while the recording plays, in
// the window's callbacks, long after anything could catch a failure to make one.)
[[noreturn]] void out_of_memory()
{
    if (reading != nullptr)
        say_cannot("play", reading, "not enough memory to hold it");
    else
        std::fputs("skarvolt: not enough memory to go on watching\n", stderr);
    std::exit(EXIT_OUT_OF_MEMORY);
}

// Reads the events of a recording and flies them as they are read, so that an event that
// cannot stand where it does is refused by its line; adds up the work the file asks for,
// refusing it at the line that asks for more than any recording, and counts the runs.
bool read_events(const char* path, std::FILE* file, RecordedSession* session)
{
    ScriptReader reader{.file = file, .recording = true, .max_bytes = MAX_RECORDING_BYTES};
    Session flown;
    start_game(flown.game);
    const ScriptRead read =
        fly_as_read(reader, flown, [session](const ScriptEvent& event, const Applied& applied) {
            session->runs += applied.started ? 1 : 0;
            session->events.push_back(event);
            return true;
        });
    if (read == ScriptRead::BAD) {
        report_bad_line("skarvolt", path, reader);
        return false;
    }
    return true;
}

} // namespace

bool load_session(const char* path, RecordedSession* session)
{
    std::FILE* file = open_recording(path, "play");
    if (file == nullptr)
        return false;
    *session = RecordedSession{};
    std::set_new_handler(out_of_memory);
    reading = path;
    const bool read = read_events(path, file, session);
    reading = nullptr;
    std::fclose(file);
    return read;
}

void player_start(Player& player, const RecordedSession& session)
{
    player = Player{};
    player.session = &session;
    start_game(player.head.session.game);
    // The first copy: every jump back starts from it or a later one.
    player.snapshots.push_back(player.head);
    settle(player);
}

bool player_step(Player& player)
{
    Playhead& head = player.head;
    const std::vector<ScriptEvent>& events = player.session->events;
    if (head.next >= events.size())
        return false;
    if (events[head.next].event == Event::TICK)
        session_apply(head.session, {Event::TICK, 1});
    --head.left;
    ++head.step;
    ++head.work;
    settle(player);
    return true;
}

void player_seek(Player& player, std::int64_t step)
{
    step = std::max<std::int64_t>(step, 0);
    if (player.last_step >= 0)
        step = std::min(step, player.last_step);
    // The furthest copy at or before the step, unless the playhead stands further on. A
    // copy kept between the events of a step settles them first.
    const auto after = std::upper_bound(
        player.snapshots.begin(), player.snapshots.end(), step,
        [](std::int64_t wanted, const Playhead& copy) { return wanted < copy.step; });
    const Playhead& kept = *(after - 1);
    if (step < player.head.step || kept.work > player.head.work) {
        player.head = kept;
        settle(player);
    }
    while (player.head.step < step && player_step(player)) {
    }
}

void player_next_run(Player& player)
{
    const std::int64_t now = player.head.step;
    const auto later = std::upper_bound(player.run_starts.begin(), player.run_starts.end(), now);
    if (later != player.run_starts.end()) {
        player_seek(player, *later);
        return;
    }
    // Not flown that far yet: on until a run starts, or the session ends.
    const int run = player.head.run;
    while (player.head.run == run && player_step(player)) {
    }
}

void player_previous_run(Player& player, Micros now_us)
{
    const bool again =
        player.last_previous_run >= 0 && now_us - player.last_previous_run < AGAIN_US;
    player.last_previous_run = now_us;
    const std::int64_t now = player.head.step;
    const std::vector<std::int64_t>& starts = player.run_starts;
    // The run in progress: the last to start at or before the playhead.
    auto run = std::upper_bound(starts.begin(), starts.end(), now);
    if (run == starts.begin()) {
        player_seek(player, 0);
        return;
    }
    --run;
    if (again || now - *run < SECOND_STEPS) {
        player_seek(player, run == starts.begin() ? 0 : *(run - 1));
        return;
    }
    player_seek(player, *run);
}

void viewer_title(const char* name, const Playhead& head, int runs, bool paused, bool ended,
                  int rate, char* text, int size)
{
    char pace[16];
    if (paused)
        std::snprintf(pace, sizeof pace, "paused");
    else if (ended)
        std::snprintf(pace, sizeof pace, "ended");
    else if (rate < NORMAL_RATE)
        std::snprintf(pace, sizeof pace, "1/%dx", NORMAL_RATE / rate);
    else
        std::snprintf(pace, sizeof pace, "%dx", rate / NORMAL_RATE);
    if (head.run == 0)
        std::snprintf(text, size, "%s: before the first run, %s", name, pace);
    else
        std::snprintf(text, size, "%s: run %d of %d, %s", name, head.run, runs, pace);
}
