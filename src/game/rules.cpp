#include "game/rules.h"

float half_gap(std::int32_t n)
{
    if (n <= 0)
        return 1.0f;
    // Every step in single precision: the walls and the crash test must agree to the bit.
    return 0.2f + 4000.0f / (static_cast<float>(n) + 5000.0f);
}
