#include "picture.h"

#include <algorithm>
#include <stdexcept>
#include <string>

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

bool shows_run(const Image& image)
{
    return count_pixels(image, 0, 0, image.width, image.height,
                        [](Rgb c) { return c == GREEN; }) > 0;
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

ScoreReader::Strip ScoreReader::strip(const Image& image, int x) const
{
    Strip cells;
    if (x < 0 || x + advance_ > image.width)
        return cells;
    for (int col = x; col < x + advance_; ++col)
        for (int y = image.height - OVERLAY_BOX_HEIGHT; y < image.height; ++y)
            cells.push_back(image.at(col, y) == WHITE);
    return cells;
}

ScoreReader::ScoreReader(const Image& title, const Image& held_crash)
{
    // The title's text is "HS: " and then the ten digits, all of one width, from an
    // offset that depends on the font: both are found where the crash's "4" and "5", at
    // the very start of its text, show up among the title's digits.
    const auto inked = [](const Strip& s) {
        return std::find(s.begin(), s.end(), true) != s.end();
    };
    const std::string learnt = LEARNING_SCORE;
    const int count = static_cast<int>(learnt.size());
    const int four = static_cast<int>(learnt.find('4'));
    // The title's text ends with the last digit: its last white column lies in that
    // digit's cell.
    const int text_right = white_box(title, title.height - OVERLAY_BOX_HEIGHT).right;
    int found = 0;
    int learnt_advance = 0;
    for (int advance = 4; advance <= 24; ++advance) {
        advance_ = advance;
        const Strip crash4 = strip(held_crash, 0);
        const Strip crash5 = strip(held_crash, advance);
        if (!inked(crash4) || !inked(crash5))
            continue;
        for (int offset = text_right + 1 - count * advance;
             offset <= text_right - (count - 1) * advance; ++offset) {
            if (strip(title, offset + four * advance) != crash4 ||
                strip(title, offset + (four + 1) * advance) != crash5)
                continue;
            std::vector<Strip> digits(10);
            for (int i = 0; i < count; ++i)
                digits[static_cast<std::size_t>(learnt[static_cast<std::size_t>(i)] - '0')] =
                    strip(title, offset + i * advance);
            ++found;
            learnt_advance = advance;
            digits_ = digits;
        }
    }
    if (found != 1)
        throw std::runtime_error("cannot learn the digits of the score box: " +
                                 std::to_string(found) + " ways to read them");
    for (std::size_t d = 0; d < digits_.size(); ++d)
        for (std::size_t e = 0; e < d; ++e)
            if (!inked(digits_[d]) || digits_[d] == digits_[e])
                throw std::runtime_error("the score box's digits " + std::to_string(e) + " and " +
                                         std::to_string(d) + " cannot be told apart");
    advance_ = learnt_advance;
    if (read(held_crash) != static_cast<std::uint32_t>(HELD_RUN_SCORE))
        throw std::runtime_error("the learnt digits do not read the held run's score");
}

std::uint32_t ScoreReader::read(const Image& image) const
{
    std::uint64_t value = 0;
    int count = 0;
    for (;; ++count) {
        const Strip here = strip(image, count * advance_);
        const auto digit = std::find(digits_.begin(), digits_.end(), here);
        if (here.empty() || digit == digits_.end())
            break;
        value = value * 10 + static_cast<std::uint64_t>(digit - digits_.begin());
    }
    if (count == 0 || count > 10)
        throw std::runtime_error("the score box's text does not begin with a number");
    return static_cast<std::uint32_t>(value);
}

} // namespace e2e
