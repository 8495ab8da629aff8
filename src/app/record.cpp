#include "app/record.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/shell.h"

namespace {

constexpr char OPTION[] = "--record";

constexpr char OPTIONS_PREFIX[] = "# options: ";

// Comfortably more than the longest line, the options' comment.
constexpr std::size_t LINE_ROOM = sizeof OPTIONS_PREFIX + RECORD_OPTIONS_SIZE + 8;

struct Recording {
    int fd = -1;
    const char* path = nullptr;
    bool created = false;          // the file did not exist before
    bool written = false;          // something reached the file
    std::uint32_t counted = 0;     // game.score when the last tick was accounted for
    std::size_t used = 0;
    char buffer[4096];
};

Recording rec;

// The options' comment line, without its line feed; "" for none. Kept apart from the
// recording, which start_recording clears.
char options_line[sizeof OPTIONS_PREFIX + RECORD_OPTIONS_SIZE] = "";

void stop(const char* what)
{
    std::fprintf(stderr, "skarvolt: cannot record to %s: %s\n", rec.path, what);
    close(rec.fd);
    rec.fd = -1;
    rec.used = 0;
}

// Gives up on a file that start_recording could not make ready; one it created goes again.
bool abandon(const char* what)
{
    stop(what);
    if (rec.created)
        unlink(rec.path);
    return false;
}

void write_out()
{
    if (rec.fd < 0 || rec.used == 0)
        return;
    // An older recording in the file is emptied only now that the game has started and
    // has something to put in its place.
    if (!rec.written && ftruncate(rec.fd, 0) != 0) {
        stop(std::strerror(errno));
        return;
    }
    const char* data = rec.buffer;
    std::size_t left = rec.used;
    while (left > 0) {
        const ssize_t n = write(rec.fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A recording with a gap would replay into a game that was never played, so
            // nothing more is written after the first failure.
            stop(n < 0 ? std::strerror(errno) : "nothing written");
            return;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
        rec.written = true;
    }
    rec.used = 0;
}

void put_line(const char* word, bool with_number, std::uint32_t number)
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
    const std::size_t length = std::strlen(word);
    std::memcpy(p, word, length);
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
void put_ticks()
{
    const std::uint32_t ticks = game.score - rec.counted;
    if (ticks > 0)
        put_line("tick", true, ticks);
    rec.counted = game.score;
}

// An open that can neither hang on a FIFO nor become the terminal's.
constexpr int OPEN_FLAGS = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

} // namespace

bool take_record_option(int* argc, char** argv, const char** path)
{
    *path = nullptr;
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        const char* arg = argv[i];
        const char* value = nullptr;
        if (std::strcmp(arg, OPTION) == 0) {
            if (i + 1 == *argc) {
                std::fprintf(stderr, "skarvolt: %s needs a file name\n", OPTION);
                return false;
            }
            value = argv[++i];
        } else if (std::strncmp(arg, OPTION, sizeof OPTION - 1) == 0
                   && arg[sizeof OPTION - 1] == '=') {
            value = arg + sizeof OPTION;
        } else {
            argv[kept++] = argv[i];
            continue;
        }
        if (*path != nullptr) {
            std::fprintf(stderr, "skarvolt: %s given twice\n", OPTION);
            return false;
        }
        if (*value == '\0') {
            std::fprintf(stderr, "skarvolt: %s needs a file name\n", OPTION);
            return false;
        }
        *path = value;
    }
    if (*argc > 0) {
        argv[kept] = nullptr;
        *argc = kept;
    }
    return true;
}

bool start_recording(const char* path)
{
    rec = Recording{};
    rec.path = path;
    // What is there and is no regular file (a device, a FIFO, a directory, or a link to
    // one) is not even opened.
    struct stat st {};
    if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "skarvolt: cannot record to %s: not a regular file\n", path);
        return false;
    }
    // Made new when it is not there; otherwise opened as it is, a link followed.
    int fd = open(path, OPEN_FLAGS | O_CREAT | O_EXCL, 0666);
    rec.created = fd >= 0;
    if (fd < 0 && errno == EEXIST)
        fd = open(path, OPEN_FLAGS);
    if (fd < 0) {
        std::fprintf(stderr, "skarvolt: cannot record to %s: %s\n", path, std::strerror(errno));
        return false;
    }
    rec.fd = fd;
    // It may have been swapped for something else since it was looked at.
    if (fstat(fd, &st) != 0)
        return abandon(std::strerror(errno));
    if (!S_ISREG(st.st_mode))
        return abandon("not a regular file");
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
    options_line[0] = '\0';
    if (*options != '\0')
        std::snprintf(options_line, sizeof options_line, "%s%.*s", OPTIONS_PREFIX,
                      static_cast<int>(RECORD_OPTIONS_SIZE - 1), options);
}

void record_seed(std::uint32_t seed)
{
    if (options_line[0] != '\0')
        put_line(options_line, false, 0);
    put_line("seed", true, seed);
    write_out();
}

void record_input(const char* word, void (*verb)())
{
    put_ticks();
    put_line(word, false, 0);
    verb();
    rec.counted = game.score;
}

void record_crash_frame()
{
    put_ticks();
    put_line("frame", false, 0);
    write_out();
}

void finish_recording()
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
