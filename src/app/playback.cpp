#include "app/playback.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
void settle(Player& player)
{
    Playhead& head = player.head;
    const std::vector<ScriptEvent>& events = player.session->events;
    for (; head.next < events.size(); ++head.next, head.begun = false) {
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
        apply(player, event);
    }
    if (player.last_step < 0)
        player.last_step = head.step;
}

void keep_snapshot(Player& player)
{
    const Playhead& head = player.head;
    if (head.step % SNAPSHOT_STEPS == 0
        && player.snapshots.size() == static_cast<std::size_t>(head.step / SNAPSHOT_STEPS))
        player.snapshots.push_back(head);
}

} // namespace

bool load_session(const char* path, Session* session)
{
    std::FILE* file = open_recording(path, "play");
    if (file == nullptr)
        return false;
    ScriptReader reader{.file = file, .recording = true};
    *session = Session{};
    ScriptEvent event;
    ScriptRead read;
    while ((read = read_event(reader, &event)) == ScriptRead::EVENT)
        session->events.push_back(event);
    std::fclose(file);
    if (read == ScriptRead::BAD) {
        report_bad_line("skarvolt", path, reader);
        return false;
    }
    session->speed = recorded_speed(reader.options);
    return true;
}

void player_start(Player& player, const Session& session)
{
    player = Player{};
    player.session = &session;
    Playhead& head = player.head;
    head.game.win_width = WINDOW_WIDTH;
    head.game.win_height = WINDOW_HEIGHT;
    start_game(head.game);
    settle(player);
    keep_snapshot(player);
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
    settle(player);
    keep_snapshot(player);
    return true;
}

void player_seek(Player& player, std::int64_t step)
{
    step = std::max<std::int64_t>(step, 0);
    if (player.last_step >= 0)
        step = std::min(step, player.last_step);
    // The nearest copy at or before the step, unless the playhead stands nearer.
    const std::size_t kept = std::min(static_cast<std::size_t>(step / SNAPSHOT_STEPS),
                                      player.snapshots.size() - 1);
    if (step < player.head.step || player.snapshots[kept].step > player.head.step)
        player.head = player.snapshots[kept];
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

void player_previous_run(Player& player)
{
    const std::int64_t now = player.head.step;
    const auto at = std::lower_bound(player.run_starts.begin(), player.run_starts.end(), now);
    player_seek(player, at == player.run_starts.begin() ? 0 : *(at - 1));
}

Game shown_game(const Playhead& head)
{
    Game shown = head.game;
    if ((head.game.state & CRASHED) && head.burst_shown)
        shown.random = head.burst;
    return shown;
}

void viewer_title(const char* name, const Playhead& head, bool paused, bool ended, int rate,
                  char* text, int size)
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
        std::snprintf(text, size, "%s: run %d, %s", name, head.run, pace);
}
