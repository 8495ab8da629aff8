#include "app/script.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/decimal.h"
#include "game/pace.h"

namespace {

constexpr char TOO_LARGE[] = "larger than 64 MiB, more than any recording holds";
static_assert(MAX_RECORDING_BYTES == std::uint64_t{64} << 20, "TOO_LARGE says its size");

// Longest text that escape_byte makes of one byte.
constexpr int ESCAPED_BYTE_MAX = 4;

// Longest comment kept for the header and the options; longer ones are neither.
constexpr int MAX_COMMENT = 96;

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

// Copies text into out (size bytes, cut short if longer), escaped as put_escaped writes it.
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

// How a line was read; the reader stops at the first byte that spoils the line, so an
// endless line or an endless run of NULs is reported at once.
enum class LineRead { LINE, LAST_LINE, BAD };

struct Line {
    char text[MAX_EVENT_LINE + 1]; // without its comment and line end
    char comment[MAX_COMMENT + 1]; // from its "#" on, when short enough; "" otherwise
    bool bytes = false;            // anything at all stood on the line
};

// Reads one line; *bytes counts what was taken from the file, and a line that would take
// it past max_bytes (0: no limit) is refused at that byte.
LineRead read_line(std::FILE* script, Line& line, std::uint64_t* bytes, std::uint64_t max_bytes,
                   char* reason, int size)
{
    int length = 0;          // of the whole line, its comment included
    int text_length = 0;     // before the comment
    int comment_length = -1; // no comment yet
    line.bytes = false;
    const auto next_byte = [&]() {
        const int c = std::getc(script);
        if (c != EOF)
            ++*bytes;
        return c;
    };
    for (;;) {
        int c = next_byte();
        if (max_bytes != 0 && *bytes > max_bytes) {
            std::snprintf(reason, size, "the file goes on past %llu MiB, more than any "
                          "recording holds", static_cast<unsigned long long>(max_bytes >> 20));
            return LineRead::BAD;
        }
        // A carriage return may only end a line with the line feed after it; anywhere
        // else a script from a system that ends lines with it alone would run together.
        if (c == '\r') {
            line.bytes = true;
            c = next_byte();
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
            line.text[text_length] = '\0';
            if (comment_length < 0 || comment_length > MAX_COMMENT)
                comment_length = 0;
            line.comment[comment_length] = '\0';
            return c == EOF ? LineRead::LAST_LINE : LineRead::LINE;
        }
        line.bytes = true;
        // A comment is held to the rules of every line: an endless one, or one of NULs,
        // is reported as soon as it is read, as an endless event would be.
        if (c == '\0') {
            std::snprintf(reason, size, "holds a NUL character");
            return LineRead::BAD;
        }
        if (length == MAX_EVENT_LINE) {
            std::snprintf(reason, size, "longer than %d characters", MAX_EVENT_LINE);
            return LineRead::BAD;
        }
        ++length;
        if (c == '#' && comment_length < 0)
            comment_length = 0;
        if (comment_length >= 0) {
            if (comment_length < MAX_COMMENT)
                line.comment[comment_length] = static_cast<char>(c);
            if (comment_length <= MAX_COMMENT)
                ++comment_length;
            continue;
        }
        line.text[text_length++] = static_cast<char>(c);
    }
}

bool starts_with(const char* text, const char* start)
{
    return std::strncmp(text, start, std::strlen(start)) == 0;
}

// Reads one line whose comment is cut off. False for a blank line; on a line that is no
// event, false with the reason in reason (size bytes) and *bad set.
bool parse_event(const char* line, ScriptEvent* event, bool* bad, char* reason, int size)
{
    // As long as a whole line, so that no word is ever cut short: a count with many
    // leading zeros is still read whole.
    char name[MAX_EVENT_LINE + 1];
    char count[MAX_EVENT_LINE + 1];
    char extra[MAX_EVENT_LINE + 1];
    // A word as the message shows it.
    char shown[MAX_EVENT_LINE * ESCAPED_BYTE_MAX + 1];
    *bad = true;
    if (!next_word(&line, name, sizeof name)) {
        *bad = false;
        return false;
    }
    const bool has_count = next_word(&line, count, sizeof count);
    escape_text(name, shown, sizeof shown);
    if (next_word(&line, extra, sizeof extra)) {
        std::snprintf(reason, size, "too many words after \"%s\"", shown);
        return false;
    }
    for (const EventWord& entry : EVENT_WORDS) {
        if (std::strcmp(name, entry.word) != 0)
            continue;
        *event = {entry.event, 1};
        switch (entry.number) {
        case EventNumber::NONE:
            if (has_count) {
                std::snprintf(reason, size, "\"%s\" takes no argument", shown);
                return false;
            }
            break;
        case EventNumber::REQUIRED:
            if (!has_count) {
                std::snprintf(reason, size, "\"%s\" needs a number", shown);
                return false;
            }
            [[fallthrough]];
        case EventNumber::OPTIONAL:
            if (has_count && (!parse_count(count, &event->number) || event->number < entry.least
                              || event->number > entry.most)) {
                escape_text(count, shown, sizeof shown);
                std::snprintf(reason, size, "%s \"%s\" is not a whole number from %llu to %llu",
                              entry.noun, shown, static_cast<unsigned long long>(entry.least),
                              static_cast<unsigned long long>(entry.most));
                return false;
            }
            break;
        }
        *bad = false;
        return true;
    }
    std::snprintf(reason, size, "unknown event \"%s\"", shown);
    return false;
}

ScriptRead refuse(ScriptReader& reader, const char* reason)
{
    std::snprintf(reader.reason, sizeof reader.reason, "%s", reason);
    reader.ended = true;
    return ScriptRead::BAD;
}

} // namespace

int options_speed(const char* options)
{
    char text[RECORDING_OPTIONS_TEXT];
    std::snprintf(text, sizeof text, "%s", options);
    bool speed_follows = false;
    char word[RECORDING_OPTIONS_TEXT];
    for (const char* p = text; next_word(&p, word, sizeof word);) {
        std::uint64_t percent = 0;
        if (speed_follows && parse_count(word, &percent) && percent >= SLOWEST_SPEED
            && percent <= FULL_SPEED)
            return static_cast<int>(percent);
        speed_follows = std::strcmp(word, "--speed") == 0;
    }
    return FULL_SPEED;
}

ScriptRead read_event(ScriptReader& reader, ScriptEvent* event)
{
    const int size = sizeof reader.reason;
    if (reader.pending) {
        reader.pending = false;
        *event = reader.pending_event;
        return ScriptRead::EVENT;
    }
    while (!reader.ended) {
        ++reader.line;
        Line line;
        const LineRead read =
            read_line(reader.file, line, &reader.bytes, reader.max_bytes, reader.reason, size);
        if (read == LineRead::BAD) {
            reader.ended = true;
            return ScriptRead::BAD;
        }
        reader.ended = read == LineRead::LAST_LINE;
        if (reader.line == 1 && is_recording_header(line.comment))
            reader.recording = true;
        if (!reader.seeded && starts_with(line.comment, RECORDING_OPTIONS))
            std::snprintf(reader.options, sizeof reader.options, "%.*s",
                          static_cast<int>(sizeof reader.options - 1),
                          line.comment + sizeof RECORDING_OPTIONS - 1);
        // The recorder ends every line it writes; a last line without its line feed is
        // what a copy or a disk cut short leaves, and may read as another ("tick 12" of
        // "tick 123").
        if (reader.recording && reader.ended && line.bytes)
            return refuse(reader, "the last line has no line feed: the recording was cut short");
        // The pace changed here, as an older recording says it.
        const bool paced_here = reader.seeded && starts_with(line.comment, RECORDING_OPTIONS_CHANGED);
        const ScriptEvent pace{Event::SPEED,
                               paced_here ? static_cast<std::uint64_t>(options_speed(
                                                line.comment + sizeof RECORDING_OPTIONS_CHANGED - 1))
                                          : FULL_SPEED};
        bool bad = false;
        if (!parse_event(line.text, event, &bad, reader.reason, size)) {
            if (bad) {
                reader.ended = true;
                return ScriptRead::BAD;
            }
            if (!paced_here)
                continue;
            *event = pace;
            return ScriptRead::EVENT;
        }
        // The overlay's best is a 32-bit number, as the score file's is: a larger one was
        // never shown, and would show cut to its low bits.
        if (event->event == Event::BEST && event->number > UINT32_MAX)
            return refuse(reader, "best score is more than 4294967295, which no game shows");
        if (paced_here) {
            reader.pending = true;
            reader.pending_event = pace;
        }
        // The command line's seed is the session's: a script's own would silently win.
        if (event->event == Event::SEED && reader.seed_chosen)
            return refuse(reader, "\"seed\" and --seed both choose the seed");
        if (event->event != Event::SEED && reader.recording && !reader.seeded
            && !reader.seed_chosen)
            return refuse(reader, "a recording begins with its \"seed\"");
        // The options above the first seed name the pace the session began at.
        if (event->event == Event::SEED && !reader.seeded && !paced_here
            && options_speed(reader.options) != FULL_SPEED) {
            reader.pending = true;
            reader.pending_event = {Event::SPEED,
                                    static_cast<std::uint64_t>(options_speed(reader.options))};
        }
        reader.played = true;
        reader.seeded = reader.seeded || event->event == Event::SEED;
        return ScriptRead::EVENT;
    }
    if (reader.recording && !reader.seeded && !reader.seed_chosen) {
        reader.seeded = true; // said once
        return refuse(reader, "a recording begins with its \"seed\", and this one has none");
    }
    return ScriptRead::END;
}

bool is_recording_header(const char* comment)
{
    const std::size_t length = std::strlen(comment);
    const std::size_t end = sizeof RECORDING_HEADER_END - 1;
    return starts_with(comment, RECORDING_HEADER_START) && length > end
           && std::strcmp(comment + length - end, RECORDING_HEADER_END) == 0;
}

void say_too_much_work(ScriptReader& reader)
{
    std::snprintf(reader.reason, sizeof reader.reason,
                  "asks for more than %llu ticks of play by here (a frame counts %llu)",
                  static_cast<unsigned long long>(MAX_SCRIPT_WORK),
                  static_cast<unsigned long long>(FRAME_WORK));
    reader.ended = true;
}

std::FILE* open_recording(const char* path, const char* verb)
{
    const char* why = nullptr;
    std::FILE* file = nullptr;
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0)
        why = std::strerror(errno);
    else if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        why = "not a regular file";
    else if (static_cast<std::uint64_t>(st.st_size) > MAX_RECORDING_BYTES)
        why = TOO_LARGE;
    else if ((file = fdopen(fd, "r")) == nullptr)
        why = std::strerror(errno);
    if (file != nullptr)
        return file;
    if (fd >= 0)
        close(fd);
    say_cannot(verb, path, why);
    return nullptr;
}

std::FILE* open_text(std::string_view text)
{
    // An empty text opens no stream on every C library; one line feed reads the same.
    static char blank_line[] = "\n";
    if (text.empty())
        return fmemopen(blank_line, 1, "r");
    return fmemopen(const_cast<char*>(text.data()), text.size(), "r");
}

void say_cannot(const char* verb, const char* path, const char* why)
{
    std::fprintf(stderr, "skarvolt: cannot %s ", verb);
    put_escaped(path, stderr);
    std::fprintf(stderr, ": %s\n", why);
}

void report_bad_line(const char* program, const char* name, const ScriptReader& reader)
{
    std::fprintf(stderr, "%s: ", program);
    put_escaped(name, stderr);
    std::fprintf(stderr, ": line %lu: %s\n", reader.line, reader.reason);
}

void put_escaped(const char* text, std::FILE* stream)
{
    char piece[ESCAPED_BYTE_MAX + 1];
    for (; *text != '\0'; ++text) {
        escape_byte(static_cast<unsigned char>(*text), piece);
        std::fputs(piece, stream);
    }
}
