#include "app/record.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/options.h"
#include "app/script.h"
#include "game/pace.h"
#include "app/shell_session.h"
#include "version.h"

namespace {

// Comfortably more than the longest line, the options' changed comment.
constexpr std::size_t LINE_ROOM = sizeof RECORDING_OPTIONS_CHANGED + RECORD_OPTIONS_SIZE + 8;

struct Recording {
    int fd = -1;
    const char* path = nullptr;
    bool created = false;          // the file did not exist before
    bool written = false;          // the file was emptied for this recording
    bool seeded = false;           // its seed is written: the session has begun
    off_t size = 0;                // what the file holds of it: whole lines only
    std::uint32_t counted = 0;     // game.score when the last tick was accounted for
    std::size_t used = 0;
    char buffer[4096];
};

Recording rec;

// The signals that end a game from outside (Ctrl-C, kill, a closed terminal). Their
// handler finishes the recording itself, so they wait while the recording changes. They
// reach the game's own thread: the GL driver's threads block every signal.
constexpr int QUIT_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
sigset_t quit_signals;

// Set while the handler of a quit signal runs: what it calls must then keep to calls that
// are safe inside a signal handler.
volatile std::sig_atomic_t in_signal_handler = 0;

// The quit signals held back while a recording is made, and the mask to restore. (Held
// and restored by hand: a destructor would cost the programs a dependency on the
// unwinding library.)
struct Held {
    bool held = false;
    sigset_t old;
};

Held hold_quit_signals()
{
    Held h;
    h.held = rec.fd >= 0 && pthread_sigmask(SIG_BLOCK, &quit_signals, &h.old) == 0;
    return h;
}

void let_quit_signals_in(const Held& h)
{
    if (h.held)
        pthread_sigmask(SIG_SETMASK, &h.old, nullptr);
}

void say(const char* text)
{
    [[maybe_unused]] const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
}

// The system's text for an error; inside a signal handler, where strerror may not be
// called, its number.
const char* error_text(int error, char (&room)[24])
{
    if (!in_signal_handler)
        return std::strerror(error);
    std::memcpy(room, "error ", 6);
    *std::to_chars(room + 6, room + sizeof room - 1, error).ptr = '\0';
    return room;
}

// The options' comment line, without its line feed; "" for none. Kept apart from the
// recording, which start_recording clears.
char options_line[sizeof RECORDING_OPTIONS + RECORD_OPTIONS_SIZE] = "";
// The ghost's comment line, the same way.
char ghost_line[sizeof RECORDING_GHOST + 48] = "";

// The pace the session is played at: the recording notes it after its seed when it is not
// the full one, and where it changes. Kept apart from the recording, as the options are.
int pace = FULL_SPEED;

// Ends the recording after one line on standard error; only calls that are safe in a
// signal handler.
void stop(const char* what)
{
    say("skarvolt: cannot record to ");
    say(rec.path);
    say(": ");
    say(what);
    say("\n");
    close(rec.fd);
    rec.fd = -1;
    rec.used = 0;
    // A file made for this recording that holds nothing of it goes again.
    if (rec.created && rec.size == 0)
        unlink(rec.path);
}

void stop_on_error(int error)
{
    char room[24];
    stop(error_text(error, room));
}

// Gives up on a file that start_recording could not make ready; one it created goes again.
bool abandon(const char* what)
{
    stop(what);
    return false;
}

void write_out()
{
    if (rec.fd < 0 || rec.used == 0)
        return;
    // An older recording in the file is emptied only now that the game has started and
    // has something to put in its place.
    if (!rec.written) {
        if (ftruncate(rec.fd, 0) != 0) {
            stop_on_error(errno);
            return;
        }
        rec.written = true;
    }
    // The buffer holds whole lines, and the file ends on one.
    std::size_t done = 0;
    while (done < rec.used) {
        const ssize_t n = write(rec.fd, rec.buffer + done, rec.used - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            // A recording with a gap would replay into a game that was never played, so
            // nothing more is written after the first failure; and a line cut short (a
            // full disk) could read as another, valid line ("tick 12" of "tick 123"), so
            // the file is cut back to the last line that reached it whole.
            const void* last_end = memrchr(rec.buffer, '\n', done);
            rec.size += last_end == nullptr
                ? 0
                : static_cast<const char*>(last_end) - rec.buffer + 1;
            [[maybe_unused]] const int cut = ftruncate(rec.fd, rec.size);
            stop_on_error(error);
            return;
        }
        done += static_cast<std::size_t>(n);
    }
    rec.size += static_cast<off_t>(rec.used);
    rec.used = 0;
}

void put_line(const char* text, bool with_number, std::uint32_t number)
{
    if (rec.fd < 0)
        return;
    if (sizeof rec.buffer - rec.used < LINE_ROOM) {
        write_out();
        // A failed write ends the recording and empties the buffer; this line, like every
        // later one, is dropped.
        if (rec.fd < 0)
            return;
    }
    char* p = rec.buffer + rec.used;
    const std::size_t length = std::strlen(text);
    std::memcpy(p, text, length);
    p += length;
    if (with_number) {
        *p++ = ' ';
        p = std::to_chars(p, rec.buffer + sizeof rec.buffer, number).ptr;
    }
    *p++ = '\n';
    rec.used = static_cast<std::size_t>(p - rec.buffer);
}

// The ticks that ran since the last event, as one line. Ticks run only during a run and
// each adds one to the score, so the score tells how many there were; a new run starts
// only with a press, which resets the count.
// In a quit signal's handler the score may be a tick behind the run, which only ends the
// recording a tick earlier.
void put_ticks()
{
    const std::uint32_t score = window_session().game.score;
    const std::uint32_t ticks = score - rec.counted;
    if (ticks > 0)
        put_line(event_word(Event::TICK).word, true, ticks);
    rec.counted = score;
}

// An open that can neither hang on a FIFO, nor become the terminal's, nor follow a link.
// Read too: what the file holds is looked at before it is replaced.
constexpr int OPEN_FLAGS = O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW;

constexpr char NOT_A_RECORDING[] =
    "it holds something else than a recording, which the game never writes over";
constexpr char LINK_REFUSED[] = "it is a symbolic link, which the game never writes through";

// The high-score file, by what it is rather than by its name (a hard link, a name with
// "..": the same file).
bool is_score_file(const struct stat& recording, const char* score_path)
{
    struct stat score {};
    return score_path != nullptr && score_path[0] != '\0' && stat(score_path, &score) == 0
           && score.st_dev == recording.st_dev && score.st_ino == recording.st_ino;
}

// Why the open file at fd may not be replaced by a recording, or nullptr when it may: it
// is empty, or its first line is the header this game writes.
const char* not_a_recording(int fd)
{
    char first[MAX_EVENT_LINE + 2];
    std::size_t got = 0;
    while (got < sizeof first - 1) {
        const ssize_t n = pread(fd, first + got, sizeof first - 1 - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return std::strerror(errno);
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    if (got == 0)
        return nullptr;
    first[got] = '\0';
    char* end = std::strchr(first, '\n');
    // A NUL before the line's end hides it, as well.
    if (end == nullptr)
        return NOT_A_RECORDING;
    *end = '\0';
    if (end > first && end[-1] == '\r')
        end[-1] = '\0';
    return is_recording_header(first) ? nullptr : NOT_A_RECORDING;
}

} // namespace

bool take_file_option(int* argc, char** argv, const char* option, const char** path)
{
    *path = nullptr;
    for (const Option& row : GAME_OPTIONS) {
        if (std::strcmp(row.name, option) != 0)
            continue;
        OptionGiven given;
        if (!take_option("skarvolt", row, argc, argv, &given))
            return false;
        *path = given.text;
        return true;
    }
    return false;
}

bool take_record_option(int* argc, char** argv, const char** path)
{
    return take_file_option(argc, argv, "--record", path);
}

bool start_recording(const char* path, const char* score_path)
{
    sigemptyset(&quit_signals);
    for (const int signal_number : QUIT_SIGNALS)
        sigaddset(&quit_signals, signal_number);
    rec = Recording{};
    rec.path = path;
    // What is there and is no regular file (a device, a FIFO, a directory) is not even
    // opened; nor is a link, which could lead anywhere, another user's file included.
    struct stat st {};
    if (lstat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "skarvolt: cannot record to %s: %s\n", path,
                     S_ISLNK(st.st_mode) ? LINK_REFUSED : "not a regular file");
        return false;
    }
    // Made new when it is not there; otherwise opened as it is, never through a link.
    int fd = open(path, OPEN_FLAGS | O_CREAT | O_EXCL, 0666);
    rec.created = fd >= 0;
    if (fd < 0 && errno == EEXIST)
        fd = open(path, OPEN_FLAGS);
    if (fd < 0) {
        const char* why = errno == ELOOP ? LINK_REFUSED : std::strerror(errno);
        std::fprintf(stderr, "skarvolt: cannot record to %s: %s\n", path, why);
        return false;
    }
    rec.fd = fd;
    // It may have been swapped for something else since it was looked at.
    if (fstat(fd, &st) != 0)
        return abandon(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return abandon("not a regular file");
    // The best score is the player's, and a recording in its place would stop every later
    // game from saving one; whatever name leads to it.
    if (is_score_file(st, score_path))
        return abandon("it is the high-score file");
    // One game to a file: two would interleave their lines into a session that nobody
    // played. The lock lasts as long as the file is open. A file system without locks
    // still records.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        // Not removed, even if this game made it: the game that holds it uses it.
        std::fprintf(stderr, "skarvolt: cannot record to %s: another game is recording to it\n",
                     path);
        close(fd);
        rec.fd = -1;
        return false;
    }
    // Only a recording is ever replaced: a file with anything else in it is the player's.
    if (const char* why = not_a_recording(fd))
        return abandon(why);
    // Kept clear of standard input, output and error, should one of them be closed: the
    // game's messages must not land in the recording.
    if (fd <= STDERR_FILENO) {
        const int high = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        if (high < 0)
            return abandon(std::strerror(errno));
        close(fd);
        rec.fd = high;
    }
    return true;
}

void record_options(const char* options)
{
    char line[sizeof options_line] = "";
    if (*options != '\0')
        std::snprintf(line, sizeof line, "%s%.*s", RECORDING_OPTIONS,
                      static_cast<int>(RECORD_OPTIONS_SIZE - 1), options);
    // Changed in the middle of a session (the page's panel): the file says so where it
    // happened, so that no run after it is taken for one played as the first line says.
    if (rec.fd >= 0 && rec.seeded && std::strcmp(line, options_line) != 0) {
        const Held held = hold_quit_signals();
        put_ticks();
        char changed[sizeof RECORDING_OPTIONS_CHANGED + RECORD_OPTIONS_SIZE];
        std::snprintf(changed, sizeof changed, "%s%.*s", RECORDING_OPTIONS_CHANGED,
                      static_cast<int>(RECORD_OPTIONS_SIZE - 1), *options ? options : "none");
        put_line(changed, false, 0);
        let_quit_signals_in(held);
    }
    std::memcpy(options_line, line, sizeof line);
}

void record_ghost(std::uint32_t seed, std::uint32_t score)
{
    std::snprintf(ghost_line, sizeof ghost_line, "%srun of seed %u, score %u", RECORDING_GHOST,
                  seed, score);
}

void record_no_ghost()
{
    ghost_line[0] = '\0';
}

void record_seed(std::uint32_t seed)
{
    const Held held = hold_quit_signals();
    // What the file is, and which game wrote it.
    char header[sizeof RECORDING_HEADER_START + sizeof VERSION + sizeof RECORDING_HEADER_END];
    std::snprintf(header, sizeof header, "%s%s%s", RECORDING_HEADER_START, VERSION,
                  RECORDING_HEADER_END);
    put_line(header, false, 0);
    if (options_line[0] != '\0')
        put_line(options_line, false, 0);
    if (ghost_line[0] != '\0')
        put_line(ghost_line, false, 0);
    put_line(event_word(Event::SEED).word, true, seed);
    if (pace != FULL_SPEED)
        put_line(event_word(Event::SPEED).word, true, static_cast<std::uint32_t>(pace));
    rec.seeded = true;
    write_out();
    let_quit_signals_in(held);
}

void record_seed_again(std::uint32_t seed)
{
    const Held held = hold_quit_signals();
    put_ticks();
    put_line(event_word(Event::SEED).word, true, seed);
    let_quit_signals_in(held);
}

void record_speed(int percent)
{
    if (percent == pace)
        return;
    pace = percent;
    if (rec.fd < 0 || !rec.seeded)
        return;
    const Held held = hold_quit_signals();
    put_ticks();
    put_line(event_word(Event::SPEED).word, true, static_cast<std::uint32_t>(percent));
    let_quit_signals_in(held);
}

void record_input(Event event, void (*verb)())
{
    const Held held = hold_quit_signals();
    put_ticks();
    put_line(event_word(event).word, false, 0);
    verb();
    rec.counted = window_session().game.score;
    let_quit_signals_in(held);
}

void record_best(std::uint32_t best)
{
    const Held held = hold_quit_signals();
    put_ticks();
    put_line(event_word(Event::BEST).word, true, best);
    let_quit_signals_in(held);
}

void record_crash_frame()
{
    const Held held = hold_quit_signals();
    put_ticks();
    put_line(event_word(Event::FRAME).word, false, 0);
    write_out();
    let_quit_signals_in(held);
}

namespace {

// The end of a recording, by the game or by a quit signal's handler: only calls that are
// safe in a signal handler.
void finish()
{
    if (rec.fd < 0)
        return;
    put_ticks();
    write_out();
    if (rec.fd < 0)
        return;
    close(rec.fd);
    rec.fd = -1;
    // A game that never got as far as its seed (no window, say) leaves nothing behind,
    // and a file that was there keeps what it held.
    if (rec.created && !rec.written)
        unlink(rec.path);
}

// Finishes the recording, then lets the signal end the game as it would have.
void on_quit_signal(int signal_number)
{
    in_signal_handler = 1;
    finish();
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal_number, &fallback, nullptr);
    raise(signal_number);
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
}

} // namespace

void flush_recording()
{
    const Held held = hold_quit_signals();
    put_ticks();
    write_out();
    let_quit_signals_in(held);
}

void finish_recording()
{
    const Held held = hold_quit_signals();
    finish();
    let_quit_signals_in(held);
}

void finish_recording_on_quit_signals()
{
    struct sigaction action {};
    action.sa_handler = on_quit_signal;
    // Every quit signal waits while the handler of another runs.
    action.sa_mask = quit_signals;
    for (const int signal_number : QUIT_SIGNALS) {
        // A signal the game was started to ignore (nohup, a background job) stays ignored.
        struct sigaction before {};
        if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
            continue;
        sigaction(signal_number, &action, nullptr);
    }
}
