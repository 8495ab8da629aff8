#include "game/stored_score.h"

#include <cstdlib>

namespace {

bool is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

std::uint32_t parse_stored_score(const char* text)
{
    // long long, not long: a long is 32 bits on 32-bit machines and would clamp there.
    const long long value = std::strtoll(text, nullptr, 10);
    return static_cast<std::uint32_t>(static_cast<unsigned long long>(value));
}

bool holds_score_text(const char* text, std::size_t length)
{
    const char* p = text;
    const char* const end = text + length;
    while (p < end && is_space(*p))
        ++p;
    if (p == end)
        return true;
    if (*p == '+' || *p == '-')
        ++p;
    if (p == end || !is_digit(*p))
        return false;
    while (p < end && is_digit(*p))
        ++p;
    while (p < end && is_space(*p))
        ++p;
    return p == end;
}
