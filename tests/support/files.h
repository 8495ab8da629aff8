// Files, directories and descriptors as the tests look at them: what a test writes
// before a game starts, and what it finds afterwards.
#pragma once

#include <optional>
#include <string>

#include <time.h>

namespace test_support {

// The line the game writes when something fails on a file: "PATH: reason\n".
std::string perror_line(const std::string& path, int error);
// "what: reason" for the current errno, for a failed step of a test's own.
std::string errno_text(const std::string& what);

// Replaces path's content; throws when it cannot.
void write_file(const std::string& path, const std::string& content);
// The content of path; nullopt when it cannot be opened (it does not exist).
std::optional<std::string> read_file(const std::string& path);
// Whether something, of any kind, stands at path (a final symbolic link not followed).
bool exists(const std::string& path);
// Names in a directory other than "." and "..", sorted, joined by single spaces; throws
// when the directory cannot be read.
std::string list_dir(const std::string& dir);
// Everything a descriptor's file holds, from its start, whatever its offset.
std::string read_fd(int fd);
// Sets both times of path (a symbolic link itself, not its target) to `when`, so that
// a later write shows; throws when it cannot.
void age(const std::string& path, time_t when);
// What stands at path and, for a file or a directory, what it holds: "fifo", "socket",
// "device 1,3", "directory holding [a b]", "file holding [45\n]", or "missing".
std::string describe_node(const std::string& path);

} // namespace test_support
