#include "game/run.h"

#include <algorithm>
#include <iterator>

#include "game/pace.h"
#include "game/random.h"
#include "game/rules.h"
#include "game/state.h"

namespace {

// Clears the tunnel and the trail, sets RUNNING and starts the run's clock.
void start_run(Game& game, Micros now)
{
    std::fill(std::begin(game.trail), std::end(game.trail), 0.0f);
    std::fill(std::begin(game.tunnel_center), std::end(game.tunnel_center), 0.0f);
    std::fill(std::begin(game.obstacle_center), std::end(game.obstacle_center), 0.0f);
    game.state = RUNNING;
    game.accel = -THRUST;
    game.velocity = 0.0f;
    game.score = 0;
    pace_start(game.pace, now);
}

// One tick of flight: moves the ship, makes the new column and its block, and makes the
// crash tests. True when the run has crashed.
bool fly(Game& game)
{
    game.velocity = game.accel + game.velocity;
    const float y = game.velocity + game.trail[0];
    game.score += 1;
    const float g = half_gap(static_cast<std::int32_t>(game.score));

    std::copy_backward(game.trail, game.trail + TRAIL_LEN - 1, game.trail + TRAIL_LEN);
    std::copy_backward(game.tunnel_center, game.tunnel_center + COLUMNS - 1,
                       game.tunnel_center + COLUMNS);
    std::copy_backward(game.obstacle_center, game.obstacle_center + COLUMNS - 1,
                       game.obstacle_center + COLUMNS);

    game.tunnel_center[0] = next_center(game.tunnel_center[1], g, random_draw(&game.random));
    game.trail[0] = y;
    game.obstacle_center[0] = next_obstacle(game.tunnel_center[0], g, random_draw(&game.random));
    return ship_crashed(game);
}

} // namespace

void start_game(Game& game)
{
    game.state = ARMED;
    game.high_score = 0;
}

bool thrust_on(Game& game, Micros now)
{
    if (game.state & RUNNING) {
        game.accel = THRUST;
    } else if (game.state & ARMED) {
        start_run(game, now);
        // A run begins with the button down, so its first tick already climbs.
        game.accel = THRUST;
        return true;
    }
    return false;
}

void thrust_off(Game& game)
{
    if (game.state & RUNNING)
        game.accel = -THRUST;
}

TickResult tick(Game& game, Micros now)
{
    // The ticks keep to the run's clock, not to the frames: when the last frame took
    // longer than a tick, every tick that fell due meanwhile runs now, before the next
    // frame is drawn, and the run keeps its speed on any screen.
    const std::int64_t due = pace_take_due(game.pace, now);
    for (std::int64_t ran = 1; ran <= due; ++ran) {
        if (fly(game)) {
            game.state = CRASHED;
            return {ran, true, 0};
        }
    }
    return {due, false, pace_next_due(game.pace)};
}

bool thrust_on_timed(Game& game, Micros clock, unsigned* tick_delay_ms)
{
    if (!thrust_on(game, clock))
        return false;
    *tick_delay_ms = delay_ms(pace_next_due(game.pace), clock);
    return true;
}

TickResult tick_timed(Game& game, Micros* clock, unsigned* tick_delay_ms)
{
    *clock += Micros{*tick_delay_ms} * 1000;
    const TickResult result = tick(game, *clock);
    if (!result.crashed)
        *tick_delay_ms = delay_ms(result.next_due, *clock);
    return result;
}

RandomState take_burst(Game& game)
{
    const RandomState rays = game.random;
    for (int draw = 0; draw < 2 * BURST_RAYS; ++draw)
        random_draw(&game.random);
    arm_after_crash(game);
    return rays;
}
