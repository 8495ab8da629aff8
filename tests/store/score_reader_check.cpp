// The score file's reader over the shared table of stored texts, without GoogleTest, so
// that the builds for other machines run it too (tools/test-other-machines): a 32-bit
// machine must read a stored number as a 64-bit one. Prints each case that reads wrong,
// and exits with status 1 if any did.
#include <cstdio>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

#include "read_cases.h"
#include "store/high_score.h"

int main()
{
    int wrong = 0;
    for (const ReadCase& c : READ_CASES) {
        // The file, in memory, as the reader sees a score file.
        const int fd = memfd_create("score", 0);
        std::uint32_t read = 0;
        const bool ok = fd >= 0
                        && write(fd, c.content.data(), c.content.size())
                               == static_cast<ssize_t>(c.content.size())
                        && lseek(fd, 0, SEEK_SET) == 0 && read_stored_score(fd, &read);
        if (fd >= 0)
            close(fd);
        if (!ok || read != c.expected) {
            std::printf("%s: read %u, expected %u%s\n", c.name, read, c.expected,
                        ok ? "" : " (the reading failed)");
            ++wrong;
        }
    }
    std::printf("%d of %zu stored texts read wrong\n", wrong, std::size(READ_CASES));
    return wrong == 0 ? 0 : 1;
}
