#include "game/run.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include <GL/freeglut.h>

#include "game/hooks.h"
#include "game/pace.h"
#include "game/random.h"
#include "game/rules.h"
#include "game/state.h"

namespace {

// Arms the tick timer for the next tick's time on the run's clock.
void arm_tick()
{
    glutTimerFunc(pace_delay_ms(game.pace, clock_now_us()), on_tick, 0);
}

// A new passage centre: a random step of up to 0.05 either way from the previous one,
// kept inside the band where the passage of half-height g stays in the window.
float next_center(float previous, float g)
{
    const float step = static_cast<float>(random_draw(&game_random)) * 0.1f / RANDOM_SPAN;
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

// Centre of the block that would stand on the new column: somewhere in its passage, so
// that a block never reaches into the walls while the passage is wide enough for it.
// 0.3 is the block's full height and must stay a float: a double 0.3 would round the
// product differently and move every block. From tick 35000 on the half-gap is below it,
// so the factor turns negative; that is how the game has always played.
float next_obstacle(float center, float g)
{
    const float u = static_cast<float>(random_draw(&game_random)) * 2.0f / RANDOM_SPAN - 1.0f;
    return center + (g - 0.3f) * u;
}

// True when the ship, at height y, has crashed on the current tick.
bool ship_crashed(float y)
{
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

// Clears the tunnel and the trail, sets RUNNING and arms the first tick.
void start_run()
{
    std::fill(std::begin(game.trail), std::end(game.trail), 0.0f);
    std::fill(std::begin(game.tunnel_center), std::end(game.tunnel_center), 0.0f);
    std::fill(std::begin(game.obstacle_center), std::end(game.obstacle_center), 0.0f);
    game.state = RUNNING;
    game.accel = -THRUST;
    game.velocity = 0.0f;
    game.score = 0;
    pace_start(game.pace, clock_now_us());
    arm_tick();
}

} // namespace

void start_game()
{
    game.state = ARMED;
    game.high_score = 0;
    sync_high_score();
}

void thrust_on()
{
    if (game.state & RUNNING) {
        game.accel = THRUST;
    } else if (game.state & ARMED) {
        start_run();
        // A run begins with the button down, so its first tick already climbs.
        game.accel = THRUST;
    }
}

void thrust_off()
{
    if (game.state & RUNNING)
        game.accel = -THRUST;
}

namespace {

// One tick of flight: moves the ship, makes the new column and its block, and makes the
// crash tests. True when the run has crashed.
bool fly()
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

    game.tunnel_center[0] = next_center(game.tunnel_center[1], g);
    game.trail[0] = y;
    game.obstacle_center[0] = next_obstacle(game.tunnel_center[0], g);
    return ship_crashed(y);
}

} // namespace

void on_tick(int /*value*/)
{
    // The ticks keep to the run's clock, not to the frames: when the last frame took
    // longer than a tick, every tick that fell due meanwhile runs now, before the next
    // frame is drawn, and the run keeps its speed on any screen. They run here, in this
    // one callback: GLUT may well draw a frame before it runs a timer armed from inside
    // another.
    for (std::int64_t due = pace_take_due(game.pace, clock_now_us()); due > 0; --due) {
        if (fly()) {
            game.state = CRASHED;
            sync_high_score();
            glutPostRedisplay();
            return;
        }
    }
    arm_tick();
    glutPostRedisplay();
}
