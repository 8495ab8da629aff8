#include "app/playback.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/controls.h"
#include "app/shell.h"
#include "game/best.h"
#include "game/random.h"
#include "game/run.h"
#include "render/scene.h"

namespace {

// The pace the options' comment names ("--toggle --speed 70"); the full one when it names
// none that the game could have been played at.
int recorded_speed(const char* options)
{
    char text[RECORDING_OPTIONS_TEXT];
    std::snprintf(text, sizeof text, "%s", options);
    bool speed_follows = false;
    for (char* word = std::strtok(text, " \t"); word != nullptr;
         word = std::strtok(nullptr, " \t")) {
        if (speed_follows) {
            char* end = nullptr;
            const long percent = std::strtol(word, &end, 10);
            if (*end == '\0' && percent >= SLOWEST_SPEED && percent <= FULL_SPEED)
                return static_cast<int>(percent);
        }
        speed_follows = std::strcmp(word, "--speed") == 0;
    }
    return FULL_SPEED;
}

constexpr char TOO_LARGE[] = "larger than 64 MiB, more than any recording holds";
static_assert(MAX_RECORDING_BYTES == std::uint64_t{64} << 20, "TOO_LARGE says its size");
static_assert(FRAME_WORK == 2 * BURST_RAYS, "a frame's work is the draws of its burst");

// The status of a recording that cannot be read, as of one too large for the memory.
constexpr int EXIT_OUT_OF_MEMORY = 2;

bool cannot_read(const char* path, const char* why)
{
    std::fprintf(stderr, "skarvolt: cannot play ");
    put_escaped(path, stderr);
    std::fprintf(stderr, ": %s\n", why);
    return false;
}

void fire_tick(Playhead& head)
{
    // As the simulator flies it: the clock moves on by the delay the tick was armed with,
    // so every tick comes exactly on time. The best is this session's own: the viewer
    // stores nothing.
    if (tick_timed(head.game, &head.clock, &head.tick_delay_ms).crashed) {
        head.game.high_score = merge_best(head.game.score, head.game.high_score).best;
        head.burst_shown = false;
    }
}

// Plays an event that takes no time.
void apply(Player& player, const ScriptEvent& event)
{
    Playhead& head = player.head;
    switch (event.event) {
    case Event::PRESS:
        if (thrust_on_timed(head.game, head.clock, &head.tick_delay_ms)) {
            ++head.run;
            if (player.run_starts.empty() || player.run_starts.back() < head.step)
                player.run_starts.push_back(head.step);
        }
        break;
    case Event::RELEASE:
        thrust_off(head.game);
        break;
    case Event::FRAME:
        // The frame drew the crash's burst from the sequence as it stood, and took its
        // draws; the first one lets the next run start.
        if (head.game.state & CRASHED) {
            head.work += FRAME_WORK;
            head.burst = head.game.random;
            head.burst_shown = true;
            take_burst_draws(head.game.random);
            arm_after_crash(head.game);
        }
        break;
    case Event::SEED:
        random_seed(&head.game.random, static_cast<std::uint32_t>(event.number));
        break;
    case Event::BEST:
        head.game.high_score = static_cast<std::uint32_t>(event.number);
        break;
    case Event::TICK:
        break;
    }
}

// Plays the events that take no time, up to the next one that takes a step: a tick of a
// run in progress, or a step of the pause before a run.
void keep_snapshot(Player& player);

void settle(Player& player)
{
    Playhead& head = player.head;
    const std::vector<ScriptEvent>& events = player.session->events;
    for (; head.next < events.size(); ++head.next, head.begun = false) {
        // Between the events of one step too: a step may be followed by a great many
        // frames, and a jump must not fly them all again.
        keep_snapshot(player);
        const ScriptEvent& event = events[head.next];
        const bool starts_run = event.event == Event::PRESS && (head.game.state & ARMED);
        if (event.event == Event::TICK || starts_run) {
            if (!head.begun) {
                head.begun = true;
                head.left = starts_run ? HOLD_STEPS : event.number;
            }
            // Ticks after a crash pass with nothing to do, as in the game.
            const bool flies = starts_run || (head.game.state & RUNNING);
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
    if (!player.keeps_copies || head.work < player.snapshots.back().work + SNAPSHOT_WORK)
        return;
    player.snapshots.push_back(head);
}

// The recording being read, for the one line said when the memory runs out.
const char* reading = nullptr;

// What flies a recording once as it is read, to count its runs. Kept with the program, as
// everything the game keeps: a local with a destructor would cost the programs a
// dependency on the unwinding library.
Player counter;

// Memory that cannot be had ends the viewer with one line, not an abort. (Said here
// rather than caught: a handler would cost the programs a dependency on the unwinding
// library.)
[[noreturn]] void out_of_memory()
{
    if (reading != nullptr)
        cannot_read(reading, "not enough memory to hold it");
    else
        std::fputs("skarvolt: not enough memory to go on watching\n", stderr);
    std::exit(EXIT_OUT_OF_MEMORY);
}

// Reads the events of a recording, and adds up the work it asks for as it goes: a file
// that asks for more is refused at the line that does.
bool read_events(const char* path, std::FILE* file, Session* session)
{
    ScriptReader reader{.file = file, .recording = true, .max_bytes = MAX_RECORDING_BYTES};
    std::uint64_t work = 0;
    ScriptEvent event;
    ScriptRead read;
    while ((read = read_event(reader, &event)) == ScriptRead::EVENT) {
        const std::uint64_t asked = event.event == Event::TICK    ? event.number
                                    : event.event == Event::FRAME ? FRAME_WORK
                                                                  : 0;
        if (asked > MAX_SCRIPT_WORK - work) {
            say_too_much_work(reader);
            report_bad_line("skarvolt", path, reader);
            return false;
        }
        work += asked;
        session->events.push_back(event);
    }
    if (read == ScriptRead::BAD) {
        report_bad_line("skarvolt", path, reader);
        return false;
    }
    session->speed = recorded_speed(reader.options);
    return true;
}

} // namespace} // namespace

bool load_session(const char* path, Session* session)
{
    // A FIFO or a device is never waited on: only a regular file is a recording.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return cannot_read(path, std::strerror(errno));
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return cannot_read(path, "not a regular file");
    }
    if (static_cast<std::uint64_t>(st.st_size) > MAX_RECORDING_BYTES) {
        close(fd);
        return cannot_read(path, TOO_LARGE);
    }
    std::FILE* file = fdopen(fd, "r");
    if (file == nullptr) {
        close(fd);
        return cannot_read(path, std::strerror(errno));
    }
    *session = Session{};
    std::set_new_handler(out_of_memory);
    reading = path;
    const bool read = read_events(path, file, session);
    if (read) {
        player_start(counter, *session, false);
        while (player_step(counter)) {
        }
        session->runs = counter.head.run;
    }
    reading = nullptr;
    std::fclose(file);
    return read;
}

void player_start(Player& player, const Session& session, bool keep_copies)
{
    player = Player{};
    player.session = &session;
    Playhead& head = player.head;
    head.game.win_width = WINDOW_WIDTH;
    head.game.win_height = WINDOW_HEIGHT;
    start_game(head.game);
    // The first copy: every jump back starts from it or a later one.
    player.snapshots.push_back(head);
    player.keeps_copies = keep_copies;
    settle(player);
}

bool player_step(Player& player)
{
    Playhead& head = player.head;
    const std::vector<ScriptEvent>& events = player.session->events;
    if (head.next >= events.size())
        return false;
    if (events[head.next].event == Event::TICK)
        fire_tick(head);
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

Game shown_game(const Playhead& head)
{
    Game shown = head.game;
    if ((head.game.state & CRASHED) && head.burst_shown)
        shown.random = head.burst;
    return shown;
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
