#include "support/files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace test_support {

std::string perror_line(const std::string& path, int error)
{
    return path + ": " + std::strerror(error) + "\n";
}

std::string errno_text(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush())
        throw std::runtime_error(errno_text("cannot write " + path));
}

std::optional<std::string> read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string list_dir(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const auto& name : names)
        joined += (joined.empty() ? "" : " ") + name;
    return joined;
}

std::string read_fd(int fd)
{
    std::string text;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = pread(fd, buffer, sizeof buffer, offset);
        if (n <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
}

void age(const std::string& path, time_t when)
{
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error(errno_text("cannot set the times of " + path));
}

std::string describe_node(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return "missing";
    if (S_ISCHR(st.st_mode))
        return "device " + std::to_string(major(st.st_rdev)) + "," + std::to_string(minor(st.st_rdev));
    if (S_ISFIFO(st.st_mode))
        return "fifo";
    if (S_ISSOCK(st.st_mode))
        return "socket";
    if (S_ISDIR(st.st_mode))
        return "directory holding [" + list_dir(path) + "]";
    return "file holding [" + read_file(path).value_or("") + "]";
}

} // namespace test_support
