// Feeds arbitrary high-score files to the reader and checks its number against a
// reading worked out here digit by digit: the first 63 characters up to any NUL, blanks
// skipped, a sign, the digits clamped to 64 bits, and the low 32 bits kept.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

#include "store/high_score.h"

namespace {

std::uint32_t expected_score(const std::uint8_t* data, std::size_t size)
{
    std::size_t end = 0;
    while (end < size && end < SCORE_READ_MAX && data[end] != 0)
        ++end;
    std::size_t i = 0;
    while (i < end && std::isspace(data[i]))
        ++i;
    bool negative = false;
    if (i < end && (data[i] == '+' || data[i] == '-'))
        negative = data[i++] == '-';
    // Magnitude saturated one past the largest value, enough to tell both limits.
    constexpr std::uint64_t LIMIT = std::uint64_t{1} << 63;
    std::uint64_t magnitude = 0;
    for (; i < end && data[i] >= '0' && data[i] <= '9'; ++i) {
        const std::uint64_t digit = data[i] - '0';
        magnitude = magnitude > (LIMIT - digit) / 10 ? LIMIT : magnitude * 10 + digit;
    }
    std::int64_t value;
    if (negative)
        value = magnitude >= LIMIT ? INT64_MIN : -static_cast<std::int64_t>(magnitude);
    else
        value = magnitude >= LIMIT ? INT64_MAX : static_cast<std::int64_t>(magnitude);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::uint32_t expected = expected_score(data, size);
    if (size == 0) {
        if (parse_stored_score("") != expected)
            std::abort();
        return 0;
    }
    // The file, in memory, as the reader sees a score file.
    const int fd = memfd_create("score", 0);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0)
        std::abort();
    std::uint32_t read = 0;
    if (!read_stored_score(fd, &read))
        std::abort();
    const off_t position = lseek(fd, 0, SEEK_CUR);
    close(fd);

    if (read != expected) {
        std::fprintf(stderr, "read %u, expected %u\n", read, expected);
        std::abort();
    }
    // The reader takes the 63 characters it keeps, and never more.
    if (position != static_cast<off_t>(size < SCORE_READ_MAX ? size : SCORE_READ_MAX)) {
        std::fprintf(stderr, "file left at %ld of %zu\n", static_cast<long>(position), size);
        std::abort();
    }
    return 0;
}
