#include "picture.h"

#include <algorithm>
#include <stdexcept>

#include "support/files.h"

namespace e2e {

using test_support::read_file;

namespace {

bool full_or_off(std::uint8_t channel)
{
    return channel == 0 || channel == 255;
}

} // namespace

bool is_ray_colour(Rgb c)
{
    return full_or_off(c.r) && full_or_off(c.g) && full_or_off(c.b) && (c.r || c.b) &&
           c != WHITE;
}

int count_pixels(const Image& image, int x0, int y0, int x1, int y1,
                 const std::function<bool(Rgb)>& test)
{
    int count = 0;
    for (int y = std::max(y0, 0); y < std::min(y1, image.height); ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, image.width); ++x)
            count += test(image.at(x, y)) ? 1 : 0;
    return count;
}

bool shows_burst(const Image& image, int y0, int y1)
{
    // A burst has some 180 rays in the window; a few dozen pixels cannot be chance.
    constexpr int ENOUGH = 50;
    return count_pixels(image, 0, y0, image.width, y1, is_ray_colour) >= ENOUGH;
}

bool shows_burst_above(const Image& image)
{
    return shows_burst(image, 0, image.height / 2);
}

Box white_box(const Image& image, int first_row)
{
    Box box{image.width, image.height, -1, -1};
    for (int y = std::max(first_row, 0); y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (image.at(x, y) == WHITE) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x);
                box.bottom = std::max(box.bottom, y);
            }
    return box;
}

bool shows_text(const Image& image)
{
    return !white_box(image, image.height - OVERLAY_BOX_HEIGHT).empty();
}

Image held_run_crash(XServer& x, Game& game, const Sandbox& box)
{
    const Window w = game.window();
    const Geometry g = x.geometry(w);
    x.press(g.width / 2, g.height / 2);
    const std::string score = std::to_string(HELD_RUN_SCORE) + "\n";
    if (!wait_until([&] { return read_file(box.score_file()) == score || !game.running(); }) ||
        !game.running())
        throw std::runtime_error("the held run did not crash with the score " + score +
                                 "; the score file holds \"" +
                                 read_file(box.score_file()).value_or("(none)") +
                                 "\"; the game's errors: " + game.err());
    return x.settled_image(w, shows_burst_above);
}

} // namespace e2e
