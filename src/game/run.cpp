#include "game/run.h"

#include <algorithm>
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

    game.tunnel_center[0] = next_center(game.tunnel_center[1], g, random_draw(&game_random));
    game.trail[0] = y;
    game.obstacle_center[0] = next_obstacle(game.tunnel_center[0], g, random_draw(&game_random));
    return ship_crashed(game);
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
