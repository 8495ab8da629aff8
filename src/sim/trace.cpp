#include "sim/trace.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstddef>
#include <cstring>

#include "game/state.h"

namespace {

char* put_unsigned(char* first, char* last, unsigned value)
{
    return std::to_chars(first, last, value).ptr;
}

} // namespace

namespace {

constexpr std::uint64_t NINE_DIGITS = 1'000'000'000; // 10^9: one more than nine digits hold

constexpr std::uint64_t power_of_ten(int n)
{
    std::uint64_t p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

// The value as %.9g writes it in fixed notation, when it does: its nine significant digits
// correctly rounded (to even on a tie, as printf rounds) from the float's exact value, in
// plain integer arithmetic, for the flight's range of 1e-4 up to 1e9. nullptr elsewhere
// (zero, exponent notation, infinities), left to the C++ library.
char* put_fixed9(char* first, float value)
{
#ifndef __SIZEOF_INT128__
    // Without 128-bit integers (32-bit x86, 32-bit arm) the C++ library writes them all.
    (void)first;
    (void)value;
    return nullptr;
#else
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value);
    const int biased = static_cast<int>((bits >> 23) & 0xff);
    if (biased == 0 || biased == 0xff)
        return nullptr;
    // value = m * 2^e exactly, with 2^23 <= m < 2^24.
    const std::uint64_t m = (bits & 0x7fffff) | 0x800000;
    const int e = biased - 150;
    // The decimal exponent of 2^(e + 23), the least the value can be: floor((e + 23) *
    // log10(2)), which the value's own is or exceeds by one.
    const int low = ((e + 23) * 78913) >> 18;
    if (low < -5 || low > 8)
        return nullptr;
    int k = 8 - low; // the scale that puts nine digits before the point, or ten
    unsigned __int128 scaled = 0;
    std::uint64_t q = 0;
    const int shift = e < 0 ? -e : 0;
    for (;;) {
        scaled = static_cast<unsigned __int128>(m) * power_of_ten(k);
        if (e > 0)
            scaled <<= e;
        q = static_cast<std::uint64_t>(scaled >> shift);
        if (q < NINE_DIGITS)
            break;
        if (k == 0)
            return nullptr; // ten digits before the point: exponent notation
        --k;
    }
    // Rounded to nine digits from what the shift dropped.
    if (shift > 0) {
        const unsigned __int128 rest = scaled & ((static_cast<unsigned __int128>(1) << shift) - 1);
        const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
        if (rest > half || (rest == half && (q & 1) != 0))
            ++q;
    }
    if (q == NINE_DIGITS) {
        q /= 10;
        --k;
    }
    const int exponent = 8 - k; // of the first digit
    if (exponent < -4 || exponent > 8)
        return nullptr;
    char digits[9];
    for (int i = 8; i >= 0; --i) {
        digits[i] = static_cast<char>('0' + q % 10);
        q /= 10;
    }
    // %g drops the fraction's trailing zeros, and the point with them.
    int used = 9;
    while (used > exponent + 1 && used > 1 && digits[used - 1] == '0')
        --used;
    char* p = first;
    if (bits >> 31)
        *p++ = '-';
    if (exponent < 0) {
        *p++ = '0';
        *p++ = '.';
        for (int z = -1; z > exponent; --z)
            *p++ = '0';
        std::memcpy(p, digits, static_cast<std::size_t>(used));
        return p + used;
    }
    for (int i = 0; i < used; ++i) {
        if (i == exponent + 1)
            *p++ = '.';
        *p++ = digits[i];
    }
    return p;
#endif
}

} // namespace

char* put_general9(char* first, char* last, float value)
{
    if (last - first >= 16) {
        if (char* end = put_fixed9(first, value))
            return end;
    }
    return std::to_chars(first, last, static_cast<double>(value), std::chars_format::general, 9)
        .ptr;
}

int format_tick(const GameState& game, char* text)
{
    char* const end = text + TICK_TEXT_MAX;
    char* p = put_unsigned(text, end, game.score);
    const float columns[] = {game.trail[0], game.velocity, game.tunnel_center[0],
                             game.obstacle_center[0]};
    for (const float value : columns) {
        *p++ = ' ';
        p = put_general9(p, end, value);
    }
    *p++ = '\n';
    if (game.state & CRASHED) {
        static constexpr char CRASH[] = "crash ";
        std::memcpy(p, CRASH, sizeof CRASH - 1);
        p += sizeof CRASH - 1;
        p = put_unsigned(p, end, game.score);
        *p++ = '\n';
    }
    return static_cast<int>(p - text);
}

void write_tick(const GameState& game, std::FILE* out)
{
    char text[TICK_TEXT_MAX];
    const int length = format_tick(game, text);
    std::fwrite(text, 1, static_cast<std::size_t>(length), out);
}
