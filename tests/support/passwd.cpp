#include "support/passwd.h"

#include <stdexcept>

#include <glob.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include "support/files.h"

namespace test_support {

PasswordEntry current_user(const std::string& home)
{
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    const passwd* user = getpwuid(uid);
    const group* group_entry = getgrgid(gid);
    return {user ? user->pw_name : "player", uid, gid,
            group_entry ? group_entry->gr_name : "player", home};
}

void write_password_files(const PasswordEntry& entry, const std::string& passwd_path,
                          const std::string& group_path)
{
    write_file(passwd_path, entry.name + ":x:" + std::to_string(entry.uid) + ":" +
                                std::to_string(entry.gid) + ":" + entry.name + ":" +
                                entry.home + ":/bin/sh\n");
    write_file(group_path, entry.group + ":x:" + std::to_string(entry.gid) + ":\n");
}

std::string nss_wrapper_library()
{
    glob_t found{};
    std::string path;
    if (glob("/usr/lib/*/libnss_wrapper.so", 0, nullptr, &found) == 0 && found.gl_pathc > 0)
        path = found.gl_pathv[0];
    globfree(&found);
    if (path.empty() && access("/usr/lib/libnss_wrapper.so", R_OK) == 0)
        path = "/usr/lib/libnss_wrapper.so";
    if (path.empty())
        throw std::runtime_error("libnss_wrapper.so not found (package libnss-wrapper)");
    return path;
}

std::vector<std::string> nss_wrapper_environment(const std::string& passwd_path,
                                                 const std::string& group_path,
                                                 const std::vector<std::string>& preload)
{
    std::string libraries = nss_wrapper_library();
    for (const std::string& library : preload)
        libraries += " " + library;
    return {"LD_PRELOAD=" + libraries, "NSS_WRAPPER_PASSWD=" + passwd_path,
            "NSS_WRAPPER_GROUP=" + group_path};
}

} // namespace test_support
