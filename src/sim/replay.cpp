#include "sim/replay.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/decimal.h"
#include "app/hooks.h"
#include "app/shell.h"
#include "game/pace.h"
#include "game/random.h"
#include "game/run.h"
#include "game/state.h"
#include "sim/trace.h"

namespace {

// Longest event line, comment excluded.
constexpr int MAX_EVENT_LINE = 255;

// Longest text that escape_text makes of one byte.
constexpr int ESCAPED_BYTE_MAX = 4;

enum class EventKind { NONE, PRESS, RELEASE, TICK, FRAME, SEED };

struct Event {
    EventKind kind;
    std::uint64_t ticks; // tick periods, for TICK
    std::uint64_t seed;  // for SEED
};

bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// Copies the next word of *text into word (size bytes, cut short if longer) and moves
// *text past it; false when only blanks are left.
bool next_word(const char** text, char* word, int size)
{
    const char* p = *text;
    while (is_blank(*p))
        ++p;
    if (*p == '\0')
        return false;
    int n = 0;
    for (; *p != '\0' && !is_blank(*p); ++p)
        if (n < size - 1)
            word[n++] = *p;
    word[n] = '\0';
    *text = p;
    return true;
}

// Writes the escaped form of byte c into out (at least ESCAPED_BYTE_MAX + 1 bytes).
void escape_byte(unsigned char c, char* out)
{
    switch (c) {
    case '\t': std::strcpy(out, "\\t"); return;
    case '\r': std::strcpy(out, "\\r"); return;
    case '\n': std::strcpy(out, "\\n"); return;
    case '\\': std::strcpy(out, "\\\\"); return;
    }
    if (c >= 0x20 && c < 0x7f) {
        out[0] = static_cast<char>(c);
        out[1] = '\0';
        return;
    }
    std::snprintf(out, ESCAPED_BYTE_MAX + 1, "\\x%02x", c);
}

// Why a line could not be read whole; the reader stops at the first byte that spoils the
// line, so an endless line or an endless run of NULs is reported at once.
enum class LineRead { LINE, LAST_LINE, BAD };

// Reads one line into line (MAX_EVENT_LINE + 1 bytes), its comment and line end dropped.
LineRead read_line(std::FILE* script, char* line, char* reason, int size)
{
    int length = 0;
    bool in_comment = false;
    for (;;) {
        int c = std::getc(script);
        // A carriage return may only end a line with the line feed after it; anywhere
        // else a script from a system that ends lines with it alone would run together.
        if (c == '\r') {
            c = std::getc(script);
            if (c != '\n' && c != EOF) {
                std::snprintf(reason, size, "carriage return without a line feed after it");
                return LineRead::BAD;
            }
        }
        if (c == EOF && std::ferror(script)) {
            std::snprintf(reason, size, "cannot read: %s", std::strerror(errno));
            return LineRead::BAD;
        }
        if (c == EOF || c == '\n') {
            line[length] = '\0';
            return c == EOF ? LineRead::LAST_LINE : LineRead::LINE;
        }
        if (c == '#')
            in_comment = true;
        if (in_comment)
            continue;
        if (c == '\0') {
            std::snprintf(reason, size, "holds a NUL character");
            return LineRead::BAD;
        }
        if (length == MAX_EVENT_LINE) {
            std::snprintf(reason, size, "longer than %d characters", MAX_EVENT_LINE);
            return LineRead::BAD;
        }
        line[length++] = static_cast<char>(c);
    }
}

// Copies text into out (size bytes, cut short if longer) with every byte that a terminal
// could take as a command, and every byte outside printable ASCII, written as an escape
// (\t, \r, \n, \\ or \xHH), so that messages never hand a script's bytes to the terminal.
void escape_text(const char* text, char* out, int size)
{
    int used = 0;
    char piece[ESCAPED_BYTE_MAX + 1];
    for (; *text != '\0'; ++text) {
        escape_byte(static_cast<unsigned char>(*text), piece);
        const int n = static_cast<int>(std::strlen(piece));
        if (used + n >= size)
            break;
        std::memcpy(out + used, piece, static_cast<std::size_t>(n));
        used += n;
    }
    if (size > 0)
        out[used] = '\0';
}

} // namespace

void put_escaped(const char* text, std::FILE* stream)
{
    char piece[ESCAPED_BYTE_MAX + 1];
    for (; *text != '\0'; ++text) {
        escape_byte(static_cast<unsigned char>(*text), piece);
        std::fputs(piece, stream);
    }
}

namespace {

// Reads one script line whose comment is already cut off. A blank line is the event
// NONE. On a line that is no event, writes the reason into reason (size bytes) and
// returns false.
bool parse_event(const char* line, Event* event, char* reason, int size)
{
    // As long as a whole line, so that no word is ever cut short: a count with many
    // leading zeros is still read whole.
    char name[MAX_EVENT_LINE + 1];
    char count[MAX_EVENT_LINE + 1];
    char extra[MAX_EVENT_LINE + 1];
    // A word as the message shows it.
    char shown[MAX_EVENT_LINE * ESCAPED_BYTE_MAX + 1];
    *event = {EventKind::NONE, 0, 0};
    if (!next_word(&line, name, sizeof name))
        return true;
    const bool has_count = next_word(&line, count, sizeof count);
    escape_text(name, shown, sizeof shown);
    if (next_word(&line, extra, sizeof extra)) {
        std::snprintf(reason, size, "too many words after \"%s\"", shown);
        return false;
    }
    if (std::strcmp(name, "press") == 0 || std::strcmp(name, "release") == 0
        || std::strcmp(name, "frame") == 0) {
        if (has_count) {
            std::snprintf(reason, size, "\"%s\" takes no argument", shown);
            return false;
        }
        event->kind = name[0] == 'p' ? EventKind::PRESS
                      : name[0] == 'r' ? EventKind::RELEASE
                                       : EventKind::FRAME;
        return true;
    }
    if (std::strcmp(name, "tick") == 0) {
        event->kind = EventKind::TICK;
        event->ticks = 1;
        if (has_count && !parse_count(count, &event->ticks)) {
            escape_text(count, shown, sizeof shown);
            std::snprintf(reason, size,
                          "tick count \"%s\" is not a whole number from 0 to 18446744073709551615",
                          shown);
            return false;
        }
        return true;
    }
    if (std::strcmp(name, "seed") == 0) {
        event->kind = EventKind::SEED;
        if (!has_count) {
            std::snprintf(reason, size, "\"seed\" needs a number");
            return false;
        }
        if (!parse_count(count, &event->seed)) {
            escape_text(count, shown, sizeof shown);
            std::snprintf(reason, size,
                          "seed \"%s\" is not a whole number from 0 to 18446744073709551615",
                          shown);
            return false;
        }
        return true;
    }
    std::snprintf(reason, size, "unknown event \"%s\"", shown);
    return false;
}

// Seeds the random generator as the game seeds itself: the seed narrowed to the
// generator's 32 bits.
void seed_generator(Game& game, std::uint64_t seed)
{
    // The same narrowing as the game's own seeding.
    random_seed(&game.random, static_cast<std::uint32_t>(seed));
}

// Runs one event and writes the trace of the ticks that ran to out.
void run_event(SimGame& sim, const Event& event, std::FILE* out, TickWriter write)
{
    if (write == nullptr)
        write = write_tick;
    switch (event.kind) {
    case EventKind::NONE:
        break;
    case EventKind::PRESS:
        sim_press(sim);
        break;
    case EventKind::RELEASE:
        thrust_off(sim.game);
        break;
    case EventKind::TICK:
        // Once a run has crashed no tick is pending, so the rest of the periods pass
        // without anything to do.
        for (std::uint64_t i = 0; i < event.ticks && sim_fire_tick(sim); ++i)
            write(sim.game, out);
        break;
    case EventKind::FRAME:
        draw_frame(sim.game);
        break;
    case EventKind::SEED:
        seed_generator(sim.game, event.seed);
        break;
    }
}

} // namespace

void sim_press(SimGame& sim)
{
    if (thrust_on(sim.game, sim.clock))
        sim.tick_delay_ms = delay_ms(pace_next_due(sim.game.pace), sim.clock);
}

bool sim_fire_tick(SimGame& sim)
{
    if (!(sim.game.state & RUNNING))
        return false;
    sim.clock += Micros{sim.tick_delay_ms} * 1000;
    const TickResult result = tick(sim.game, sim.clock);
    if (result.crashed)
        save_best(sim.game);
    else
        sim.tick_delay_ms = delay_ms(result.next_due, sim.clock);
    return true;
}

void start_replay(SimGame& sim, std::uint64_t seed)
{
    // Seeded, and in the window the game opens with.
    sim = SimGame{};
    seed_generator(sim.game, seed);
    sim.game.win_width = WINDOW_WIDTH;
    sim.game.win_height = WINDOW_HEIGHT;
    start_game(sim.game);
    load_best(sim.game);
}

int replay(SimGame& sim, std::FILE* script, const char* name, std::FILE* out,
           const ReplayOptions& options)
{
    bool played = false; // an event other than a blank line has run
    char line[MAX_EVENT_LINE + 1];
    // The longest word, escaped, and the words around it.
    char reason[MAX_EVENT_LINE * ESCAPED_BYTE_MAX + 96];
    unsigned long number = 0;
    for (LineRead read = LineRead::LINE; read != LineRead::LAST_LINE;) {
        ++number;
        read = read_line(script, line, reason, sizeof reason);
        Event event;
        bool ok = read != LineRead::BAD && parse_event(line, &event, reason, sizeof reason);
        // The seed decides the whole tunnel, so it is chosen once, before anything has
        // drawn a random number.
        if (ok && event.kind == EventKind::SEED && (options.seed_chosen || played)) {
            std::snprintf(reason, sizeof reason, "%s",
                          options.seed_chosen ? "\"seed\" and --seed both choose the seed"
                                              : "\"seed\" must come before every other event");
            ok = false;
        }
        if (!ok) {
            std::fflush(out);
            std::fputs("skarvolt-sim: ", stderr);
            put_escaped(name, stderr);
            std::fprintf(stderr, ": line %lu: %s\n", number, reason);
            return EXIT_BAD_INPUT;
        }
        run_event(sim, event, out, options.write_tick);
        played = played || event.kind != EventKind::NONE;
        if (options.flush_each_line)
            std::fflush(out);
    }
    return 0;
}
