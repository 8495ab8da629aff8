// The score box in the lower-left corner: white text in a black box 18 pixels high,
// as wide as the text, keeping its size in pixels whatever the window's size.
#include <gtest/gtest.h>

#include <string>

#include "harness.h"
#include "picture.h"
#include "support/files.h"

namespace {

using e2e::Box;
using e2e::Game;
using e2e::Image;
using e2e::Rgb;
using e2e::Sandbox;
using e2e::XServer;
using test_support::read_file;

bool black_or_white(Rgb c)
{
    return c == e2e::BLACK || c == e2e::WHITE;
}

bool not_black(Rgb c)
{
    return c != e2e::BLACK;
}

// The text's glyphs stand on the bottom edge, from the left edge, within the box.
void expect_in_lower_left_corner(const Box& text, const Image& image)
{
    ASSERT_FALSE(text.empty()) << "no text";
    EXPECT_LE(text.left, 2);
    EXPECT_GE(text.bottom, image.height - 3);
    EXPECT_GE(text.top, image.height - e2e::OVERLAY_BOX_HEIGHT);
}

TEST(Overlay, TitleScreenShowsWhiteTextInTheLowerLeftCorner)
{
    XServer x;
    Sandbox box;
    Game game(box, {}, &x);
    const Image title = x.settled_image(game.window(), e2e::shows_text);
    const Box text = e2e::white_box(title);
    expect_in_lower_left_corner(text, title);
    EXPECT_EQ(e2e::count_pixels(title, 0, 0, title.width, title.height,
                                [](Rgb c) { return !black_or_white(c); }),
              0)
        << "before the first run the scene is empty";
}

TEST(Overlay, CrashTextIsWiderThanTitleText)
{
    XServer x;
    Sandbox box;
    Game game(box, {}, &x);
    const Image title = x.settled_image(game.window(), e2e::shows_text);
    const Image crash = e2e::held_run_crash(x, game, box);
    // "HS: 0" before, "45 (HS: 45)" after; the burst of this crash stays far above.
    const Box title_text = e2e::white_box(title);
    const Box crash_text = e2e::white_box(crash, crash.height - e2e::OVERLAY_BOX_HEIGHT);
    expect_in_lower_left_corner(crash_text, crash);
    EXPECT_GT(crash_text.width(), title_text.width() + 20);
}

bool shows_burst_below(const Image& image)
{
    return e2e::shows_burst(image, image.height / 2, image.height);
}

// Over a crash at the bottom of the window the burst covers the lower-left corner, so
// the box shows against it: 18 pixels high, as wide as the text, holding nothing but it.
void expect_black_box(const Image& crash)
{
    // The box ends where the burst's colours begin in its rows (white rays aside).
    const int box_top = crash.height - e2e::OVERLAY_BOX_HEIGHT;
    int box_right = 0;
    while (box_right + 1 < crash.width &&
           e2e::count_pixels(crash, box_right + 1, box_top, box_right + 2, crash.height,
                             [](Rgb c) { return !black_or_white(c); }) == 0)
        ++box_right;
    Image inside = crash;
    for (int y = 0; y < crash.height; ++y)
        for (int x = box_right + 1; x < crash.width; ++x)
            inside.pixels[static_cast<std::size_t>(y) * crash.width + x] = e2e::BLACK;
    const Box text = e2e::white_box(inside, box_top);
    expect_in_lower_left_corner(text, crash);
    // As wide as the text: the last glyph's advance reaches a few pixels beyond its ink.
    EXPECT_GE(box_right, text.right);
    EXPECT_LE(box_right, text.right + 6);
    EXPECT_GT(e2e::count_pixels(crash, 0, box_top - e2e::OVERLAY_BOX_HEIGHT, text.right + 1,
                                box_top, not_black),
              0)
        << "the playfield shows right above the box";
}

TEST(Overlay, BlackBoxCoversThePlayfieldUnderTheText)
{
    XServer x;
    Sandbox box;
    Game game(box, {}, &x);
    const Window w = game.window();
    // A press released at once lets the ship fall out of the bottom of the window.
    x.press(200, 150);
    x.release();
    ASSERT_TRUE(e2e::wait_until([&] { return read_file(box.score_file()).has_value(); }));
    {
        SCOPED_TRACE("400x300");
        expect_black_box(x.settled_image(w, shows_burst_below));
    }
    // Twice as high: the picture stretches, the box keeps its size in pixels.
    SCOPED_TRACE("400x600");
    x.resize(w, 400, 600);
    expect_black_box(x.settled_image(
        w, [](const Image& i) { return i.height == 600 && shows_burst_below(i); }));
}

TEST(Overlay, KeepsItsPixelSizeAndCornerWhenTheWindowGrows)
{
    XServer x;
    Sandbox box;
    Game game(box, {}, &x);
    const Window w = game.window();
    const Image before = x.settled_image(w, e2e::shows_text);
    x.resize(w, 700, 500);
    const Image after = x.settled_image(
        w, [](const Image& i) { return i.width == 700 && e2e::shows_text(i); });
    ASSERT_EQ(after.height, 500);

    const Box text = e2e::white_box(before);
    const Box grown = e2e::white_box(after);
    expect_in_lower_left_corner(grown, after);
    EXPECT_EQ(grown.width(), text.width());
    EXPECT_EQ(grown.height(), text.height());
    EXPECT_EQ(grown.left, text.left);
    EXPECT_EQ(after.height - grown.bottom, before.height - text.bottom);
    // The glyphs themselves are the same pixels, counted from the lower-left corner.
    for (int dy = 1; dy <= e2e::OVERLAY_BOX_HEIGHT; ++dy)
        for (int dx = 0; dx <= text.right; ++dx)
            ASSERT_EQ(after.at(dx, after.height - dy), before.at(dx, before.height - dy))
                << dx << " from the left, " << dy << " from the bottom";
}

} // namespace
