// The best score across program runs, as a player sees it: the title screen's box,
// the file in the home directory, and the lines on standard error.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"
#include "picture.h"
#include "quit.h"
#include "support/files.h"
#include "support/mounts.h"

namespace {

using e2e::Game;
using e2e::quit;
using e2e::GameOptions;
using e2e::Image;
using e2e::Sandbox;
using e2e::XServer;
using test_support::describe_node;
using test_support::list_dir;
using test_support::perror_line;
using test_support::read_file;
using test_support::write_file;

// The title screen of a fresh start; the file must already be as the test wants it.
Image title_screen(XServer& x, Game& game)
{
    return x.settled_image(game.window(), e2e::shows_text);
}

TEST(HighScoreFile, FirstStartSavesTheHeldRunAndTheNextStartShowsIt)
{
    XServer x;

    // A start whose file holds 0: what "HS: 0" looks like.
    Image zero_title;
    {
        Sandbox box;
        write_file(box.score_file(), "0\n");
        Game game(box, {}, &x);
        zero_title = title_screen(x, game);
        quit(x, game);
    }

    Sandbox box;
    const std::string decoy_home = box.path("env-home");
    Image first_title;
    {
        // $HOME points elsewhere: the home comes from the password database only.
        Game game(box, {.env = {"HOME=" + decoy_home}}, &x);
        first_title = title_screen(x, game);
        EXPECT_EQ(first_title, zero_title) << "the first start shows HS: 0";
        EXPECT_EQ(game.err(), perror_line(box.score_file(), ENOENT));
        EXPECT_FALSE(read_file(box.score_file())) << "the start-up merge creates nothing";

        e2e::held_run_crash(x, game, box); // waits until the file holds the score
        x.release();
        EXPECT_EQ(read_file(box.score_file()), "45\n");
        EXPECT_EQ(game.err(), perror_line(box.score_file(), ENOENT) +
                                  perror_line(box.score_file(), ENOENT))
            << "the crash reads the file again before creating it";
        const mode_t mask = ::umask(0);
        ::umask(mask);
        struct stat st {};
        ASSERT_EQ(::stat(box.score_file().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
        quit(x, game);
    }
    EXPECT_EQ(list_dir(box.home()), ".skarvolt");
    EXPECT_FALSE(read_file(decoy_home + "/.skarvolt"));

    Game again(box, {}, &x);
    const Image second_title = title_screen(x, again);
    EXPECT_EQ(again.err(), "");
    EXPECT_NE(second_title, first_title);
    EXPECT_GT(e2e::white_box(second_title).width(), e2e::white_box(first_title).width())
        << "HS: 45 is wider than HS: 0";
    quit(x, again);
    EXPECT_EQ(read_file(box.score_file()), "45\n");
}

TEST(HighScoreFile, MinusOneIsNeverRewritten)
{
    XServer x;
    Sandbox box;
    write_file(box.score_file(), "-1\n");
    test_support::age(box.score_file(), 1000000000);

    Game game(box, {}, &x);
    const Window w = game.window();
    x.settled_image(w, e2e::shows_text);
    x.press(200, 150);
    x.settled_image(w, e2e::shows_burst_above); // the held run's crash
    x.release();
    quit(x, game);

    EXPECT_EQ(game.err(), "");
    EXPECT_EQ(read_file(box.score_file()), "-1\n");
    struct stat st {};
    ASSERT_EQ(::stat(box.score_file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000000);
}

// A stopped game that holds the file's lock costs no score: the start reads the file at
// once, the crash waits for the lock two seconds at most, says so and plays on, and
// quitting once the lock is free saves the best that the crash could not.
TEST(HighScoreFile, AStuckLockCostsNoScoreAndQuittingSavesThePendingBest)
{
    XServer x;
    Sandbox box;
    write_file(box.score_file(), "10\n");
    const int holder = ::open(box.score_file().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    Game game(box, {}, &x);
    const Window w = game.window();
    x.settled_image(w, e2e::shows_text);
    EXPECT_EQ(game.err(), "") << "the start waited for the lock";
    x.press(200, 150);
    x.settled_image(w, e2e::shows_burst_above); // the held run's crash, after its save
    x.release();
    EXPECT_EQ(game.err(), perror_line(box.score_file(), EWOULDBLOCK));
    EXPECT_EQ(read_file(box.score_file()), "10\n");

    ::close(holder);
    quit(x, game);
    EXPECT_EQ(read_file(box.score_file()), "45\n");
    EXPECT_EQ(list_dir(box.home()), ".skarvolt");
}

// With the same seed, two held runs crash into the same picture; only the text could
// differ, and it must not: the score shows although it could not be saved.
TEST(HighScoreFile, ReadOnlyHomeKeepsTheOldFileAndStillShowsTheScore)
{
    if (!test_support::private_mounts_available())
        GTEST_SKIP() << "needs root for a read-only home";
    XServer x;
    Sandbox seeds;
    const std::string seed = seeds.path("seed");
    e2e::write_seed(seed, 7);
    const GameOptions seeded{.random = e2e::RandomDevice::File, .random_file = seed};

    Image saved_crash; // "45 (HS: 45)" of a run that saved normally
    {
        Sandbox box;
        Game game(box, seeded, &x);
        saved_crash = e2e::held_run_crash(x, game, box);
        x.release();
        quit(x, game);
    }

    Sandbox box;
    write_file(box.score_file(), "10\n");
    GameOptions read_only_home = seeded;
    read_only_home.mounts = {{box.home(), box.home(), true}};
    Game game(box, read_only_home, &x);
    const Window w = game.window();
    x.press(200, 150);
    const Image crash = x.settled_image(w, e2e::shows_burst_above);
    x.release();
    EXPECT_TRUE(crash == saved_crash) << "the crash shows 45 (HS: 45)";
    EXPECT_EQ(game.err(), perror_line(box.score_file(), EROFS));
    quit(x, game);
    EXPECT_EQ(read_file(box.score_file()), "10\n");
    EXPECT_EQ(list_dir(box.home()), ".skarvolt");
}

// A home with almost no room left once killed the game in the GL driver's shader cache,
// which a fixed-function picture has no use for, and the best was lost: the game keeps
// that cache off, unless the player turned it on, and plays and saves as on any disk.
TEST(HighScoreFile, AHomeWithNoRoomLeftPlaysAndSaves)
{
    if (!test_support::private_mounts_available())
        GTEST_SKIP() << "needs root for a small file system as the home";
    // The test itself sees the small home, to read the score saved there: it goes into a
    // mount namespace of its own, which the game shares.
    ASSERT_EQ(test_support::private_mounts(), "");
    Sandbox box;
    ASSERT_EQ(test_support::mount_small_tmpfs(box.home()), "");
    struct Unmount {
        std::string dir;
        ~Unmount() { ::umount2(dir.c_str(), MNT_DETACH); }
    } unmount{box.home()};
    // Full, but for the two pages that a save takes.
    {
        const std::string filler = box.path("home/filler");
        const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const std::string page(4096, 'x');
        off_t size = 0;
        for (ssize_t n; (n = ::write(fd, page.data(), page.size())) > 0;)
            size += n;
        ASSERT_EQ(::ftruncate(fd, size - 2 * 4096), 0);
        ::close(fd);
    }
    XServer x;
    Game game(box, {.env = {"MESA_SHADER_CACHE_DISABLE", "MESA_GLSL_CACHE_DISABLE"}}, &x);
    e2e::held_run_crash(x, game, box); // waits for the score file to say 45
    x.release();
    quit(x, game);
    EXPECT_EQ(read_file(box.score_file()), "45\n");
}

// A held run from the title screen, for a game whose score file is not the harness's to
// watch: the crash shows when the burst does. The button stays down.
Image crash_of_held_run(XServer& x, Game& game)
{
    const Window w = game.window();
    x.settled_image(w, e2e::shows_text);
    x.press(200, 150);
    return x.settled_image(w, e2e::shows_burst_above);
}

struct OddFileCase {
    const char* name;
    bool needs_root;
    std::string expected_kind;
};

// A FIFO in the file's place once hung the game before its window showed, and a link
// to a device had the device replaced by a file. Neither is opened in a way that waits,
// nor ever written: each start and crash says so in one line, and the game plays on.
TEST(HighScoreFile, NoRegularFileIsNeitherWaitedOnNorReplaced)
{
    const OddFileCase cases[] = {
        {"FIFO", false, "fifo"},
        {"link to a null device", true, "device 1,3"},
    };
    for (const OddFileCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needs_root && !test_support::private_mounts_available())
            continue;
        XServer x;
        Sandbox box;
        // The device lives in a tmpfs of the game's own, so a faulty save harms only it,
        // and is seen through the game's root while it runs.
        const std::string devices = box.path("dev");
        GameOptions options;
        std::string node = box.score_file();
        if (c.needs_root) {
            ASSERT_EQ(::mkdir(devices.c_str(), 0755), 0);
            node = devices + "/null";
            ASSERT_EQ(::symlink(node.c_str(), box.score_file().c_str()), 0);
            options.in_namespace = [devices] { return test_support::null_device_in(devices); };
        } else {
            ASSERT_EQ(::mkfifo(node.c_str(), 0644), 0);
        }
        const std::string line = box.score_file() + ": Not a regular file\n";

        Game game(box, options, &x);
        crash_of_held_run(x, game);
        x.release();
        const std::string seen = "/proc/" + std::to_string(game.pid()) + "/root" + node;
        EXPECT_EQ(describe_node(seen), c.expected_kind); // left as it was
        EXPECT_EQ(game.err(), line + line) << "one line at the start, one at the crash";
        quit(x, game);
        EXPECT_EQ(list_dir(box.home()), ".skarvolt");
    }
}

// Started with standard descriptors closed, the game's first line about its missing file
// once went into whatever took descriptor 2: its connection to the display. The password
// entry comes from a file bound over the system's, so nothing of the test's opens a
// descriptor in the game.
TEST(HighScoreFile, ClosedStandardDescriptorsKeepTheDisplayClean)
{
    if (!test_support::private_mounts_available())
        GTEST_SKIP() << "needs root for a password file of its own";
    for (const std::vector<int>& closed : {std::vector<int>{2}, std::vector<int>{0, 1, 2}}) {
        SCOPED_TRACE("closed: " + std::to_string(closed.size()));
        XServer x;
        Sandbox box;
        Game game(box, {.passwd_bound = true, .closed = closed}, &x);
        e2e::held_run_crash(x, game, box);
        x.release();
        quit(x, game);
        EXPECT_EQ(read_file(box.score_file()), "45\n");
        EXPECT_EQ(list_dir(box.home()), ".skarvolt");
    }
}

// A score file the player may write, in a home the player may not (owned by root): no
// file can be made beside it, so it is rewritten where it is.
TEST(HighScoreFile, WritableFileInAHomeThePlayerCannotWriteIsUpdatedInPlace)
{
    if (!test_support::private_mounts_available())
        GTEST_SKIP() << "needs root to play as another user";
    constexpr uid_t NOBODY = 65534;
    XServer x;
    Sandbox box;
    ASSERT_EQ(::chmod(box.dir().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(box.home().c_str(), 0755), 0);
    write_file(box.score_file(), "10\n");
    ASSERT_EQ(::chown(box.score_file().c_str(), NOBODY, NOBODY), 0);
    struct stat before {};
    ASSERT_EQ(::stat(box.score_file().c_str(), &before), 0);

    Game game(box, {.user = std::pair{NOBODY, gid_t{NOBODY}}}, &x);
    e2e::held_run_crash(x, game, box);
    x.release();
    EXPECT_EQ(game.err(), "");
    quit(x, game);
    struct stat after {};
    ASSERT_EQ(::stat(box.score_file().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_uid, NOBODY);
    EXPECT_EQ(list_dir(box.home()), ".skarvolt");
}

} // namespace
