#include "store/high_score.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "game/best.h"
#include "game/state.h"

namespace {

// Longest home directory that still leaves room for "/" and the file name in score_path.
constexpr std::size_t HOME_MAX = SCORE_PATH_SIZE - 1 - 1 - (sizeof SCORE_FILE_NAME - 1);
static_assert(HOME_MAX == 245);

// The score file: where the game keeps its best, NUL-terminated.
char score_path[SCORE_PATH_SIZE] = "";

// Symbolic links followed before giving up, as the kernel does.
constexpr int LINK_HOPS_MAX = 40;

// The file that a write of path replaces: path itself, or, when it is a symbolic link,
// the file at the end of the chain of links (which need not exist yet). The link is the
// user's to keep, so the file it names is the one replaced.
bool resolve_target(const char* path, char* target)
{
    std::strcpy(target, path);
    for (int hop = 0; hop < LINK_HOPS_MAX; ++hop) {
        struct stat st;
        if (lstat(target, &st) != 0 || !S_ISLNK(st.st_mode))
            return true;
        char link[PATH_MAX];
        const ssize_t n = readlink(target, link, sizeof link - 1);
        // EINVAL: a file has taken the link's place since lstat; it is the target now,
        // as if lstat had seen it.
        if (n < 0 && errno == EINVAL)
            return true;
        if (n < 0)
            return false;
        link[n] = '\0';
        if (link[0] == '/') {
            std::strcpy(target, link);
            continue;
        }
        // A relative link is read from the directory that holds it.
        const char* slash = std::strrchr(target, '/');
        const std::size_t dir_len = slash ? static_cast<std::size_t>(slash - target) + 1 : 0;
        if (dir_len + static_cast<std::size_t>(n) >= PATH_MAX) {
            errno = ENAMETOOLONG;
            return false;
        }
        std::memcpy(target + dir_len, link, static_cast<std::size_t>(n) + 1);
    }
    errno = ELOOP;
    return false;
}

bool write_all(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// One line on standard error naming the file, as perror gives it.
void report(const char* path, int error)
{
    errno = error;
    std::perror(path);
}

// A device, a FIFO or a socket is never opened: opening some devices has effects of
// their own, and a FIFO would wait for a writer. A directory says so itself.
void report_not_regular(const char* path, mode_t mode)
{
    if (S_ISDIR(mode))
        report(path, EISDIR);
    else
        std::fprintf(stderr, "%s: Not a regular file\n", path);
}

bool same_file(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// How long a save waits for another game's save of the same file. A save takes
// milliseconds; a lock held for longer belongs to something stuck, and the crash must
// not freeze the game for it.
constexpr long LOCK_WAIT_NS = 2'000'000'000;
constexpr long LOCK_POLL_NS = 1'000'000;

long long now_ns()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

enum class Lock { HELD, NOT_SUPPORTED, TIMED_OUT };

// Waits, until the deadline at most, for the exclusive lock on the open file. A file
// system without locks saves unserialised, as before there were locks.
Lock lock_file(int fd, long long deadline)
{
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return Lock::HELD;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return Lock::NOT_SUPPORTED;
        if (now_ns() >= deadline)
            return Lock::TIMED_OUT;
        const struct timespec pause = {0, LOCK_POLL_NS};
        nanosleep(&pause, nullptr);
    }
}

// Opens the directory that holds target, once per save: every later step names the file
// relative to it, so a directory or a link swapped in along the path meanwhile changes
// nothing. name points at the file's name in target. Without read permission on the
// directory it is opened for lookups alone (and cannot be flushed).
int open_directory(const char* target, const char** name)
{
    char dir[PATH_MAX];
    const char* slash = std::strrchr(target, '/');
    if (!slash) {
        std::strcpy(dir, ".");
        *name = target;
    } else {
        const std::size_t length = slash == target ? 1 : static_cast<std::size_t>(slash - target);
        std::memcpy(dir, target, length);
        dir[length] = '\0';
        *name = slash + 1;
    }
    const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 || errno != EACCES)
        return fd;
    return open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// The temporary file of a save is named after the file it replaces, so it can only be
// the game's; it exists only while the lock is held, so one found by a lock holder was
// left by a save that was killed.
constexpr char SAVE_SUFFIX[] = ".skarvolt-save";

bool temp_name(const char* name, char* temp)
{
    if (std::snprintf(temp, PATH_MAX, "%s%s", name, SAVE_SUFFIX) >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return false;
    }
    return true;
}

void remove_stale_temp(int dir, const char* name)
{
    char temp[PATH_MAX];
    struct stat st;
    if (temp_name(name, temp) && fstatat(dir, temp, &st, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(st.st_mode) && st.st_uid == geteuid())
        unlinkat(dir, temp, 0);
}

// A new file, not yet in the directory: unnamed where the file system allows it, so a
// save killed part-way leaves nothing behind; else under the save's own name.
int open_temp(int dir, const char* temp, bool unnamed, mode_t mode)
{
    if (unnamed)
        return openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    return openat(dir, temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
}

// Gives an unnamed file the save's name, through /proc, or directly where the process
// may (root).
bool name_temp(int fd, int dir, const char* temp)
{
    char self[32];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    return linkat(AT_FDCWD, self, dir, temp, AT_SYMLINK_FOLLOW) == 0
           || linkat(fd, "", dir, temp, AT_EMPTY_PATH) == 0;
}

bool out_of_space(int error)
{
    return error == ENOSPC || error == EDQUOT;
}

// The rename is on disk only once its directory is. A directory open for lookups alone,
// or a file system that cannot flush one, has nothing more to do.
bool flush_directory(int dir)
{
    return fsync(dir) == 0 || errno == EBADF || errno == EINVAL;
}

enum class Save { DONE, FAILED, NO_TEMP, NO_SPACE };

// Replaces the file called name in dir with one holding line. The line goes to a
// temporary file beside it, which is renamed over the old one only once it is safely on
// disk, so an I/O error can never leave a truncated file behind. The rename replaces
// the directory's entry itself and never follows a link there. NO_TEMP: no temporary
// file could be made beside the target; NO_SPACE: the disk or the quota is full.
Save replace_through_temp(int dir, const char* name, const char* line, std::size_t length,
                          mode_t mode)
{
    char temp[PATH_MAX];
    if (!temp_name(name, temp))
        return Save::NO_TEMP;
    for (const bool unnamed : {true, false}) {
        const int fd = open_temp(dir, temp, unnamed, mode);
        if (fd < 0 && out_of_space(errno))
            return Save::NO_SPACE;
        if (fd < 0)
            continue;
        (void)fchmod(fd, mode); // best effort: some file systems keep no modes
        bool ok = write_all(fd, line, length) && fsync(fd) == 0;
        int error = errno;
        if (ok && unnamed && !name_temp(fd, dir, temp)) {
            // Naming it needs /proc or privilege: write it again under its name.
            close(fd);
            continue;
        }
        const bool named = ok || !unnamed;
        if (close(fd) != 0 && ok) {
            ok = false;
            error = errno;
        }
        if (ok && renameat(dir, temp, dir, name) != 0) {
            ok = false;
            error = errno;
        }
        if (!ok && named)
            unlinkat(dir, temp, 0);
        if (ok && !flush_directory(dir)) {
            ok = false;
            error = errno;
        }
        errno = error;
        if (ok)
            return Save::DONE;
        return out_of_space(error) ? Save::NO_SPACE : Save::FAILED;
    }
    return Save::NO_TEMP;
}

enum class Write { DONE, FAILED, MOVED };

// Rewrites the locked file where it is: for a score file the player may write in a
// directory the player may not, one shared with others, one with other names (hard
// links) that must all see the score, and a full disk (the number needs no new block).
// The new number goes over the old one before the rest is cut off, so the file never
// stands empty and a reader never sees less than a whole number. MOVED: the name no
// longer leads to the locked file.
Write rewrite_in_place(int dir, const char* name, const struct stat& locked, const char* line,
                       std::size_t length)
{
    const int fd = openat(dir, name, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return errno == ELOOP || errno == ENOENT ? Write::MOVED : Write::FAILED;
    struct stat st;
    if (fstat(fd, &st) == 0 && !same_file(st, locked)) {
        close(fd);
        return Write::MOVED;
    }
    bool ok = pwrite(fd, line, length, 0) == static_cast<ssize_t>(length)
              && ftruncate(fd, static_cast<off_t>(length)) == 0 && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    errno = error;
    return ok ? Write::DONE : Write::FAILED;
}

// Opens the score file for reading without ever blocking: anything but a regular file
// is refused before it is opened, and again after, should the path have changed in
// between. -1 when it cannot be read (errno set; not_regular holds the mode of a
// refused file, else 0).
int open_score_file(const char* path, mode_t* not_regular)
{
    *not_regular = 0;
    struct stat st;
    if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        *not_regular = st.st_mode;
        return -1;
    }
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = errno;
        close(fd);
        *not_regular = S_ISREG(st.st_mode) ? 0 : st.st_mode;
        errno = error;
        return -1;
    }
    return fd;
}

// One pass of a save. AGAIN: the file at the path was replaced or moved while this pass
// worked, and must be read anew.
enum class Pass { DONE, AGAIN };

// The pass proper, once the file is open and locked (lock: how), and found to be the one
// the directory names.
void save_locked(const char* path, int dir, const char* name, int fd, Lock lock,
                 const struct stat& locked, bool created, std::uint32_t best,
                 SavedBest* answer, bool* moved)
{
    if (lock == Lock::HELD)
        remove_stale_temp(dir, name);

    std::uint32_t stored = 0;
    bool score_text = false;
    if (!read_stored_score(fd, &stored, &score_text)) {
        // Whatever it holds may be the best score: never write over it.
        std::perror(path);
        return;
    }
    answer->stored = stored;
    const BestMerge merge = merge_best(best, stored);
    if (!merge.store) {
        answer->kept = true;
        return;
    }
    // Never cut what is not a score file (a password file, someone's keys behind a link)
    // to one number: the best stays in memory.
    if (!score_text) {
        std::fprintf(stderr, "%s: not a score file\n", path);
        return;
    }

    char line[16];
    const std::size_t length =
        static_cast<std::size_t>(std::snprintf(line, sizeof line, "%u\n", merge.best));
    Write written = Write::FAILED;
    if (!created && faccessat(dir, name, R_OK | W_OK, 0) != 0) {
        // Replacing needs only the directory's permission: refuse what opening the file
        // for update would be refused.
    } else if (created || locked.st_uid != geteuid() || locked.st_gid != getegid()
               || locked.st_nlink > 1) {
        // A file made empty for this save; another user's file, or one shared through its
        // group (a replacement would be this player's own and could shut the others out
        // of it, and a sticky directory refuses the rename); a file with other names.
        written = rewrite_in_place(dir, name, locked, line, length);
    } else {
        switch (replace_through_temp(dir, name, line, length, locked.st_mode & 07777)) {
        case Save::DONE:
            written = Write::DONE;
            break;
        case Save::FAILED:
            break;
        case Save::NO_TEMP:
        case Save::NO_SPACE:
            written = rewrite_in_place(dir, name, locked, line, length);
            break;
        }
    }
    const int error = errno;
    // A file made for this save and left empty would only confuse.
    if (written == Write::FAILED && created)
        unlinkat(dir, name, 0);
    answer->kept = written == Write::DONE;
    *moved = written == Write::MOVED;
    if (written == Write::FAILED)
        report(path, error);
}

// The pass once the file is open: locked, found to be the one the directory names, saved.
Pass lock_and_save(const char* path, int dir, const char* name, int fd, bool created,
                   std::uint32_t best, SavedBest* answer, long long deadline)
{
    struct stat locked;
    if (fstat(fd, &locked) != 0) {
        std::perror(path);
        return Pass::DONE;
    }
    if (!S_ISREG(locked.st_mode)) {
        report_not_regular(path, locked.st_mode);
        return Pass::DONE;
    }
    const Lock lock = lock_file(fd, deadline);
    if (lock == Lock::TIMED_OUT) {
        report(path, EWOULDBLOCK);
        return Pass::DONE;
    }
    struct stat now;
    if (fstatat(dir, name, &now, AT_SYMLINK_NOFOLLOW) != 0 || !same_file(locked, now))
        return Pass::AGAIN;
    bool moved = false;
    save_locked(path, dir, name, fd, lock, locked, created, best, answer, &moved);
    return moved ? Pass::AGAIN : Pass::DONE;
}

// The pass in the directory opened for it. Every step names the file in that directory
// and never follows a link in it: one found there now was swapped in since the path was
// resolved.
Pass save_in(const char* path, int dir, const char* name, std::uint32_t best, SavedBest* answer,
             bool* missing_reported, long long deadline)
{
    struct stat st;
    bool created = false;
    int fd = -1;
    if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode))
            return Pass::AGAIN;
        if (!S_ISREG(st.st_mode)) {
            report_not_regular(path, st.st_mode);
            return Pass::DONE;
        }
        fd = openat(dir, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0 && (errno == ELOOP || errno == ENOENT))
            return Pass::AGAIN;
    } else if (errno == ENOENT) {
        if (!*missing_reported)
            std::perror(path);
        *missing_reported = true;
        // Nothing stored, and nothing to store: nothing is made.
        if (!merge_best(best, 0).store) {
            answer->kept = true;
            return Pass::DONE;
        }
        // The file is made empty and locked at once, so two games creating it meet at
        // its lock.
        fd = openat(dir, name, O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW,
                    0666);
        if (fd < 0 && errno == EEXIST)
            return Pass::AGAIN;
        created = true;
    }
    if (fd < 0) {
        std::perror(path);
        return Pass::DONE;
    }
    const Pass pass = lock_and_save(path, dir, name, fd, created, best, answer, deadline);
    close(fd);
    return pass;
}

Pass save_once(const char* path, std::uint32_t best, SavedBest* answer, bool* missing_reported,
               long long deadline)
{
    *answer = {0, false};
    char target[PATH_MAX];
    const char* name = nullptr;
    if (!resolve_target(path, target)) {
        std::perror(path);
        return Pass::DONE;
    }
    const int dir = open_directory(target, &name);
    if (dir < 0) {
        std::perror(path);
        return Pass::DONE;
    }
    const Pass pass = save_in(path, dir, name, best, answer, missing_reported, deadline);
    close(dir);
    return pass;
}
} // namespace

void build_score_path()
{
    const struct passwd* entry = getpwuid(getuid());
    if (entry && entry->pw_dir && std::strlen(entry->pw_dir) <= HOME_MAX)
        std::snprintf(score_path, sizeof score_path, "%s/%s", entry->pw_dir, SCORE_FILE_NAME);
    else
        std::strcpy(score_path, SCORE_FILE_NAME);
}

void use_score_path(const char* path)
{
    std::snprintf(score_path, sizeof score_path, "%s", path);
}

const char* score_file_path()
{
    return score_path;
}

bool read_stored_score(int fd, std::uint32_t* value, bool* score_text)
{
    char text[SCORE_READ_MAX + 1];
    std::size_t stored = 0;
    while (stored < SCORE_READ_MAX) {
        const ssize_t n = read(fd, text + stored, SCORE_READ_MAX - stored);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        stored += static_cast<std::size_t>(n);
    }
    text[stored] = '\0';
    *value = parse_stored_score(text);
    if (score_text)
        *score_text = holds_score_text(text, stored);
    return true;
}

std::uint32_t load_best_score(const GameState& /*game*/)
{
    const char* path = score_path;
    mode_t not_regular = 0;
    const int fd = open_score_file(path, &not_regular);
    std::uint32_t stored = 0;
    if (fd < 0 && not_regular != 0)
        report_not_regular(path, not_regular);
    else if (fd < 0 || !read_stored_score(fd, &stored))
        std::perror(path);
    if (fd < 0)
        return stored;
    // A save killed part-way may have left its temporary file. Whoever holds the lock
    // may clear it; start-up takes the lock only when it is free, and never waits.
    char target[PATH_MAX];
    const char* name = nullptr;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && resolve_target(path, target)) {
        const int dir = open_directory(target, &name);
        if (dir >= 0) {
            remove_stale_temp(dir, name);
            close(dir);
        }
    }
    close(fd);
    return stored;
}

SavedBest save_best_score(const GameState& /*game*/, std::uint32_t best)
{
    const long long deadline = now_ns() + LOCK_WAIT_NS;
    bool missing_reported = false;
    SavedBest answer{0, false};
    while (save_once(score_path, best, &answer, &missing_reported, deadline) == Pass::AGAIN) {
        if (now_ns() >= deadline) {
            report(score_path, EWOULDBLOCK);
            return {0, false};
        }
    }
    return answer;
}
