#include "game/rules.h"

#include <cmath>

float half_gap(std::int32_t n)
{
    if (n <= 0)
        return 1.0f;
    // Every step in single precision: the walls and the crash test must agree to the bit.
    return 0.2f + 4000.0f / (static_cast<float>(n) + 5000.0f);
}

float next_center(float previous, float g, std::int32_t draw)
{
    const float step = static_cast<float>(draw) * 0.1f / RANDOM_SPAN;
    // The candidate is formed in double on purpose: the tunnel's course was tuned with
    // it, and a float sum would round differently and fly a different tunnel.
    const double candidate = static_cast<double>(previous) + (0.05 - static_cast<double>(step));
    const float low = g - 1.0f;
    const float high = 1.0f - g;
    double taken = candidate > static_cast<double>(low) ? candidate : static_cast<double>(low);
    if (taken > static_cast<double>(high))
        taken = high;
    return static_cast<float>(taken);
}

// 0.3 is the block's full height and must stay a float: a double 0.3 would round the
// product differently and move every block. From tick 35000 on the half-gap is below it,
// so the factor turns negative; that is how the game has always played.
float next_obstacle(float center, float g, std::int32_t draw)
{
    const float u = static_cast<float>(draw) * 2.0f / RANDOM_SPAN - 1.0f;
    return center + (g - 0.3f) * u;
}

bool ship_crashed(const GameState& game)
{
    const float y = game.trail[0];
    if (y > 1.0f || y < -1.0f)
        return true;
    const std::int32_t d = generation_index(game.score, SHIP_COLUMN);
    if (std::fabs(y - game.tunnel_center[SHIP_COLUMN]) >= half_gap(d))
        return true;
    // A block covers its own column and the two newer ones, so the ship's column lies in
    // a block when one of the columns 96, 97, 98 is a block's own column; the block's
    // height is read from that own column. The run's first block is not tested while its
    // own column is the ship's (d == 0).
    if (d > 0) {
        for (int m = 0; m < OBSTACLE_WIDTH; ++m)
            if (holds_block(d - m))
                return std::fabs(y - game.obstacle_center[SHIP_COLUMN + m])
                       < OBSTACLE_HALF_HEIGHT;
    }
    return false;
}
