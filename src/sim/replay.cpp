#include "sim/replay.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <GL/freeglut.h>

#include "app/frame.h"
#include "game/run.h"
#include "game/state.h"
#include "sim/headless_gl.h"

namespace {

bool is_blank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
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

void write_tick(std::FILE* out)
{
    std::fprintf(out, "%u %.9g %.9g %.9g %.9g\n", game.score, static_cast<double>(game.trail[0]),
                 static_cast<double>(game.velocity), static_cast<double>(game.tunnel_center[0]),
                 static_cast<double>(game.obstacle_center[0]));
    if (game.state & CRASHED)
        std::fprintf(out, "crash %u\n", game.score);
}

} // namespace

bool parse_count(const char* text, std::uint64_t* value)
{
    if (*text == '\0')
        return false;
    std::uint64_t n = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9')
            return false;
        const unsigned digit = static_cast<unsigned>(*text - '0');
        if (n > (UINT64_MAX - digit) / 10)
            return false;
        n = n * 10 + digit;
    }
    *value = n;
    return true;
}

bool parse_event(const char* line, Event* event, char* reason, int size)
{
    // As long as a whole line, so that no word is ever cut short: a count with many
    // leading zeros is still read whole.
    char name[MAX_EVENT_LINE + 1];
    char count[MAX_EVENT_LINE + 1];
    char extra[MAX_EVENT_LINE + 1];
    *event = {EventKind::NONE, 0};
    if (!next_word(&line, name, sizeof name))
        return true;
    const bool has_count = next_word(&line, count, sizeof count);
    if (next_word(&line, extra, sizeof extra)) {
        std::snprintf(reason, size, "too many words after \"%s\"", name);
        return false;
    }
    if (std::strcmp(name, "press") == 0 || std::strcmp(name, "release") == 0
        || std::strcmp(name, "frame") == 0) {
        if (has_count) {
            std::snprintf(reason, size, "\"%s\" takes no argument", name);
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
            std::snprintf(reason, size,
                          "tick count \"%s\" is not a whole number from 0 to 18446744073709551615",
                          count);
            return false;
        }
        return true;
    }
    std::snprintf(reason, size, "unknown event \"%s\"", name);
    return false;
}

void start_game(std::uint64_t seed)
{
    // The same narrowing as the game's own seeding.
    srandom(static_cast<unsigned>(seed));
    on_reshape(WINDOW_WIDTH, WINDOW_HEIGHT);
    game.state = ARMED;
    game.high_score = 0;
}

void run_event(const Event& event, std::FILE* out)
{
    switch (event.kind) {
    case EventKind::NONE:
        break;
    case EventKind::PRESS:
        on_mouse(GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0);
        break;
    case EventKind::RELEASE:
        on_mouse(GLUT_LEFT_BUTTON, GLUT_UP, 0, 0);
        break;
    case EventKind::TICK:
        // Once a run has crashed no tick is pending, so the rest of the periods pass
        // without anything to do.
        for (std::uint64_t i = 0; i < event.ticks && fire_pending_tick(); ++i)
            write_tick(out);
        break;
    case EventKind::FRAME:
        on_display();
        break;
    }
}

int replay(std::FILE* script, const char* name, std::FILE* out)
{
    char line[MAX_EVENT_LINE + 1];
    char reason[MAX_EVENT_LINE + 96]; // the longest word and the words around it
    unsigned long number = 0;
    int c = 0;
    while (c != EOF) {
        ++number;
        int length = 0;
        bool in_comment = false;
        bool too_long = false;
        bool has_nul = false;
        while ((c = std::getc(script)) != EOF && c != '\n') {
            if (c == '#')
                in_comment = true;
            if (in_comment)
                continue;
            if (c == '\0')
                has_nul = true;
            if (length < MAX_EVENT_LINE)
                line[length++] = static_cast<char>(c);
            else
                too_long = true;
        }
        if (c == EOF && std::ferror(script)) {
            std::fprintf(stderr, "skarvolt-sim: %s: line %lu: cannot read: %s\n", name, number,
                         std::strerror(errno));
            return EXIT_BAD_INPUT;
        }
        line[length] = '\0';

        Event event;
        bool ok = false;
        if (too_long)
            std::snprintf(reason, sizeof reason, "longer than %d characters", MAX_EVENT_LINE);
        else if (has_nul)
            std::snprintf(reason, sizeof reason, "holds a NUL character");
        else
            ok = parse_event(line, &event, reason, sizeof reason);
        if (!ok) {
            std::fflush(out);
            std::fprintf(stderr, "skarvolt-sim: %s: line %lu: %s\n", name, number, reason);
            return EXIT_BAD_INPUT;
        }
        run_event(event, out);
    }
    return 0;
}
