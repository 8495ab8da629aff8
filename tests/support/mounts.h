// Mount tricks and another user's identity for a child process of a test: a private
// mount namespace makes them vanish with the child, and nothing outside it sees them.
// All of it needs root (CAP_SYS_ADMIN). The functions that return a string return ""
// on success, else what failed, and throw nothing, so a forked child may call them on
// its way to exec.
#pragma once

#include <string>

#include <sys/types.h>

namespace test_support {

// True when this process may make private mount namespaces (root with CAP_SYS_ADMIN);
// found out once, in a child.
bool private_mounts_available();

// Enters a private mount namespace, with / made private so that nothing mounted here
// propagates out.
std::string private_mounts();

// A bind of source over target. With remount_flags (MS_RDONLY, MS_NODEV...), the bind is
// remounted with them on top of the flags that source's file system already has, which a
// remount must keep.
struct Bind {
    std::string source;
    std::string target;
    bool remount = false;
    unsigned long remount_flags = 0;
};
// A bind whose remount adds `flags`; computed before the fork, as it may throw.
Bind bind_remounted(const std::string& source, const std::string& target, unsigned long flags);
std::string mount_bind(const Bind& bind);

// A small file system (64 KiB) over dir, that a test may fill or put device nodes in.
std::string mount_small_tmpfs(const std::string& dir);
// A null device node at dir/null, in a small file system of its own mounted over dir,
// so that a faulty save can harm only it.
std::string null_device_in(const std::string& dir);

// Becomes uid and gid, with no supplementary groups: permissions bind every user but root.
std::string become_user(uid_t uid, gid_t gid);

} // namespace test_support
