// The game's random generator: an additive feedback generator over 31 words, seeded
// through a Lehmer sequence. It is the game's own, rather than the C library's random(),
// so that one seed flies one tunnel on every machine and with every C library; its draws
// are exactly those of glibc's srandom() and random().
#pragma once

#include <cstdint>

inline constexpr int RANDOM_WORDS = 31;
// How far the word added in lags behind the word it is added to.
inline constexpr int RANDOM_LAG = 3;

struct RandomState {
    std::uint32_t word[RANDOM_WORDS];
    int front; // the word that the next draw adds to and then halves
    int rear;  // the word added to it: RANDOM_LAG words behind, round the table
    bool operator==(const RandomState&) const = default;
};

// The sequence that a seed gives. Seed 0 gives the sequence of seed 1.
void random_seed(RandomState* state, std::uint32_t seed);
RandomState random_seeded(std::uint32_t seed);

// The next draw, from 0 to 2^31 - 1.
std::int32_t random_draw(RandomState* state);
