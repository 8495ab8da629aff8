#include "store/score_text.h"

#include <cctype>
#include <cstdlib>

std::uint32_t parse_stored_score(const char* text)
{
    // long long, not long: long is 32 bits on 32-bit machines, where strtol would clamp
    // "4294967296" to 2147483647 instead of reading it as 0.
    static_assert(sizeof(long long) == 8);
    const long long value = std::strtoll(text, nullptr, 10);
    return static_cast<std::uint32_t>(static_cast<unsigned long long>(value));
}

// A password file, someone's keys or notes is not ours to cut to one number.
bool is_score_text(const char* text)
{
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    if (*text == '+' || *text == '-')
        ++text;
    while (std::isdigit(static_cast<unsigned char>(*text)))
        ++text;
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    return *text == '\0';
}
