#include "game/random.h"

namespace {

constexpr std::int32_t LEHMER_MODULUS = 2147483647; // 2^31 - 1
constexpr std::int32_t LEHMER_MULTIPLIER = 16807;
// The first draws still show the seed's Lehmer sequence: they are thrown away.
constexpr int DISCARDED_DRAWS = 10 * RANDOM_WORDS;

constexpr std::int32_t draw(RandomState* s)
{
    s->word[s->front] += s->word[s->rear];
    // The lowest bit of a sum of two words is the weakest: it is dropped.
    const std::int32_t result = static_cast<std::int32_t>(s->word[s->front] >> 1);
    if (++s->front == RANDOM_WORDS)
        s->front = 0;
    if (++s->rear == RANDOM_WORDS)
        s->rear = 0;
    return result;
}

constexpr RandomState seeded(std::uint32_t seed)
{
    RandomState s{};
    s.word[0] = seed == 0 ? 1 : seed;
    // Each word is 16807 times the one before, modulo 2^31 - 1, by Schrage's method so
    // that no product leaves 32 bits. A seed of 2^31 or more enters as a negative number.
    std::int32_t w = static_cast<std::int32_t>(s.word[0]);
    for (int i = 1; i < RANDOM_WORDS; ++i) {
        const std::int32_t hi = w / (LEHMER_MODULUS / LEHMER_MULTIPLIER);
        const std::int32_t lo = w % (LEHMER_MODULUS / LEHMER_MULTIPLIER);
        w = LEHMER_MULTIPLIER * lo - (LEHMER_MODULUS % LEHMER_MULTIPLIER) * hi;
        if (w < 0)
            w += LEHMER_MODULUS;
        s.word[i] = static_cast<std::uint32_t>(w);
    }
    s.front = RANDOM_LAG;
    s.rear = 0;
    for (int i = 0; i < DISCARDED_DRAWS; ++i)
        draw(&s);
    return s;
}

} // namespace

void random_seed(RandomState* state, std::uint32_t seed)
{
    *state = seeded(seed);
}

RandomState random_seeded(std::uint32_t seed)
{
    return seeded(seed);
}

std::int32_t random_draw(RandomState* state)
{
    return draw(state);
}
