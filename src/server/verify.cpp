// Every run the server enters is flown here, and only here.
#include "server/verify.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "app/script.h"
#include "game/random.h"
#include "game/run.h"
#include "game/state.h"
#include "render/scene.h"
#include "version.h"

namespace {

constexpr char AGENT_COMMENT[] = "# agent: ";
constexpr int FULL_PACE = 100;
constexpr int SLOWEST_PACE = 50;
// A frame over a crash draws as many random numbers as this many ticks.
constexpr std::uint64_t BURST_WORK = BURST_RAYS;
// The longest text of an agent's comment kept in a run's own recording.
constexpr std::size_t AGENT_TEXT = 64;

// How the session was played from a line on, as its comments say.
struct Manner {
    bool toggle = false;
    int speed = FULL_PACE;
};

// A comment that says how the session is played, and the line it stands on.
struct MannerComment {
    unsigned long line;
    bool header_only; // "# options:", which counts only above the first seed
    Manner manner;
};

// The options as the recorder writes them: "--toggle --speed 70 --keys", or "none".
Manner read_options(std::string_view text)
{
    Manner manner;
    bool speed_follows = false;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find_first_of(" \t", at), text.size());
        const std::string_view word = text.substr(at, end - at);
        at = end + 1;
        if (word.empty())
            continue;
        std::string_view number;
        if (speed_follows)
            number = word;
        else if (word.starts_with("--speed="))
            number = word.substr(8);
        speed_follows = word == "--speed";
        if (word == "--toggle")
            manner.toggle = true;
        int percent = 0;
        bool digits = !number.empty() && number.size() <= 3;
        for (const char c : number) {
            digits = digits && c >= '0' && c <= '9';
            percent = percent * 10 + (c - '0');
        }
        if (digits && percent >= SLOWEST_PACE && percent <= FULL_PACE)
            manner.speed = percent;
    }
    return manner;
}

// The comments of the text that the reader passes over but the judge needs: how the
// session was played (the options above the seed, and where they changed), and whether a
// program played it.
struct Comments {
    std::vector<MannerComment> manners;
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
            comments.manners.push_back(
                {line, false, read_options(comment.substr(sizeof RECORDING_OPTIONS_CHANGED - 1))});
        } else if (comment.starts_with(RECORDING_OPTIONS)) {
            comments.manners.push_back(
                {line, true, read_options(comment.substr(sizeof RECORDING_OPTIONS - 1))});
        } else if (comment.starts_with(AGENT_COMMENT) && !comments.agent) {
            std::string name;
            for (const char c : comment.substr(sizeof AGENT_COMMENT - 1).substr(0, AGENT_TEXT))
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
        out += AGENT_COMMENT + agent + '\n';
    char options[RECORDING_OPTIONS_TEXT + sizeof RECORDING_OPTIONS] = "";
    if (run.run.toggle && run.run.slowest_speed < FULL_PACE)
        std::snprintf(options, sizeof options, "%s--toggle --speed %d\n", RECORDING_OPTIONS,
                      run.run.slowest_speed);
    else if (run.run.toggle)
        std::snprintf(options, sizeof options, "%s--toggle\n", RECORDING_OPTIONS);
    else if (run.run.slowest_speed < FULL_PACE)
        std::snprintf(options, sizeof options, "%s--speed %d\n", RECORDING_OPTIONS,
                      run.run.slowest_speed);
    out += options;
    put_event(out, Event::SEED, run.seed, true);
    out += run.events;
    put_event(out, Event::FRAME);
    return out;
}

} // namespace

const char* run_category(const FlownRun& run)
{
    if (run.agent)
        return "agent";
    if (run.toggle || run.slowest_speed < FULL_PACE)
        return "assisted";
    return "standard";
}

Flight fly_recording(std::string_view text, std::uint64_t max_ticks)
{
    Flight flight;
    const Comments comments = read_comments(text);
    // An empty text opens no stream on every C library; one line feed reads the same.
    const std::string_view readable = text.empty() ? std::string_view("\n") : text;
    std::FILE* stream = fmemopen(const_cast<char*>(readable.data()), readable.size(), "rb");
    if (stream == nullptr) {
        flight.verdict = Verdict::NOT_A_RECORDING;
        flight.reason = "line 1: cannot be read";
        return flight;
    }
    ScriptReader reader{.file = stream, .recording = true};

    Game game;
    Micros clock = 0;
    unsigned tick_delay_ms = 0;
    start_game(game);
    std::optional<std::uint64_t> seed;
    bool header_done = false; // the first seed has been read: its comments are behind
    bool agent = false;       // the header says a program played the session
    Manner manner;
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

    for (;;) {
        ScriptEvent event;
        const ScriptRead read = read_event(reader, &event);
        if (read == ScriptRead::END)
            break;
        if (read == ScriptRead::BAD) {
            flight.verdict = Verdict::NOT_A_RECORDING;
            flight.reason = "line " + std::to_string(reader.line) + ": " + reader.reason;
            flight.runs.clear();
            break;
        }
        // How the session is played at this line, as the comments above it say.
        for (; next_comment < comments.manners.size()
               && comments.manners[next_comment].line < reader.line;
             ++next_comment) {
            const MannerComment& said = comments.manners[next_comment];
            if (!said.header_only || !header_done)
                manner = said.manner;
        }
        if (run) {
            run->run.toggle = run->run.toggle || manner.toggle;
            run->run.slowest_speed = std::min(run->run.slowest_speed, manner.speed);
            if (event.event != Event::TICK)
                put_pending_ticks(*run);
        }
        switch (event.event) {
        case Event::SEED:
            seed = event.number;
            if (!header_done)
                agent = comments.agent && comments.agent_line < reader.line;
            header_done = true;
            random_seed(&game.random, static_cast<std::uint32_t>(event.number));
            break;
        case Event::PRESS: {
            const bool from_seed = seed && game.random == random_seeded(static_cast<std::uint32_t>(*seed));
            if (thrust_on_timed(game, clock, &tick_delay_ms)) {
                run.emplace();
                run->seed = seed.value_or(0);
                run->from_seed = from_seed;
                run->run.seed = run->seed;
                run->run.toggle = manner.toggle;
                run->run.slowest_speed = manner.speed;
                run->run.agent = agent;
            }
            if (run)
                put_event(run->events, Event::PRESS);
            break;
        }
        case Event::RELEASE:
            thrust_off(game);
            if (run)
                put_event(run->events, Event::RELEASE);
            break;
        case Event::TICK:
            for (std::uint64_t i = 0; i < event.number && (game.state & RUNNING); ++i) {
                if (work == max_ticks)
                    return too_long();
                ++work;
                const bool crashed = tick_timed(game, &clock, &tick_delay_ms).crashed;
                ++run->ticks_unwritten;
                run->run.flight_us += TICK_MS * 1000.0 * FULL_PACE / manner.speed;
                if (crashed) {
                    put_pending_ticks(*run);
                    run->run.score = game.score;
                    flight.last_run_entered = run->from_seed;
                    if (run->from_seed) {
                        run->run.recording = recording_of(*run, comments.agent.value_or(""));
                        flight.runs.push_back(std::move(run->run));
                    }
                    run.reset();
                }
            }
            break;
        case Event::FRAME:
            // A frame over a crash shows its burst, which draws from the game's sequence,
            // and lets the next run start.
            if (game.state & CRASHED) {
                if (max_ticks - work < BURST_WORK)
                    return too_long();
                work += BURST_WORK;
                take_burst_draws(game.random);
                arm_after_crash(game);
            }
            break;
        case Event::BEST:
            // What the overlay showed as the best; it flies nothing.
            break;
        }
    }
    std::fclose(stream);
    return flight;
}
