// The program's start-up steps.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/startup.h"
#include "support/files.h"
#include "support/scratch.h"

using namespace test_support;

namespace {

// Whichever standard descriptors are closed get /dev/null; the open ones are left as
// they are, so nothing opened later can take a standard descriptor's place.
TEST(StandardDescriptors, ClosedOnesAreOpenedOnTheNullDevice)
{
    struct stat null_device {};
    ASSERT_EQ(stat("/dev/null", &null_device), 0);
    for (const std::vector<int>& closed :
         {std::vector<int>{}, {0}, {2}, {0, 2}, {1, 2}, {0, 1, 2}}) {
        SCOPED_TRACE(::testing::PrintToString(closed));
        ScratchDir dir;
        const std::string marker = dir / "open";
        write_file(marker, "");
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            // Every standard descriptor starts on the marker file, then some are closed.
            const int fd = open(marker.c_str(), O_RDWR);
            for (int std_fd = 0; std_fd <= 2; ++std_fd)
                dup2(fd, std_fd);
            close(fd);
            for (const int c : closed)
                close(c);
            open_standard_descriptors();
            // Reports, in the exit status, which descriptors are on what: 2 bits each.
            int code = 0;
            for (int std_fd = 0; std_fd <= 2; ++std_fd) {
                struct stat st {};
                const bool open = fstat(std_fd, &st) == 0;
                const bool null = open && S_ISCHR(st.st_mode) && st.st_rdev == null_device.st_rdev;
                code |= (open ? (null ? 1 : 2) : 3) << (2 * std_fd);
            }
            _exit(code);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        int expected = 0;
        for (int std_fd = 0; std_fd <= 2; ++std_fd) {
            const bool was_closed = std::find(closed.begin(), closed.end(), std_fd) != closed.end();
            expected |= (was_closed ? 1 : 2) << (2 * std_fd);
        }
        EXPECT_EQ(WEXITSTATUS(status), expected) << "2 bits a descriptor: 1 null, 2 kept, 3 closed";
    }
}

} // namespace
