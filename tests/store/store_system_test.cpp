// The high-score file where the system gets in the way: home directories from a faked
// password database, a read-only directory and a full file system in private mounts.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "game/state.h"
#include "store/high_score.h"
#include "store_support.h"
#include "support/files.h"
#include "support/mounts.h"
#include "support/passwd.h"
#include "support/scratch.h"

using namespace store_test;
using namespace test_support;

namespace {

struct ProbeResult {
    int status = -1; // exit status, or -1 when it did not exit normally
    std::string out, err;
};

// Runs the probe in cwd with the password entry of this user faked to the given home
// (no entry at all when home is empty), and HOME pointing elsewhere, to show that the
// environment is never consulted.
ProbeResult run_probe(const ScratchDir& scratch, std::optional<std::string> home,
                      const std::string& cwd, const std::vector<std::string>& args)
{
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    const std::string passwd = scratch / "passwd";
    const std::string group = scratch / "group";
    // With no entry for this user, the database still holds someone else.
    write_password_files(home ? PasswordEntry{"player", uid, gid, "players", *home}
                              : PasswordEntry{"other", uid + 4242, gid, "players", "/nonexistent"},
                         passwd, group);
    const std::vector<std::string> nss = nss_wrapper_environment(passwd, group);
    const std::string decoy_home = scratch / "env-home";
    mkdir(decoy_home.c_str(), 0755);

    std::vector<std::string> argv_text{SCORE_PROBE};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const int out = memfd_create("out", 0);
    const int err = memfd_create("err", 0);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        for (const std::string& entry : nss) {
            const std::size_t equals = entry.find('=');
            setenv(entry.substr(0, equals).c_str(), entry.c_str() + equals + 1, 1);
        }
        setenv("HOME", decoy_home.c_str(), 1);
        // A sanitized probe would otherwise object to the library loaded before it, and
        // its leak check needs /proc, which the chroot hides.
        const char* asan = getenv("ASAN_OPTIONS");
        const std::string options =
            std::string(asan ? asan : "") + ":verify_asan_link_order=0:detect_leaks=0";
        setenv("ASAN_OPTIONS", options.c_str(), 1);
        alarm(10);
        execv(argv[0], argv.data());
        _exit(127);
    }
    ProbeResult result;
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    result.out = read_fd(out);
    result.err = read_fd(err);
    close(out);
    close(err);
    EXPECT_EQ(list_dir(decoy_home), "") << "the file went to $HOME";
    return result;
}

struct HomeCase {
    const char* name;
    std::optional<std::string> home_below; // home, relative to the scratch directory
    std::size_t home_length;               // checked when not 0
    std::string expected_path;             // "" : the home plus "/.skarvolt"
    std::string file;                      // where the file lands, relative to scratch
};

TEST(HighScoreHome, PathComesFromThePasswordEntry)
{
    // Every scratch directory has the same length, so names can be cut to length here.
    const std::size_t base = ScratchDir().path.size() + 1;
    ASSERT_LT(base, 200u);
    const std::string name_245(245 - base, 'h');
    const std::string name_246(246 - base, 'h');

    const HomeCase cases[] = {
        {"ordinary home", "home", 0, "", "home/.skarvolt"},
        {"home of 245 characters", name_245, 245, "", name_245 + "/.skarvolt"},
        {"home of 246 characters: working directory", name_246, 246, ".skarvolt",
         "work/.skarvolt"},
        {"home with a trailing slash", "home/", 0, "", "home/.skarvolt"},
        {"no entry for this user: working directory", std::nullopt, 0, ".skarvolt",
         "work/.skarvolt"},
    };
    for (const HomeCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        ASSERT_EQ(mkdir((dir / "work").c_str(), 0755), 0);
        std::optional<std::string> home;
        if (c.home_below) {
            home = dir / *c.home_below;
            ASSERT_EQ(mkdir(home->c_str(), 0755), 0);
        }
        if (c.home_length != 0) {
            ASSERT_EQ(home->size(), c.home_length);
        }
        const std::string expected = c.expected_path.empty() ? *home + "/.skarvolt"
                                                             : c.expected_path;

        const ProbeResult r = run_probe(dir, home, dir / "work", {expected, "45", "0"});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.out, expected + "\n45\n");
        EXPECT_EQ(r.err, perror_line(expected, ENOENT));
        EXPECT_EQ(read_file(dir / c.file), "45\n");
        EXPECT_EQ(list_dir(dir / "work"), c.file.starts_with("work/") ? ".skarvolt" : "");
    }
}

TEST(HighScoreHome, EmptyHomePutsTheFileInTheRootDirectory)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give the probe a root directory of its own";
    ScratchDir dir;
    const std::string root = dir / "root";
    ASSERT_EQ(mkdir(root.c_str(), 0755), 0);

    // The probe builds the path, then is shut into the scratch root before it merges.
    const ProbeResult r = run_probe(dir, "", dir.path, {"/.skarvolt", "45", "0", root});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "/.skarvolt\n45\n");
    EXPECT_EQ(r.err, perror_line("/.skarvolt", ENOENT));
    EXPECT_EQ(read_file(root + "/.skarvolt"), "45\n");
}

std::string refuse_writes(const std::string& dir, const char*)
{
    return mount_bind(bind_remounted(dir, dir, MS_RDONLY));
}

std::string fill_up(const std::string& dir, const char* before)
{
    if (const std::string problem = mount_small_tmpfs(dir); !problem.empty())
        return problem;
    if (before)
        write_file(dir + "/.skarvolt", before);
    const int filler = open((dir + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
    const std::string block(4096, 'x');
    while (write(filler, block.data(), block.size()) > 0) {
    }
    const int e = errno;
    close(filler);
    return e == ENOSPC ? "" : std::string("filling: ") + std::strerror(e);
}

struct RefusalCase {
    const char* name;
    std::string (*refuse)(const std::string& dir, const char* before);
    int error;
    const char* others;  // what else the directory holds
    bool old_rewritten;  // an old file is rewritten where it is, its number needing no
                         // new block
};

// The crash's score cannot be saved beside the file: on a full disk the old file is
// rewritten where it is; where nothing can be written the old file survives whole, and
// the score still shows, and the line names the path.
TEST(HighScoreReplace, FullDiskRewritesInPlaceAndADiskThatRefusesKeepsTheOldFile)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for mounts of its own";
    const RefusalCase cases[] = {
        {"read-only directory", refuse_writes, EROFS, "", false},
        {"full file system", fill_up, ENOSPC, "filler", true},
    };
    for (const RefusalCase& c : cases) {
        for (const char* before : {"10\n", static_cast<const char*>(nullptr)}) {
            SCOPED_TRACE(std::string(c.name) + (before ? ", old file" : ", no file"));
            ScratchDir dir;
            const std::string path = dir / ".skarvolt";
            if (before)
                write_file(path, before);
            const auto setup = [&] {
                const std::string problem = private_mounts();
                return problem.empty() ? c.refuse(dir.path, before) : problem;
            };
            const auto look = [&] {
                return (exists(path) ? read_file(path).value_or("") : "none\n") + list_dir(dir.path);
            };
            const SyncResult r = sync_in_child(path, 45, 0, setup, look);
            ASSERT_TRUE(r.ran) << r.err;
            EXPECT_EQ(r.high_score, 45u);
            const bool saved = before && c.old_rewritten;
            EXPECT_EQ(r.kept, saved);
            EXPECT_EQ(r.err, (before ? "" : perror_line(path, ENOENT))
                                 + (saved ? "" : perror_line(path, c.error)));
            const std::string others = c.others;
            const std::string listing =
                before ? ".skarvolt" + (others.empty() ? "" : " " + others) : others;
            const std::string held = saved ? "45\n" : before ? before : "none\n";
            EXPECT_EQ(r.seen, held + listing);
        }
    }
}

// Children that wait at a gate and merge their score when it opens: games whose runs
// crash at the same moment.
pid_t merge_at_gate(int gate, const std::string& path, std::uint32_t score)
{
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        alarm(20);
        char go;
        if (read(gate, &go, 1) != 1)
            _exit(2);
        sync_score(path, score);
        _exit(0);
    }
    return child;
}

bool exited_cleanly(pid_t child)
{
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(HighScoreTogether, TwoGamesCrashingAtOnceKeepTheHigherScore)
{
    ScratchDir dir;
    const std::string path = dir / ".skarvolt";
    int lost = 0;
    for (std::uint32_t round = 1; round <= 300; ++round) {
        const std::uint32_t base = round * 10;
        write_file(path, std::to_string(base) + "\n");
        int gate[2];
        ASSERT_EQ(pipe(gate), 0);
        // Which of the two comes first is left to chance; so is the higher score.
        const pid_t a = merge_at_gate(gate[0], path, base + 1 + round % 2);
        const pid_t b = merge_at_gate(gate[0], path, base + 2 - round % 2);
        ASSERT_EQ(write(gate[1], "gg", 2), 2);
        close(gate[0]);
        close(gate[1]);
        ASSERT_TRUE(exited_cleanly(a));
        ASSERT_TRUE(exited_cleanly(b));
        const std::string held = read_file(path).value_or("");
        ASSERT_TRUE(held == std::to_string(base + 1) + "\n" || held == std::to_string(base + 2) + "\n")
            << "round " << round << ": " << held;
        lost += held != std::to_string(base + 2) + "\n";
    }
    EXPECT_EQ(lost, 0) << "rounds in which the higher score was overwritten";
    EXPECT_EQ(list_dir(dir.path), ".skarvolt");
}

// Two games saving ever better scores, one the odd and one the even ones, with and
// without unnamed files: the file ends with the best of all.
TEST(HighScoreTogether, RisingScoresOfTwoGamesEndWithTheHighest)
{
    constexpr std::uint32_t SAVES = 400;
    for (const bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed temporary files" : "named temporary files");
        ScratchDir dir;
        const std::string path = dir / ".skarvolt";
        std::fflush(nullptr);
        pid_t games[2];
        for (std::uint32_t g = 0; g < 2; ++g) {
            games[g] = fork();
            if (games[g] == 0) {
                alarm(60);
                faults.refuse_unnamed = !unnamed;
                game.high_score = 0;
                for (std::uint32_t i = 1; i <= SAVES; ++i)
                    sync_score(path, 2 * i - g);
                _exit(0);
            }
        }
        EXPECT_TRUE(exited_cleanly(games[0]));
        EXPECT_TRUE(exited_cleanly(games[1]));
        EXPECT_EQ(read_file(path), std::to_string(2 * SAVES) + "\n");
        EXPECT_EQ(list_dir(dir.path), ".skarvolt");
    }
}

// Saves killed at random moments keep the old number whole, and whatever they leave,
// one start of the game clears.
TEST(HighScoreTogether, SavesKilledPartWayLeaveTheFileWholeAndNothingElse)
{
    std::mt19937 chance(std::random_device{}());
    std::uniform_int_distribution<long> pause_ns(0, 3'000'000);
    for (const bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed temporary files" : "named temporary files");
        ScratchDir dir;
        const std::string path = dir / ".skarvolt";
        write_file(path, "1\n");
        std::uint32_t last = 1;
        for (int kill_number = 0; kill_number < 30; ++kill_number) {
            std::fflush(nullptr);
            const pid_t saver = fork();
            if (saver == 0) {
                faults.refuse_unnamed = !unnamed;
                game.high_score = 0;
                for (std::uint32_t score = last + 1;; ++score)
                    sync_score(path, score);
            }
            const struct timespec pause = {0, pause_ns(chance)};
            nanosleep(&pause, nullptr);
            kill(saver, SIGKILL);
            waitpid(saver, nullptr, 0);
            const std::string held = read_file(path).value_or("");
            ASSERT_TRUE(!held.empty() && held.back() == '\n'
                        && held.find_first_not_of("0123456789") == held.size() - 1)
                << "after kill " << kill_number << ": [" << held << "]";
            const std::uint32_t now = static_cast<std::uint32_t>(std::stoul(held));
            ASSERT_GE(now, last);
            last = now;
        }
        const SyncResult start = sync_in_child(path, 0, 0, [] { return std::string(); });
        ASSERT_TRUE(start.ran) << start.err;
        EXPECT_EQ(start.high_score, last);
        EXPECT_EQ(list_dir(dir.path), ".skarvolt");
    }
}

// Something that holds the file's lock and never lets go (a stopped game) costs no
// score: start-up reads the file at once; a crash waits two seconds at most, says so,
// keeps its score in memory and writes nothing, but its best stays to be saved, and the
// next save, once the lock is free, saves it.
TEST(HighScoreTogether, ALockHeldForeverCostsNoScore)
{
    ScratchDir dir;
    const std::string path = dir / ".skarvolt";
    write_file(path, "300\n");
    const int holder = open(path.c_str(), O_RDONLY);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    const auto no_setup = [] { return std::string(); };

    const SyncResult start = sync_in_child(path, 0, 0, no_setup);
    ASSERT_TRUE(start.ran) << start.err;
    EXPECT_EQ(start.high_score, 300u);
    EXPECT_EQ(start.err, "");

    const SyncResult crash = sync_in_child(path, 345, 300, no_setup);
    ASSERT_TRUE(crash.ran) << crash.err;
    EXPECT_EQ(crash.high_score, 345u);
    EXPECT_FALSE(crash.kept);
    EXPECT_EQ(crash.err, perror_line(path, EWOULDBLOCK));
    EXPECT_EQ(read_file(path), "300\n");
    EXPECT_EQ(list_dir(dir.path), ".skarvolt");

    close(holder);
    const SyncResult retry = sync_in_child(path, 0, 345, no_setup);
    ASSERT_TRUE(retry.ran) << retry.err;
    EXPECT_TRUE(retry.kept);
    EXPECT_EQ(retry.err, "");
    EXPECT_EQ(read_file(path), "345\n");
}

// Another player swaps the shared score file for a link to a file of theirs and back,
// thousands of times a second, while a game saves rising scores. The game writes only
// to the file it locked and read: the other file is never touched, nothing is left
// beside them, and the best score is never lost.
TEST(HighScoreTogether, AFileSwappedWithALinkIsNeverWrittenThrough)
{
    ScratchDir dir;
    const std::string path = dir / ".skarvolt";
    const std::string swap = dir / "swap";
    const std::string keys = dir / "keys";
    const std::string victim = "ssh-ed25519 AAAA player@elsewhere\n";
    write_file(path, "1\n");
    write_file(keys, victim);
    ASSERT_EQ(symlink("keys", swap.c_str()), 0);

    // The swapper stops when asked and says so: a killed one may still make its last
    // exchange after kill returns, and swap the link back in behind the game's last save.
    auto* const swapping = static_cast<std::atomic<int>*>(mmap(
        nullptr, 2 * sizeof(std::atomic<int>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(swapping, MAP_FAILED);
    std::atomic<int>& stop = swapping[0];
    std::atomic<int>& stopped = swapping[1];
    stop = 0;
    stopped = 0;
    std::fflush(nullptr);
    const pid_t swapper = fork();
    if (swapper == 0) {
        alarm(60);
        while (stop == 0)
            syscall(SYS_renameat2, AT_FDCWD, path.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE);
        stopped = 1;
        _exit(0);
    }
    // The game saves while the swapper runs, then, the swapper stopped and the file put
    // back, crashes once more with a low score: a save refused while the link stood in
    // the file's place left the best in the game's memory, which this one saves. The
    // game's start-up afterwards reads it.
    constexpr std::uint32_t SAVES = 3000;
    const SyncResult game_run = sync_in_child(path, 0, 0, [&] {
        alarm(60);
        for (std::uint32_t score = 2; score <= SAVES; ++score)
            sync_score(path, score);
        stop = 1;
        while (stopped == 0)
            usleep(1000);
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            syscall(SYS_renameat2, AT_FDCWD, path.c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE);
        sync_score(path, 1);
        return std::string();
    });
    kill(swapper, SIGKILL);
    waitpid(swapper, nullptr, 0);
    munmap(swapping, 2 * sizeof(std::atomic<int>));
    ASSERT_TRUE(game_run.ran) << game_run.err;

    EXPECT_EQ(read_file(keys), victim) << "written through the link";
    EXPECT_EQ(game_run.high_score, SAVES) << game_run.err;
    EXPECT_EQ(list_dir(dir.path), ".skarvolt keys swap");
}

} // namespace
