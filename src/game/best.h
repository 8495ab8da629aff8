// The best score: what a store holds and what a game knows, merged. Every store (the
// score file, the browser's storage, the simulator's memory) only loads and saves; the
// merge is this one rule.
#pragma once

#include <cstdint>

struct BestMerge {
    std::uint32_t best; // the higher of the two
    bool store;         // the store holds less than the best, and must be written
};

// The higher wins; a store that holds as much is left as it is.
constexpr BestMerge merge_best(std::uint32_t known, std::uint32_t stored)
{
    return known > stored ? BestMerge{known, true} : BestMerge{stored, false};
}
