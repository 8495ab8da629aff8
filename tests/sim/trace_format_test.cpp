// The trace's numbers, written without printf, come out as "%.9g" writes them: the
// stored traces were made with printf, and a replay must match them byte for byte.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "game/state.h"
#include "sim/trace.h"

namespace {

std::string with_printf(float value)
{
    char text[64];
    const int n = std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return std::string(text, static_cast<std::size_t>(n));
}

std::string with_trace(float value)
{
    char text[64];
    char* const end = put_general9(text, text + sizeof text, value);
    return std::string(text, end);
}

// Counts and reports the values on which the two writers differ (the first few shown).
int mismatches(const std::vector<float>& values)
{
    int count = 0;
    for (const float v : values) {
        const std::string expected = with_printf(v);
        const std::string got = with_trace(v);
        if (got != expected && ++count <= 5)
            ADD_FAILURE() << "bits 0x" << std::hex << std::bit_cast<std::uint32_t>(v) << ": "
                          << got << " instead of " << expected;
    }
    return count;
}

// Where %g changes between fixed and exponent notation, and where nine digits round up
// into a new power of ten (9.99999999e-5 becomes 0.0001), the two are most likely to part.
TEST(TraceNumbers, PowersOfTenTheirNeighboursAndTheExtremesMatchPrintf)
{
    std::vector<float> values;
    for (int e = -45; e <= 38; ++e) {
        const float near = std::strtof(("1e" + std::to_string(e)).c_str(), nullptr);
        float below = near, above = near;
        for (int step = 0; step < 64; ++step) {
            below = std::nextafter(below, 0.0f);
            above = std::nextafter(above, std::numeric_limits<float>::infinity());
            for (const float v : {near, below, above})
                values.insert(values.end(), {v, -v});
        }
    }
    // Exact powers of ten, to 1e10 (5^10 still fits in a float's 24 bits).
    for (float p = 1.0f; p <= 1e10f; p *= 10.0f)
        values.insert(values.end(), {p, -p, 5.0f * p, 9.99999999f * p});
    const float extremes[] = {0.0f,
                              -0.0f,
                              std::numeric_limits<float>::denorm_min(),
                              std::numeric_limits<float>::min(),
                              std::nextafter(std::numeric_limits<float>::min(), 0.0f),
                              std::numeric_limits<float>::max(),
                              std::numeric_limits<float>::lowest(),
                              std::numeric_limits<float>::epsilon(),
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              THRUST,
                              -THRUST,
                              OBSTACLE_HALF_HEIGHT};
    for (const float v : extremes)
        values.insert(values.end(), {v, -v});
    EXPECT_EQ(mismatches(values), 0) << "of " << values.size() << " values";
}

// Every bit pattern is as likely as any other, so the sample holds subnormals, huge and
// tiny values in their share; the flight's own range is sampled on its own.
TEST(TraceNumbers, RandomFloatsMatchPrintf)
{
    std::mt19937 bits(20261210);
    std::uniform_real_distribution<float> flight(-2.0f, 2.0f);
    std::vector<float> values;
    while (values.size() < 2000000) {
        const float v = std::bit_cast<float>(static_cast<std::uint32_t>(bits()));
        if (!std::isnan(v))
            values.push_back(v);
        values.push_back(flight(bits));
    }
    EXPECT_EQ(mismatches(values), 0) << "of " << values.size() << " values";
}

// The range written in fixed notation, 1e-5 to 1e9, walked bit pattern by bit pattern in
// steps that reach every exponent and many last digits: where nine digits round, tie or
// carry into a new power of ten, the integer writer and printf must agree.
TEST(TraceNumbers, TheFixedRangeWalkedMatchesPrintf)
{
    std::vector<float> values;
    const std::uint32_t from = std::bit_cast<std::uint32_t>(1e-5f);
    const std::uint32_t to = std::bit_cast<std::uint32_t>(1e9f);
    for (std::uint32_t bits = from; bits <= to; bits += 997) {
        const float v = std::bit_cast<float>(bits);
        values.insert(values.end(), {v, -v});
    }
    EXPECT_EQ(mismatches(values), 0) << "of " << values.size() << " values";
}

// A tick's whole text, the crash line included, against printf's line.
TEST(TraceNumbers, TickLinesMatchPrintf)
{
    GameState game{};
    game.score = 4294967295u;
    game.trail[0] = -1.17549435e-38f;
    game.velocity = std::numeric_limits<float>::denorm_min();
    game.tunnel_center[0] = -3.40282347e+38f;
    game.obstacle_center[0] = 0.0001f;
    for (const int state : {RUNNING, CRASHED}) {
        game.state = state;
        char expected[TICK_TEXT_MAX * 2];
        int n = std::snprintf(expected, sizeof expected, "%u %.9g %.9g %.9g %.9g\n", game.score,
                              static_cast<double>(game.trail[0]),
                              static_cast<double>(game.velocity),
                              static_cast<double>(game.tunnel_center[0]),
                              static_cast<double>(game.obstacle_center[0]));
        if (state == CRASHED)
            n += std::snprintf(expected + n, sizeof expected - n, "crash %u\n", game.score);
        ASSERT_LE(n, TICK_TEXT_MAX);
        char text[TICK_TEXT_MAX];
        const int length = format_tick(game, text);
        EXPECT_EQ(std::string(text, static_cast<std::size_t>(length)),
                  std::string(expected, static_cast<std::size_t>(n)));
    }
}

} // namespace
