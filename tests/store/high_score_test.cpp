// Reading, merging and rewriting the high-score file, in scratch directories.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <algorithm>
#include <functional>

#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "store/high_score.h"
#include "read_cases.h"
#include "store_support.h"
#include "support/files.h"
#include "support/mounts.h"
#include "support/scratch.h"

using namespace store_test;
using namespace test_support;

namespace {

// File timestamps are set into the past before a merge so that a rewrite would show.
constexpr time_t OLD_TIME = 1000000000;

struct stat status(const std::string& path)
{
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

// Whatever the file holds, the start-up merge takes it calmly: no message, no write.
TEST(HighScoreRead, StartUpTakesTheFilesNumberWithoutWriting)
{
    for (const ReadCase& c : READ_CASES) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string path = dir / ".skarvolt";
        write_file(path, c.content);
        age(path, OLD_TIME);

        const SyncResult r = sync_here(path, 0, 0);
        EXPECT_EQ(r.high_score, c.expected);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(path), c.content);
        EXPECT_EQ(status(path).st_mtime, OLD_TIME);
        EXPECT_EQ(list_dir(dir.path), ".skarvolt");
    }
}

TEST(HighScoreRead, ReadsOnlyTheFirst63Characters)
{
    ScratchDir dir;
    const std::string path = dir / "big";
    write_file(path, std::string(1 << 20, '1'));
    const int big = open(path.c_str(), O_RDONLY);
    ASSERT_GE(big, 0);
    std::uint32_t value = 0;
    EXPECT_TRUE(read_stored_score(big, &value));
    EXPECT_EQ(value, 4294967295u); // 63 ones, clamped, then reduced
    EXPECT_EQ(lseek(big, 0, SEEK_CUR), SCORE_READ_MAX);
    close(big);

    // A source that never ends still ends the reading.
    const int endless = open("/dev/zero", O_RDONLY);
    ASSERT_GE(endless, 0);
    EXPECT_TRUE(read_stored_score(endless, &value));
    EXPECT_EQ(value, 0u);
    close(endless);
}

TEST(HighScoreRead, MissingFileAtStartUpReportsOnceAndCreatesNothing)
{
    ScratchDir dir;
    const std::string path = dir / ".skarvolt";
    const SyncResult r = sync_here(path, 0, 0);
    EXPECT_EQ(r.high_score, 0u);
    EXPECT_EQ(r.err, perror_line(path, ENOENT));
    EXPECT_FALSE(exists(path));
}

struct MergeCase {
    const char* name;
    const char* before; // nullptr: no file
    std::uint32_t score, high_score;
    std::uint32_t expected;
    const char* after;  // nullptr: left exactly as it was
};

TEST(HighScoreMerge, RewritesExactlyWhenTheFilesNumberIsBeaten)
{
    const MergeCase cases[] = {
        {"first crash without a file", nullptr, 45, 0, 45, "45\n"},
        {"file deleted while playing: memory's best is saved", nullptr, 3, 50, 50, "50\n"},
        {"score beats the file", "40\n", 45, 40, 45, "45\n"},
        {"memory beats the file", "10\n", 5, 30, 30, "30\n"},
        {"beaten file in a score file's shape", " \t+40 \n\n", 46, 40, 46, "46\n"},
        {"empty file is rewritten", "", 3, 0, 3, "3\n"},
        {"score below the file", "100\n", 45, 100, 100, nullptr},
        {"score equal to the file", "45\n", 45, 45, 45, nullptr},
        {"another process wrote more", "500\n", 200, 100, 500, nullptr},
        {"minus one is never beaten", "-1\n", 4000000000u, 0, 4294967295u, nullptr},
        {"unbeaten file keeps its extra text", "45 best\n", 44, 45, 45, nullptr},
        {"largest score", "7\n", 4294967295u, 0, 4294967295u, "4294967295\n"},
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string path = dir / ".skarvolt";
        if (c.before) {
            write_file(path, c.before);
            age(path, OLD_TIME);
        }
        const ino_t inode = c.before ? status(path).st_ino : 0;

        const SyncResult r = sync_here(path, c.score, c.high_score);
        EXPECT_EQ(r.high_score, c.expected);
        EXPECT_EQ(r.err, c.before ? "" : perror_line(path, ENOENT)); // only the failed read
        if (c.after) {
            EXPECT_EQ(read_file(path), c.after);
        } else {
            EXPECT_EQ(read_file(path), c.before);
            EXPECT_EQ(status(path).st_mtime, OLD_TIME);
            EXPECT_EQ(status(path).st_ino, inode);
        }
        EXPECT_EQ(list_dir(dir.path), ".skarvolt"); // no temporary file is left behind
    }
}

// A path may lead to any file the player can write (a link to another player's keys, a
// password file): only what a score file holds is ever written over, however it is beaten.
TEST(HighScoreWrite, WhatIsNotAScoreFileIsNeverWrittenOver)
{
    const std::string not_scores[] = {
        "45 best\nmore\n",
        "best: 50\n",
        "root:x:0:0:root:/root:/bin/bash\n",
        "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIG player@host\n",
        std::string("\x01\xff\xfe\x80" "99\n", 7),
        std::string("12\0" "34\n", 6),
        "-\n",
        "+-5\n",
        "7\n8\n",
        "4 5\n",
        "+\n-\n",
    };
    for (const std::string& content : not_scores) {
        SCOPED_TRACE(content);
        ScratchDir dir;
        const std::string path = dir / ".skarvolt";
        write_file(path, content);
        age(path, OLD_TIME);

        const SyncResult r = sync_here(path, 4000000000u, 0);
        EXPECT_EQ(r.high_score, 4000000000u); // the best is kept in memory
        EXPECT_EQ(r.err, path + ": not a score file\n");
        EXPECT_EQ(read_file(path), content);
        EXPECT_EQ(status(path).st_mtime, OLD_TIME);
        EXPECT_EQ(list_dir(dir.path), ".skarvolt");
    }
}

TEST(HighScoreWrite, NewFileGetsEveryonesReadAndWriteLessTheUmask)
{
    for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{0}, mode_t{0266}}) {
        SCOPED_TRACE(mask);
        ScratchDir dir;
        const std::string path = dir / ".skarvolt";
        const mode_t old_mask = umask(mask);
        const SyncResult r = sync_here(path, 45, 0);
        umask(old_mask);
        EXPECT_EQ(read_file(path), "45\n");
        EXPECT_EQ(status(path).st_mode & 07777, 0666 & ~mask);
        EXPECT_EQ(r.err, perror_line(path, ENOENT));
    }
}

TEST(HighScoreWrite, ReplacedFileKeepsItsPermissions)
{
    for (const mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0664}}) {
        SCOPED_TRACE(mode);
        ScratchDir dir;
        const std::string path = dir / ".skarvolt";
        write_file(path, "1\n");
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        const mode_t old_mask = umask(077);
        sync_here(path, 45, 0);
        umask(old_mask);
        EXPECT_EQ(read_file(path), "45\n");
        EXPECT_EQ(status(path).st_mode & 07777, mode);
    }
}

// A replaced file is on disk only once its directory is; a file with other names (hard
// links) keeps them all, each seeing the new score, so it is rewritten where it is.
TEST(HighScoreWrite, ReplacementFlushesTheDirectoryAndHardLinksKeepTheirFile)
{
    for (const bool linked : {false, true}) {
        SCOPED_TRACE(linked ? "a second name" : "one name");
        ScratchDir dir;
        const std::string path = dir / ".skarvolt";
        write_file(path, "10\n");
        if (linked) {
            ASSERT_EQ(link(path.c_str(), (dir / "copy").c_str()), 0);
        }
        const ino_t inode = status(path).st_ino;
        const auto flushed = [] { return std::to_string(faults.directories_flushed); };
        const SyncResult r = sync_in_child(path, 45, 0, [] { return std::string(); }, flushed);
        ASSERT_TRUE(r.ran) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(path), "45\n");
        if (linked) {
            EXPECT_EQ(read_file(dir / "copy"), "45\n");
            EXPECT_EQ(status(path).st_ino, inode);
            EXPECT_EQ(status(path).st_nlink, 2u);
            EXPECT_EQ(list_dir(dir.path), ".skarvolt copy");
        } else {
            EXPECT_NE(status(path).st_ino, inode) << "replaced by a new file";
            EXPECT_EQ(r.seen, "1") << "directories flushed";
            EXPECT_EQ(list_dir(dir.path), ".skarvolt");
        }
    }
}

struct LinkCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links; // name in dir -> link text
    const char* target;                                      // file that must get the score
};

TEST(HighScoreWrite, SymbolicLinkStaysAndTheFileItNamesIsReplaced)
{
    const LinkCase cases[] = {
        {"relative link", {{".skarvolt", "data/best"}}, "data/best"},
        {"dangling link creates the file", {{".skarvolt", "data/new"}}, "data/new"},
        {"chain of links", {{".skarvolt", "hop"}, {"hop", "data/best"}}, "data/best"},
        {"relative to the link's own directory", {{".skarvolt", "data/hop"}, {"data/hop", "best"}},
         "data/best"},
    };
    for (const LinkCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        ASSERT_EQ(mkdir((dir / "data").c_str(), 0755), 0);
        write_file(dir / "data/best", "10\n");
        ASSERT_EQ(chmod((dir / "data/best").c_str(), 0640), 0);
        for (const auto& [name, text] : c.links)
            ASSERT_EQ(symlink(text.c_str(), (dir / name).c_str()), 0);

        const SyncResult r = sync_here(dir / ".skarvolt", 45, 0);
        EXPECT_EQ(r.high_score, 45u);
        EXPECT_EQ(read_file(dir / c.target), "45\n");
        for (const auto& link : c.links)
            EXPECT_TRUE(S_ISLNK(status(dir / link.first).st_mode)) << link.first;
        if (std::string(c.target) == "data/best") {
            EXPECT_EQ(status(dir / c.target).st_mode & 07777, 0640u);
        }
    }

    // An absolute link, and a loop, which is reported and writes nothing.
    ScratchDir dir;
    write_file(dir / "best", "10\n");
    ASSERT_EQ(symlink((dir / "best").c_str(), (dir / "absolute").c_str()), 0);
    sync_here(dir / "absolute", 45, 0);
    EXPECT_EQ(read_file(dir / "best"), "45\n");
    EXPECT_TRUE(S_ISLNK(status(dir / "absolute").st_mode));

    ASSERT_EQ(symlink("loop", (dir / "loop").c_str()), 0);
    const SyncResult r = sync_here(dir / "loop", 45, 0);
    EXPECT_EQ(r.high_score, 45u);
    EXPECT_EQ(r.err, perror_line(dir / "loop", ELOOP));
    EXPECT_EQ(list_dir(dir.path), "absolute best loop");
}

// A null device made in a private tmpfs at dir, so that a faulty save can harm only it.
std::string private_null_device(const std::string& dir)
{
    const std::string problem = private_mounts();
    return problem.empty() ? null_device_in(dir) : problem;
}

void make_socket(const std::string& path)
{
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(s);
}

struct UnreadableCase {
    const char* name;
    std::function<void(const ScratchDir&, const std::string& path)> make;
    std::string message; // after "PATH: "
    bool needs_root = false;
    std::function<std::string(const ScratchDir&)> in_child = {}; // mounts of its own
};

// Whatever stands at the path and cannot be read, neither the start-up nor a crash
// waits on it or writes to it: each reports it in one line and keeps the best in memory.
TEST(HighScoreRead, WhatCannotBeReadIsReportedAndNeverWritten)
{
    const UnreadableCase cases[] = {
        {"directory", [](const ScratchDir&, const std::string& p) { mkdir(p.c_str(), 0755); },
         "Is a directory"},
        {"FIFO", [](const ScratchDir&, const std::string& p) { mkfifo(p.c_str(), 0644); },
         "Not a regular file"},
        {"socket", [](const ScratchDir&, const std::string& p) { make_socket(p); },
         "Not a regular file"},
        {"link to a null device",
         [](const ScratchDir& d, const std::string& p) {
             mkdir((d / "dev").c_str(), 0755);
             ASSERT_EQ(symlink((d / "dev/null").c_str(), p.c_str()), 0);
         },
         "Not a regular file", true, [](const ScratchDir& d) { return private_null_device(d / "dev"); }},
        {"link to a file that fails to read",
         [](const ScratchDir&, const std::string& p) { ASSERT_EQ(symlink("/proc/self/mem", p.c_str()), 0); },
         std::strerror(EIO)},
        {"file holding 1000 whose read fails at once",
         [](const ScratchDir&, const std::string& p) { write_file(p, "1000\n"); },
         std::strerror(EIO), false,
         [](const ScratchDir& d) { return faults.fail_reads_of(d / ".skarvolt", 0); }},
        {"file holding 1000 whose read fails after two characters",
         [](const ScratchDir&, const std::string& p) { write_file(p, "1000\n"); },
         std::strerror(EIO), false,
         [](const ScratchDir& d) { return faults.fail_reads_of(d / ".skarvolt", 2); }},
    };
    for (const UnreadableCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needs_root && geteuid() != 0)
            continue;
        ScratchDir dir;
        const std::string path = dir / ".skarvolt";
        c.make(dir, path);
        const auto setup = [&] { return c.in_child ? c.in_child(dir) : std::string(); };
        const auto look = [&] {
            faults = {};
            return describe_node(path) + "; " + list_dir(dir.path);
        };
        const SyncResult before = sync_in_child(path, 0, 0, setup, look);
        ASSERT_TRUE(before.ran) << before.err;
        EXPECT_EQ(before.high_score, 0u);
        EXPECT_EQ(before.err, path + ": " + c.message + "\n");

        const SyncResult after = sync_in_child(path, 45, 30, setup, look);
        ASSERT_TRUE(after.ran) << after.err;
        EXPECT_EQ(after.high_score, 45u);
        EXPECT_EQ(after.err, path + ": " + c.message + "\n");
        EXPECT_EQ(after.seen, before.seen);
    }
}

// Permissions bind every user but root, so as root the merge runs as nobody, in a
// directory that nobody owns and may write.
constexpr uid_t NOBODY = 65534;

std::string become_nobody()
{
    if (geteuid() != 0)
        return "";
    return become_user(NOBODY, NOBODY);
}

void give_to_nobody(const std::string& path)
{
    if (geteuid() == 0) {
        ASSERT_EQ(lchown(path.c_str(), NOBODY, NOBODY), 0) << path;
    }
}

// Another player, whose files nobody may share.
constexpr uid_t OTHER = 65533;

struct ProtectedCase {
    const char* name;
    mode_t mode;
    std::uint32_t start_up; // what the start-up merge reads
    bool start_up_reported; // the read itself fails
    bool replaced;          // whether a crash scoring 45 may replace it
    mode_t dir_mode = 0755;
    bool others = false;    // the file is OTHER's, the directory root's (needs root)
};

// Replacing by rename needs only the directory's permission, so a file that the player
// made read-only (or unreadable) is refused, just as opening it for update would be. A
// file the player may update in a directory the player may not write is rewritten in
// place, and so is one of another player's that the player may update: replaced, it
// would become the player's own and could shut its owner out.
TEST(HighScoreWrite, FileThePlayerMayNotUpdateIsNeverReplaced)
{
    const ProtectedCase cases[] = {
        {"read and write", 0644, 10, false, true},
        {"read-only", 0444, 10, false, false},
        {"write-only", 0200, 0, true, false},
        {"no permissions", 0000, 0, true, false},
        {"read and write, in a directory the player may not write", 0644, 10, false, true, 0555},
        {"read-only, in a directory the player may not write", 0444, 10, false, false, 0555},
        {"another player's, that all may write", 0666, 10, false, true, 0777, true},
        {"another player's, in a sticky directory", 0666, 10, false, true, 01777, true},
        {"another player's, read-only", 0644, 10, false, false, 0777, true},
    };
    for (const ProtectedCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.others && geteuid() != 0)
            continue;
        ScratchDir dir;
        const std::string path = dir / ".skarvolt";
        write_file(path, "10\n");
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        if (c.others) {
            ASSERT_EQ(lchown(path.c_str(), OTHER, OTHER), 0);
        } else {
            give_to_nobody(dir.path);
            give_to_nobody(path);
        }
        age(path, OLD_TIME);
        const struct stat before = status(path);
        ASSERT_EQ(chmod(dir.path.c_str(), c.dir_mode), 0);

        SyncResult r = sync_in_child(path, 0, 0, become_nobody);
        ASSERT_TRUE(r.ran) << r.err;
        EXPECT_EQ(r.high_score, c.start_up);
        EXPECT_EQ(r.err, c.start_up_reported ? perror_line(path, EACCES) : "");

        r = sync_in_child(path, 45, 0, become_nobody);
        ASSERT_TRUE(r.ran) << r.err;
        EXPECT_EQ(r.high_score, 45u);
        EXPECT_EQ(read_file(path), c.replaced ? "45\n" : "10\n");
        const struct stat after = status(path);
        EXPECT_EQ(after.st_mode & 07777, c.mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        if (c.dir_mode != 0755 || c.others) {
            EXPECT_EQ(after.st_ino, before.st_ino) << "rewritten where it is";
        }
        if (!c.replaced) {
            // One line: a file that could not be read is not written either.
            EXPECT_EQ(r.err, perror_line(path, EACCES));
            EXPECT_EQ(status(path).st_mtime, OLD_TIME);
        } else {
            EXPECT_EQ(r.err, "");
        }
        EXPECT_EQ(list_dir(dir.path), ".skarvolt");
        chmod(dir.path.c_str(), 0755);
    }
}

struct LitterCase {
    const char* name;
    bool unnamed_files;  // whether the file system makes unnamed files
    bool stale_is_ours;  // a regular file left by a killed save, else a directory
};

// A save killed part-way leaves at most the game's own temporary file, which the next
// start or save removes; only the score file stays.
TEST(HighScoreWrite, SavesLeaveNothingButTheScoreFile)
{
    const LitterCase cases[] = {
        {"unnamed temporary file", true, true},
        {"named temporary file", false, true},
        {"the temporary file's name taken by something else", true, false},
    };
    for (const LitterCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string path = dir / ".skarvolt";
        const std::string stale = dir / ".skarvolt.skarvolt-save";
        write_file(path, "10\n");
        if (c.stale_is_ours)
            write_file(stale, "99\n");
        else
            ASSERT_EQ(mkdir(stale.c_str(), 0755), 0);
        const auto setup = [&] {
            faults.refuse_unnamed = !c.unnamed_files;
            return std::string();
        };
        const auto look = [&] { return std::to_string(faults.unnamed_refused); };
        const std::string others = c.stale_is_ours ? "" : " .skarvolt.skarvolt-save";

        SyncResult r = sync_in_child(path, 0, 0, setup);
        ASSERT_TRUE(r.ran) << r.err;
        EXPECT_EQ(r.high_score, 10u);
        EXPECT_EQ(list_dir(dir.path), ".skarvolt" + others);

        const ino_t inode = status(path).st_ino;
        r = sync_in_child(path, 45, 0, setup, look);
        ASSERT_TRUE(r.ran) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(path), "45\n");
        EXPECT_EQ(list_dir(dir.path), ".skarvolt" + others);
        EXPECT_EQ(r.seen, c.unnamed_files ? "0" : "1");
        if (!c.stale_is_ours) {
            EXPECT_EQ(status(path).st_ino, inode) << "rewritten where it is";
        }
    }
}

} // namespace
