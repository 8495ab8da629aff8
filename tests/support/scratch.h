// A test's own directory, so that nothing a test makes can touch the real home or
// another test's files.
#pragma once

#include <string>

namespace test_support {

// A fresh directory "skarvolt-KIND.XXXXXX" under $TMPDIR (or /tmp), removed with
// everything in it on scope exit. Directories of one kind all have the same length.
struct ScratchDir {
    explicit ScratchDir(const std::string& kind = "test");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

} // namespace test_support
