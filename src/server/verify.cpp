// Every run the server enters is flown here, and only here.
#include "server/verify.h"

#include <cstdio>
#include <optional>

#include "app/script.h"
#include "game/random.h"
#include "game/state.h"
#include "session/session.h"
#include "version.h"

namespace {

// A frame over a crash draws as many random numbers as this many ticks.
constexpr std::uint64_t BURST_WORK = BURST_RAYS;
// The longest text of an agent's comment kept in a run's own recording.
constexpr std::size_t AGENT_TEXT = 64;

// Whether the button was toggled from a line on, as the comments say (the pace is the
// reader's: it reads the comments of older recordings as "speed" events).
struct ToggleComment {
    unsigned long line;
    bool header_only; // "# options:", which counts only above the first seed
    bool toggle;
};

// The options as the recorder writes them: "--toggle --speed 70 --keys", or "none".
bool says_toggle(std::string_view text)
{
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find_first_of(" \t", at), text.size());
        if (text.substr(at, end - at) == "--toggle")
            return true;
        at = end + 1;
    }
    return false;
}

// The comments of the text that the reader passes over but the judge needs: how the
// session was played (the options above the seed, and where they changed), and whether a
// program played it.
struct Comments {
    std::vector<ToggleComment> toggles;
    std::optional<std::string> agent; // its text, and the line it stands on
    unsigned long agent_line = 0;
};

Comments read_comments(std::string_view text)
{
    Comments comments;
    unsigned long line = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        ++line;
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view whole = text.substr(at, end - at);
        at = end + 1;
        if (whole.ends_with('\r'))
            whole.remove_suffix(1);
        const std::size_t hash = whole.find('#');
        if (hash == std::string_view::npos)
            continue;
        const std::string_view comment = whole.substr(hash);
        if (comment.starts_with(RECORDING_OPTIONS_CHANGED)) {
            comments.toggles.push_back(
                {line, false, says_toggle(comment.substr(sizeof RECORDING_OPTIONS_CHANGED - 1))});
        } else if (comment.starts_with(RECORDING_OPTIONS)) {
            comments.toggles.push_back(
                {line, true, says_toggle(comment.substr(sizeof RECORDING_OPTIONS - 1))});
        } else if (comment.starts_with(RECORDING_AGENT) && !comments.agent) {
            std::string name;
            for (const char c : comment.substr(sizeof RECORDING_AGENT - 1).substr(0, AGENT_TEXT))
                name += c >= 0x20 && c < 0x7f ? c : '?';
            comments.agent = name;
            comments.agent_line = line;
        }
    }
    return comments;
}

// A run as it is flown, written out as a recording of its own.
struct RunInFlight {
    std::uint64_t seed = 0;
    bool from_seed = false; // the sequence stood exactly where its seed puts it
    FlownRun run;
    std::string events;
    std::uint64_t ticks_unwritten = 0; // ticks flown since the last event written
    int first_speed = FULL_SPEED;      // the pace at its press
};

void put_event(std::string& out, Event event, std::uint64_t number = 0, bool with_number = false)
{
    out += event_word(event).word;
    if (with_number) {
        out += ' ';
        out += std::to_string(number);
    }
    out += '\n';
}

void put_pending_ticks(RunInFlight& run)
{
    if (run.ticks_unwritten > 0)
        put_event(run.events, Event::TICK, run.ticks_unwritten, true);
    run.ticks_unwritten = 0;
}

// The run's own recording: the game's header, how it was played, its seed, its events
// from the press that started it to the tick that crashed it, and the frame that shows
// the crash.
std::string recording_of(const RunInFlight& run, const std::string& agent)
{
    std::string out = RECORDING_HEADER_START;
    out += VERSION;
    out += RECORDING_HEADER_END;
    out += '\n';
    if (run.run.agent)
        out += RECORDING_AGENT + agent + '\n';
    if (run.run.toggle)
        out += std::string(RECORDING_OPTIONS) + "--toggle\n";
    put_event(out, Event::SEED, run.seed, true);
    if (run.first_speed != FULL_SPEED)
        put_event(out, Event::SPEED, static_cast<std::uint64_t>(run.first_speed), true);
    out += run.events;
    put_event(out, Event::FRAME);
    return out;
}

} // namespace

const char* run_category(const FlownRun& run)
{
    if (run.agent)
        return "agent";
    if (run.toggle || run.slowest_speed < FULL_SPEED)
        return "assisted";
    return "standard";
}

Flight fly_recording(std::string_view text, std::uint64_t max_ticks)
{
    Flight flight;
    const Comments comments = read_comments(text);
    std::FILE* stream = open_text(text);
    if (stream == nullptr) {
        flight.verdict = Verdict::NOT_A_RECORDING;
        flight.reason = "line 1: cannot be read";
        return flight;
    }
    ScriptReader reader{.file = stream, .recording = true};

    Session session;
    session_start(session, 1);
    std::optional<std::uint64_t> seed;
    bool header_done = false; // the first seed has been read: its comments are behind
    bool agent = false;       // the header says a program played the session
    bool toggle = false;
    std::size_t next_comment = 0;
    std::optional<RunInFlight> run;
    // Ticks flown, and a frame over a crash as the ticks whose draws its burst takes.
    std::uint64_t work = 0;
    const auto too_long = [&] {
        flight.verdict = Verdict::TOO_LONG;
        flight.reason = "more than " + std::to_string(max_ticks) + " ticks";
        flight.runs.clear();
        std::fclose(stream);
        return flight;
    };
    const auto refused = [&](const char* reason) {
        flight.verdict = Verdict::NOT_A_RECORDING;
        flight.reason = "line " + std::to_string(reader.line) + ": " + reason;
        flight.runs.clear();
        std::fclose(stream);
        return flight;
    };

    for (;;) {
        ScriptEvent event;
        const ScriptRead read = read_event(reader, &event);
        if (read == ScriptRead::END)
            break;
        if (read == ScriptRead::BAD)
            return refused(reader.reason);
        // Whether the button is toggled at this line, as the comments above it say.
        for (; next_comment < comments.toggles.size()
               && comments.toggles[next_comment].line < reader.line;
             ++next_comment) {
            const ToggleComment& said = comments.toggles[next_comment];
            if (!said.header_only || !header_done)
                toggle = said.toggle;
        }
        if (run) {
            run->run.toggle = run->run.toggle || toggle;
            if (event.event != Event::TICK)
                put_pending_ticks(*run);
        }
        if (event.event == Event::SEED && !header_done) {
            agent = comments.agent && comments.agent_line < reader.line;
            header_done = true;
        }
        // A run counts only when it flies the tunnel of its seed from the seed's first
        // draw: nothing (a crash's burst shown again) drew from the sequence since.
        const bool from_seed =
            seed && session.game.random == random_seeded(static_cast<std::uint32_t>(*seed));
        if (event.event == Event::TICK && (session.game.state & RUNNING))
            event.number = std::min(event.number, max_ticks - work + 1);
        if (event.event == Event::FRAME && (session.game.state & CRASHED)) {
            if (max_ticks - work < BURST_WORK)
                return too_long();
            work += BURST_WORK;
        }
        const Applied applied = session_apply(session, event, [&](const Session& flown) {
            ++work;
            ++run->ticks_unwritten;
            run->run.flight_us += TICK_MS * 1000.0 * FULL_SPEED / flown.speed;
        });
        if (applied.refused)
            return refused(applied.refused);
        if (work > max_ticks)
            return too_long();
        if (applied.started) {
            run.emplace();
            run->seed = seed.value_or(0);
            run->from_seed = from_seed;
            run->first_speed = session.speed;
            run->run.seed = run->seed;
            run->run.toggle = toggle;
            run->run.slowest_speed = session.speed;
            run->run.agent = agent;
        }
        switch (event.event) {
        case Event::SEED:
            seed = event.number;
            break;
        case Event::PRESS:
        case Event::RELEASE:
            if (run)
                put_event(run->events, event.event);
            break;
        case Event::SPEED:
            if (run) {
                put_event(run->events, Event::SPEED, event.number, true);
                run->run.slowest_speed = std::min(run->run.slowest_speed, session.speed);
            }
            break;
        case Event::TICK:
        case Event::FRAME:
        case Event::BEST:
            // Ticks are written where the next event comes; a frame over a run draws
            // nothing, and the best only shows.
            break;
        }
        if (applied.crashed) {
            put_pending_ticks(*run);
            run->run.score = session.game.score;
            flight.last_run_entered = run->from_seed;
            if (run->from_seed) {
                run->run.recording = recording_of(*run, comments.agent.value_or(""));
                flight.runs.push_back(std::move(run->run));
            }
            run.reset();
        }
    }
    std::fclose(stream);
    return flight;
}
