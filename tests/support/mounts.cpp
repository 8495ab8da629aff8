#include "support/mounts.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/files.h"

namespace test_support {

namespace {

std::string failed(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// Mount flags that a remount of a bind of `path` has to keep.
unsigned long kept_mount_flags(const std::string& path)
{
    struct statvfs info {};
    if (statvfs(path.c_str(), &info) != 0)
        throw std::runtime_error(errno_text("statvfs " + path));
    unsigned long flags = 0;
    if (info.f_flag & ST_NOSUID) flags |= MS_NOSUID;
    if (info.f_flag & ST_NODEV) flags |= MS_NODEV;
    if (info.f_flag & ST_NOEXEC) flags |= MS_NOEXEC;
    if (info.f_flag & ST_RDONLY) flags |= MS_RDONLY;
    if (info.f_flag & ST_NOATIME) flags |= MS_NOATIME;
    if (info.f_flag & ST_NODIRATIME) flags |= MS_NODIRATIME;
    if (info.f_flag & ST_RELATIME) flags |= MS_RELATIME;
    return flags;
}

} // namespace

bool private_mounts_available()
{
    static const bool available = [] {
        if (geteuid() != 0)
            return false;
        const pid_t child = fork();
        if (child == 0)
            _exit(private_mounts().empty() ? 0 : 1);
        int status = 0;
        return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    }();
    return available;
}

std::string private_mounts()
{
    if (unshare(CLONE_NEWNS) != 0)
        return failed("unshare");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return failed("private /");
    return "";
}

Bind bind_remounted(const std::string& source, const std::string& target, unsigned long flags)
{
    return {source, target, true, kept_mount_flags(source) | flags};
}

std::string mount_bind(const Bind& bind)
{
    if (mount(bind.source.c_str(), bind.target.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return failed("bind " + bind.target);
    if (bind.remount && mount(nullptr, bind.target.c_str(), nullptr,
                              MS_REMOUNT | MS_BIND | bind.remount_flags, nullptr) != 0)
        return failed("remount " + bind.target);
    return "";
}

std::string mount_small_tmpfs(const std::string& dir)
{
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") != 0)
        return failed("tmpfs " + dir);
    return "";
}

std::string null_device_in(const std::string& dir)
{
    std::string problem = mount_small_tmpfs(dir);
    if (problem.empty() && mknod((dir + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        problem = failed("mknod " + dir + "/null");
    return problem;
}

std::string become_user(uid_t uid, gid_t gid)
{
    if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 ||
        setresuid(uid, uid, uid) != 0)
        return failed("becoming user " + std::to_string(uid));
    return "";
}

} // namespace test_support
