#include "support/scratch.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include <unistd.h>

#include "support/files.h"

namespace test_support {

ScratchDir::ScratchDir(const std::string& kind)
{
    const char* tmp = std::getenv("TMPDIR");
    const std::string pattern =
        std::string(tmp && *tmp ? tmp : "/tmp") + "/skarvolt-" + kind + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data()))
        throw std::runtime_error(errno_text("mkdtemp " + pattern));
    path = name.data();
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

} // namespace test_support
