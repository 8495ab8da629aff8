// What the game's picture shows, read from screenshots, and the one run that every
// end-to-end test can reproduce exactly: a press held from the title screen, which
// climbs straight out of the top of the window and crashes on tick 45.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

inline constexpr int HELD_RUN_SCORE = 45;
// Rows of the overlay box at the bottom of the window.
inline constexpr int OVERLAY_BOX_HEIGHT = 18;

// A burst ray's colour: every channel full or off, and neither black nor green (those
// also belong to the background and the playfield) nor white (the overlay's text).
bool is_ray_colour(Rgb c);

// Counts the pixels of `image` in the rectangle [x0, x1) x [y0, y1) that satisfy `test`.
int count_pixels(const Image& image, int x0, int y0, int x1, int y1,
                 const std::function<bool(Rgb)>& test);

// True when rows [y0, y1) of the picture hold rays of a crash burst. Nothing else the
// game draws has their colours.
bool shows_burst(const Image& image, int y0, int y1);
// The burst of a crash out of the top of the window lies in the upper half.
bool shows_burst_above(const Image& image);

// Bounding box of the white pixels (the overlay's text); empty when there are none.
struct Box {
    int left = 0, top = 0, right = -1, bottom = -1; // inclusive
    bool empty() const { return right < left; }
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};
// Only rows from `first_row` down are searched.
Box white_box(const Image& image, int first_row = 0);

// True when the overlay's text shows in its place, the bottom rows of the window: the
// window has been drawn at its current size.
bool shows_text(const Image& image);

// True once a run is under way: its trail shows, and nothing green is drawn before.
bool shows_run(const Image& image);

// Pixel row or column whose centre lies nearest to a coordinate of the game's picture
// (x and y from -1 to 1, y upwards), in a window `size` pixels across.
inline double pixel_x(double x, int width) { return (x + 1) * width / 2 - 0.5; }
inline double pixel_y(double y, int height) { return (1 - y) * height / 2 - 0.5; }

// Presses and holds button 1 in the middle of the game's window, waits until the run
// has crashed with the held-run score (the high-score file in the fake home says so)
// and returns the settled crash picture, burst included. The button stays down. The
// fake home must hold no score file, or one below the held-run score.
Image held_run_crash(XServer& x, Game& game, const Sandbox& box);

// Reads the number at the start of the score box's text: the score of a run in progress
// or of a crash. It learns the digits from the game itself: the title screen of a game
// whose best score is LEARNING_SCORE, which shows every digit, and the crash of that
// game's held run, "45 (HS: ...)", which shows where the text's first digits stand.
class ScoreReader {
public:
    static constexpr char LEARNING_SCORE[] = "1234567890";

    // Throws when the two pictures do not show the digits as expected.
    ScoreReader(const Image& title, const Image& held_crash);

    // The number that the text begins with; throws when it begins with no digit.
    std::uint32_t read(const Image& image) const;

private:
    using Strip = std::vector<bool>; // white or not, column by column of one digit's cell
    Strip strip(const Image& image, int x) const;

    int advance_ = 0; // every digit's width in pixels
    std::vector<Strip> digits_; // by value, 0 to 9
};

} // namespace e2e
