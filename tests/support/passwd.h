// A password entry of the test's own, so that the game finds its home where the test
// wants it and never in the real one. It reaches the game either through nss_wrapper
// (LD_PRELOAD plus two environment variables) or as files bound over /etc/passwd and
// /etc/group in a private mount namespace (see mounts.h).
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace test_support {

struct PasswordEntry {
    std::string name;
    uid_t uid = 0;
    gid_t gid = 0;
    std::string group; // name of the group gid
    std::string home;
};

// The entry of the user running the tests (or "player", when the database knows none),
// with home as its home.
PasswordEntry current_user(const std::string& home);

// Writes a password file holding only `entry`, and a group file holding only its group.
void write_password_files(const PasswordEntry& entry, const std::string& passwd_path,
                          const std::string& group_path);

// The full path of libnss_wrapper.so; throws when it is not installed.
std::string nss_wrapper_library();

// "NAME=value" entries that make a program read the password and group files given:
// LD_PRELOAD (nss_wrapper first, then `preload`) and nss_wrapper's own two variables.
std::vector<std::string> nss_wrapper_environment(const std::string& passwd_path,
                                                 const std::string& group_path,
                                                 const std::vector<std::string>& preload = {});

} // namespace test_support
