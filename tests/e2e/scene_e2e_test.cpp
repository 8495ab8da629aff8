// The playfield as it appears on the screen after a run held from the first press:
// the ship climbs out of the top of the window on tick 45, so the whole picture is
// known in advance apart from the burst's random rays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "harness.h"
#include "picture.h"
#include "support/files.h"

namespace {

using e2e::Game;
using e2e::Image;
using e2e::Rgb;
using e2e::Sandbox;
using e2e::XServer;
using test_support::read_file;

constexpr double COLUMNS_PER_UNIT = 72; // 144 columns across the width of 2
constexpr double SHIP_X = -1.0 / 3.0;
constexpr int SCORE = e2e::HELD_RUN_SCORE;

// Height of the held ship after t ticks: each tick adds 0.001 to its climb rate.
double held_height(double t)
{
    return t <= 0 ? 0 : 0.001 * t * (t + 1) / 2;
}

// The burst's centre: the ship's height on the crash tick, just above the window.
const double BURST_Y = held_height(SCORE);

bool green(Rgb c)
{
    return c == e2e::GREEN;
}

// The rectangle of pixels whose centres lie inside a rectangle of the picture.
struct Pixels {
    int x0, y0, x1, y1; // inclusive
};
Pixels pixels_inside(double left, double top, double right, double bottom, const Image& image)
{
    return {static_cast<int>(std::ceil(e2e::pixel_x(left, image.width))),
            static_cast<int>(std::ceil(e2e::pixel_y(top, image.height))),
            static_cast<int>(std::floor(e2e::pixel_x(right, image.width))),
            static_cast<int>(std::floor(e2e::pixel_y(bottom, image.height)))};
}

// The run's first block stands in the column made by the reset, which the 45 ticks
// have moved to index 45: from the left edge of column 45 over three columns, 0.15
// above and below the middle.
Pixels first_block(const Image& image)
{
    return pixels_inside(-1 + (143.0 - SCORE) / COLUMNS_PER_UNIT, 0.15,
                         -1 + (146.0 - SCORE) / COLUMNS_PER_UNIT, -0.15, image);
}

void expect_first_block(const Image& image)
{
    const Pixels b = first_block(image);
    const int area = (b.x1 - b.x0 - 1) * (b.y1 - b.y0 - 1);
    EXPECT_EQ(e2e::count_pixels(image, b.x0 + 1, b.y0 + 1, b.x1, b.y1, green), area)
        << "block inside x " << b.x0 << ".." << b.x1 << ", y " << b.y0 << ".." << b.y1;
    // Nothing green around it: a margin of four pixels beyond a pixel of slack.
    const int around = e2e::count_pixels(image, b.x0 - 5, b.y0 - 5, b.x1 + 6, b.y1 + 6, green) -
                       e2e::count_pixels(image, b.x0 - 1, b.y0 - 1, b.x1 + 2, b.y1 + 2, green);
    EXPECT_EQ(around, 0);
}

// Distance of a pixel's centre from the burst's centre, in the picture's coordinates.
double from_burst(const Image& image, int x, int y)
{
    return std::hypot((x + 0.5) * 2 / image.width - 1 - SHIP_X,
                      1 - (y + 0.5) * 2 / image.height - BURST_Y);
}

// True for pixels that a ray may have reached: no ray is longer than 1.
bool within_ray_reach(const Image& image, int x, int y)
{
    const double pixel = 2.0 / std::min(image.width, image.height);
    return from_burst(image, x, y) <= 1 + 2 * pixel;
}

// Out of reach of the burst, each pixel column shows the trail as a band from the
// ship's height three ticks later (the trail is swept three columns to the left) down
// to its height at that column.
void expect_trail(const Image& image)
{
    int columns = 0;
    for (int c = 0; c < image.width; ++c) {
        const double x = (c + 0.5) * 2 / image.width - 1;
        const double u = (SHIP_X - x) * COLUMNS_PER_UNIT; // columns left of the ship
        if (u < 33 || u > 47.5)
            continue; // nearer the ship rays may cover the trail itself
        SCOPED_TRACE("pixel column " + std::to_string(c));
        int top = -1, bottom = -1;
        for (int y = 0; y < image.height; ++y)
            if (green(image.at(c, y)) && !within_ray_reach(image, c, y)) {
                if (top < 0)
                    top = y;
                bottom = y;
            }
        const double slack = 1.5;
        const double t = SCORE - u; // the tick on which the ship passed here
        EXPECT_GE(top, e2e::pixel_y(held_height(t + 4), image.height) - slack);
        EXPECT_LE(top, e2e::pixel_y(held_height(t + 2), image.height) + slack);
        EXPECT_GE(bottom, e2e::pixel_y(held_height(t + 1), image.height) - slack);
        EXPECT_LE(bottom, e2e::pixel_y(held_height(t - 1), image.height) + slack);
        ++columns;
    }
    EXPECT_GT(columns, image.width / 30) << "the checked stretch of the trail";
}

// The rays: every colour with a red or a blue channel shows (white aside, which the
// overlay's text has too), and nothing of them lies farther from the ship's last
// position than the longest ray, 1.
void expect_burst(const Image& image)
{
    std::set<std::tuple<int, int, int>> colours;
    double nearest = 10;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const Rgb c = image.at(x, y);
            if (!e2e::is_ray_colour(c))
                continue;
            colours.insert({c.r, c.g, c.b});
            ASSERT_TRUE(within_ray_reach(image, x, y)) << "ray pixel at " << x << "," << y;
            nearest = std::min(nearest, from_burst(image, x, y));
        }
    EXPECT_EQ(colours.size(), 5u) << "red, blue, yellow, magenta and cyan";
    EXPECT_LT(nearest, BURST_Y - 1 + 0.05) << "the rays start at the ship";
}

TEST(Scene, HeldRunCrashShowsBlockTrailAndBurst)
{
    XServer x;
    struct Case {
        std::vector<std::string> args;
    };
    // The picture stretches with the window: the same checks hold in a wide window.
    for (const Case& c : {Case{{}}, Case{{"-geometry", "720x240"}}}) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Sandbox box;
        Game game(box, {.args = c.args}, &x);
        const Image crash = e2e::held_run_crash(x, game, box);
        expect_first_block(crash);
        expect_trail(crash);
        expect_burst(crash);
        x.release();
    }
}

// Every redraw while crashed draws the stopped playfield again, stretched over the
// window's new size, with a new burst.
TEST(Scene, ResizedCrashStretchesToTheNewSize)
{
    XServer x;
    Sandbox box;
    Game game(box, {}, &x);
    const Window w = game.window();
    e2e::held_run_crash(x, game, box);
    x.resize(w, 600, 450);
    const Image resized = x.settled_image(
        w, [](const Image& i) { return i.width == 600 && e2e::shows_burst_above(i); });
    ASSERT_EQ(resized.height, 450);
    expect_first_block(resized);
    expect_trail(resized);
    expect_burst(resized);
}

TEST(Scene, PressAfterTheCrashStartsAnotherRun)
{
    XServer x;
    Sandbox box;
    Game game(box, {}, &x);
    const Window w = game.window();
    const Image first = e2e::held_run_crash(x, game, box);
    x.release();
    x.press(200, 150);
    // The new run's frames have no burst; then it crashes just like the first.
    x.wait_for_image(w, [](const Image& i) { return !e2e::shows_burst_above(i); });
    const Image second = x.settled_image(w, e2e::shows_burst_above);
    EXPECT_NE(second, first) << "a new burst";
    expect_first_block(second);
    expect_trail(second);
    EXPECT_EQ(read_file(box.score_file()), "45\n");
}

} // namespace
