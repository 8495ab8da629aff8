#include "store/high_score.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "game/state.h"

namespace {

// Longest home directory that still leaves room for "/" and the file name in score_path.
constexpr std::size_t HOME_MAX = SCORE_PATH_SIZE - 1 - 1 - (sizeof SCORE_FILE_NAME - 1);
static_assert(HOME_MAX == 245);

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

// Permissions of the replacement: those of the file it replaces, or what a newly
// created stream would get (read and write for everyone, less the umask).
mode_t replacement_mode(const char* target)
{
    struct stat st;
    if (stat(target, &st) == 0)
        return st.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Replaces the high-score file with one holding value. The new line goes to a temporary
// file beside it, which is renamed over the old one only once it is safely on disk, so
// a full disk or an I/O error can never leave a truncated file behind.
bool replace_score_file(std::uint32_t value)
{
    char target[PATH_MAX];
    if (!resolve_target(game.score_path, target))
        return false;
    // Refuse what truncating the file in place would be refused.
    if (access(target, F_OK) == 0 && access(target, R_OK | W_OK) != 0)
        return false;

    char temp[PATH_MAX];
    if (std::snprintf(temp, sizeof temp, "%s.XXXXXX", target) >= static_cast<int>(sizeof temp)) {
        errno = ENAMETOOLONG;
        return false;
    }
    const mode_t mode = replacement_mode(target);
    const int fd = mkstemp(temp);
    if (fd < 0)
        return false;

    char line[16];
    const int length = std::snprintf(line, sizeof line, "%u\n", value);
    (void)fchmod(fd, mode); // best effort: some file systems keep no modes
    bool ok = write_all(fd, line, static_cast<std::size_t>(length)) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && rename(temp, target) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temp);
        errno = error;
    }
    return ok;
}

} // namespace

void build_score_path()
{
    const struct passwd* entry = getpwuid(getuid());
    if (entry && entry->pw_dir && std::strlen(entry->pw_dir) <= HOME_MAX)
        std::snprintf(game.score_path, sizeof game.score_path, "%s/%s", entry->pw_dir,
                      SCORE_FILE_NAME);
    else
        std::strcpy(game.score_path, SCORE_FILE_NAME);
}

std::uint32_t parse_stored_score(const char* text)
{
    const long value = std::strtol(text, nullptr, 10);
    return static_cast<std::uint32_t>(static_cast<unsigned long>(value));
}

std::uint32_t read_stored_score(std::FILE* stream)
{
    char text[SCORE_READ_MAX + 1];
    int stored = 0;
    for (;;) {
        const int c = std::fgetc(stream);
        if (c == EOF || stored == SCORE_READ_MAX)
            break;
        text[stored++] = static_cast<char>(c);
    }
    text[stored] = '\0';
    return parse_stored_score(text);
}

void sync_high_score()
{
    game.high_score = std::max(game.score, game.high_score);

    std::uint32_t stored = 0;
    if (std::FILE* file = std::fopen(game.score_path, "r")) {
        stored = read_stored_score(file);
        std::fclose(file);
    } else {
        std::perror(game.score_path);
    }

    game.high_score = std::max(stored, game.high_score);
    if (stored == game.high_score)
        return;
    if (!replace_score_file(game.high_score))
        std::perror(game.score_path);
}
