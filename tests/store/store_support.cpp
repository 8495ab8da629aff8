#include "store_support.h"

#include <algorithm>
#include <cstdarg>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "game/best.h"
#include "game/state.h"
#include "store/high_score.h"
#include "support/files.h"

namespace store_test {

GameState game;

namespace {

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// What the shell does: the title screen (no score, no best yet) loads, a crash saves.
bool merge(const std::string& path, std::uint32_t score, std::uint32_t high_score)
{
    use_score_path(path.c_str());
    game.score = score;
    bool kept = true;
    if (score == 0 && high_score == 0) {
        game.high_score = load_best_score(game);
    } else {
        const std::uint32_t known = merge_best(score, high_score).best;
        const SavedBest saved = save_best_score(game, known);
        game.high_score = merge_best(known, saved.stored).best;
        kept = saved.kept;
    }
    std::fflush(stderr);
    return kept;
}

} // namespace

Faults faults;

std::string Faults::fail_reads_of(const std::string& path, std::size_t after)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return "stat " + path + ": " + std::strerror(errno);
    reads_armed = true;
    dev = st.st_dev;
    ino = st.st_ino;
    good_bytes = after;
    return "";
}

void sync_score(const std::string& path, std::uint32_t score)
{
    merge(path, score, game.high_score);
}

SyncResult sync_here(const std::string& path, std::uint32_t score, std::uint32_t high_score)
{
    const int capture = memfd_create("stderr", 0);
    const int saved = dup(STDERR_FILENO);
    if (capture < 0 || saved < 0)
        fail("capture stderr");
    std::fflush(stderr);
    dup2(capture, STDERR_FILENO);
    const bool kept = merge(path, score, high_score);
    dup2(saved, STDERR_FILENO);
    close(saved);

    SyncResult result;
    result.high_score = game.high_score;
    result.kept = kept;
    result.err = test_support::read_fd(capture);
    result.ran = true;
    close(capture);
    return result;
}

SyncResult sync_in_child(const std::string& path, std::uint32_t score, std::uint32_t high_score,
                         const std::function<std::string()>& setup,
                         const std::function<std::string()>& inspect)
{
    const int capture = memfd_create("stderr", 0);
    int result_pipe[2];
    if (capture < 0 || pipe(result_pipe) != 0)
        fail("capture child");
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0)
        fail("fork");
    if (child == 0) {
        alarm(10);
        close(result_pipe[0]);
        dup2(capture, STDERR_FILENO);
        const std::string problem = setup();
        if (!problem.empty()) {
            std::fprintf(stderr, "set-up failed: %s\n", problem.c_str());
            _exit(2);
        }
        const char kept = merge(path, score, high_score) ? 'k' : '-';
        std::string answer(reinterpret_cast<const char*>(&game.high_score), sizeof game.high_score);
        answer += kept;
        if (inspect)
            answer += inspect();
        _exit(write(result_pipe[1], answer.data(), answer.size()) ==
                      static_cast<ssize_t>(answer.size())
                  ? 0
                  : 3);
    }
    close(result_pipe[1]);
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = read(result_pipe[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<std::size_t>(n));
    close(result_pipe[0]);
    SyncResult result;
    const bool got = answer.size() > sizeof result.high_score;
    if (got) {
        std::memcpy(&result.high_score, answer.data(), sizeof result.high_score);
        result.kept = answer[sizeof result.high_score] == 'k';
        result.seen = answer.substr(sizeof result.high_score + 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    result.ran = got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.err = test_support::read_fd(capture);
    if (!result.ran && WIFSIGNALED(status))
        result.err += "child killed by signal " + std::to_string(WTERMSIG(status)) + "\n";
    close(capture);
    return result;
}

} // namespace store_test

using store_test::faults;

extern "C" ssize_t read(int fd, void* buffer, std::size_t size)
{
    struct stat st;
    if (faults.reads_armed && fstat(fd, &st) == 0 && st.st_dev == faults.dev
        && st.st_ino == faults.ino) {
        if (faults.good_bytes == 0) {
            errno = EIO;
            return -1;
        }
        size = std::min(size, faults.good_bytes);
        const ssize_t n = syscall(SYS_read, fd, buffer, size);
        if (n > 0)
            faults.good_bytes -= static_cast<std::size_t>(n);
        return n;
    }
    return syscall(SYS_read, fd, buffer, size);
}

namespace {

int open_at(int dir, const char* path, int flags, mode_t mode)
{
    if (faults.refuse_unnamed && (flags & O_TMPFILE) == O_TMPFILE) {
        ++faults.unnamed_refused;
        errno = EOPNOTSUPP;
        return -1;
    }
    return static_cast<int>(syscall(SYS_openat, dir, path, flags, mode));
}

} // namespace

extern "C" int open(const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return open_at(AT_FDCWD, path, flags, mode);
}

extern "C" int openat(int dir, const char* path, int flags, ...)
{
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    return open_at(dir, path, flags, mode);
}

extern "C" int fsync(int fd)
{
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
        ++faults.directories_flushed;
    return static_cast<int>(syscall(SYS_fsync, fd));
}
