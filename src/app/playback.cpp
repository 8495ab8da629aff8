#include "app/playback.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "game/run.h"
#include "session/session.h"

namespace {

bool cannot_read(const char* path, const char* why)
{
    std::fprintf(stderr, "skarvolt: cannot play ");
    put_escaped(path, stderr);
    std::fprintf(stderr, ": %s\n", why);
    return false;
}

// Plays an event that takes no time.
void apply(Player& player, const ScriptEvent& event)
{
    Playhead& head = player.head;
    if (session_apply(head.session, event).started) {
        ++head.run;
        if (player.run_starts.empty() || player.run_starts.back() < head.step)
            player.run_starts.push_back(head.step);
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

bool load_session(const char* path, RecordedSession* session)
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
    std::FILE* file = fdopen(fd, "r");
    if (file == nullptr) {
        close(fd);
        return cannot_read(path, std::strerror(errno));
    }
    ScriptReader reader{.file = file, .recording = true};
    *session = RecordedSession{};
    // Flown as it is read, so that an event that cannot stand where it does is refused by
    // its line.
    Session flown;
    start_game(flown.game);
    ScriptEvent event;
    ScriptRead read;
    while ((read = read_event(reader, &event)) == ScriptRead::EVENT) {
        const char* refused = session_apply(flown, event).refused;
        if (refused != nullptr) {
            std::fclose(file);
            std::snprintf(reader.reason, sizeof reader.reason, "%s", refused);
            report_bad_line("skarvolt", path, reader);
            return false;
        }
        session->events.push_back(event);
    }
    std::fclose(file);
    if (read == ScriptRead::BAD) {
        report_bad_line("skarvolt", path, reader);
        return false;
    }
    return true;
}

void player_start(Player& player, const RecordedSession& session)
{
    player = Player{};
    player.session = &session;
    start_game(player.head.session.game);
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
        session_apply(head.session, {Event::TICK, 1});
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
