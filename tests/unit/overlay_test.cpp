// The score box as the recording GL fake sees it: the text each state shows, the black
// box exactly as wide as that text at one unit per pixel, the white glyphs on top, and
// the matrix left as it was.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fake_gl.h"
#include "game/state.h"
#include "render/overlay.h"

namespace {

// The game whose score box is drawn.
Game game;

// How the fake records the font argument when it is GLUT_BITMAP_HELVETICA_18.
constexpr double HELVETICA_18 = 18.0;

// The characters handed to glutBitmapCharacter, in order.
std::string drawn_text()
{
    std::string text;
    for (const fake::Call& call : fake::calls)
        if (call.name == "glutBitmapCharacter")
            text += static_cast<char>(call.args[1]);
    return text;
}

int text_width(const std::string& text)
{
    int width = 0;
    for (const char c : text)
        width += fake::glyph_width(static_cast<unsigned char>(c));
    return width;
}

class Overlay : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset_with_game(game);
    }
};

struct TextCase {
    int state;
    std::uint32_t score, high_score;
    const char* text;
};

TEST_F(Overlay, TextFollowsTheState)
{
    const TextCase cases[] = {
        {ARMED, 12, 0, "HS: 0"}, // title screen without a stored best
        {ARMED, 12, 345, "HS: 345"},
        {RUNNING, 0, 345, "0"}, // a frame before the run's first tick
        {RUNNING, 678, 345, "678"},
        {CRASHED, 90, 345, "90 (HS: 345)"},
        {CRASHED | ARMED, 400, 400, "400 (HS: 400)"}, // a new record: both numbers equal
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.text);
        fake::reset();
        game.state = c.state;
        game.score = c.score;
        game.high_score = c.high_score;
        draw_overlay(game, WINDOW_WIDTH, WINDOW_HEIGHT);
        EXPECT_EQ(drawn_text(), c.text);
        EXPECT_EQ(fake::count("glBegin"), 1);
        for (const fake::Call& call : fake::calls)
            if (call.name == "glutBitmapCharacter" || call.name == "glutBitmapLength") {
                EXPECT_EQ(call.args[0], HELVETICA_18) << call.name;
            }
    }
}

TEST_F(Overlay, StateWithoutTextDrawsNeitherBoxNorText)
{
    game.state = 0;
    game.score = 5;
    game.high_score = 9;
    draw_overlay(game, WINDOW_WIDTH, WINDOW_HEIGHT);
    EXPECT_TRUE(fake::calls.empty());
}

TEST_F(Overlay, LargestNumbersAreDrawnWholeInABoxAsWideAsAllGlyphs)
{
    game.state = CRASHED | ARMED;
    game.score = 4294967295u;
    game.high_score = 4294967295u;
    draw_overlay(game, WINDOW_WIDTH, WINDOW_HEIGHT);
    const std::string text = drawn_text();
    EXPECT_EQ(text, "4294967295 (HS: 4294967295)");
    EXPECT_EQ(text.size(), 27u);
    ASSERT_EQ(fake::vertices.size(), 4u);
    EXPECT_EQ(fake::vertices[2].x, static_cast<float>(text_width(text)));
    EXPECT_EQ(fake::vertices[3].x, static_cast<float>(text_width(text)));
}

// The box keeps its size in pixels: 18 high and as wide as the text, from the lower-left
// corner, whatever the window's size.
TEST_F(Overlay, BoxIsDrawnAtOneUnitPerPixelInTheLowerLeftCorner)
{
    const std::array<std::array<int, 2>, 2> sizes = {{{400, 300}, {1000, 700}}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(width);
        fake::reset();
        game.state = ARMED;
        game.high_score = 2024;
        draw_overlay(game, width, height);

        const double w = text_width("HS: 2024");
        const double right = -1.0 + 2.0 * w / width;
        const double top = -1.0 + 36.0 / height;
        const std::array<std::array<double, 2>, 4> expected = {
            {{-1.0, top}, {-1.0, -1.0}, {right, -1.0}, {right, top}}};
        ASSERT_EQ(fake::vertices.size(), 4u);
        for (int k = 0; k < 4; ++k) {
            SCOPED_TRACE(k);
            const fake::Vertex& v = fake::vertices[k];
            EXPECT_EQ(v.primitive, static_cast<unsigned>(GL_QUADS));
            EXPECT_NEAR(v.sx, expected[k][0], 1e-6);
            EXPECT_NEAR(v.sy, expected[k][1], 1e-6);
            EXPECT_EQ(v.color, (std::array<float, 3>{0, 0, 0}));
        }
    }
}

TEST_F(Overlay, BoxThenWhiteThenRasterPositionThenGlyphsAndTheMatrixIsRestored)
{
    // Whatever matrix the overlay finds, it leaves.
    glPushMatrix();
    glTranslatef(0.25f, -0.5f, 0.0f);
    glScalef(2.0f, 3.0f, 1.0f);
    const std::array<double, 16> before = fake::matrix();
    fake::calls.clear();

    game.state = RUNNING;
    game.score = 42;
    draw_overlay(game, WINDOW_WIDTH, WINDOW_HEIGHT);
    EXPECT_EQ(fake::matrix(), before);
    EXPECT_EQ(fake::matrix_depth(), 2);

    const std::vector<std::string> expected = {
        "glutBitmapLength", "glPushMatrix", "glTranslatef", "glScalef",
        "glColor3f",        "glBegin",      "glVertex2f",   "glVertex2f",
        "glVertex2f",       "glVertex2f",   "glEnd",        "glPopMatrix",
        "glColor3f",        "glRasterPos2f", "glutBitmapCharacter", "glutBitmapCharacter"};
    ASSERT_EQ(fake::names(), expected);
    EXPECT_EQ(fake::calls[12].args, (std::vector<double>{1, 1, 1}));
    EXPECT_EQ(fake::calls[13].args, (std::vector<double>{-1, -1}));
}

TEST_F(Overlay, WindowWithoutAreaGetsNoBoxButKeepsItsText)
{
    const std::array<std::array<int, 2>, 3> sizes = {{{0, 300}, {400, 0}, {0, 0}}};
    for (const auto& [width, height] : sizes) {
        SCOPED_TRACE(width);
        SCOPED_TRACE(height);
        fake::reset();
        game.state = CRASHED | ARMED;
        game.score = 7;
        game.high_score = 8;
        draw_overlay(game, width, height);
        EXPECT_EQ(fake::count("glBegin"), 0);
        EXPECT_EQ(fake::count("glScalef"), 0);
        for (const fake::Call& call : fake::calls)
            for (const double arg : call.args)
                EXPECT_TRUE(std::isfinite(arg)) << call.name;
        EXPECT_EQ(drawn_text(), "7 (HS: 8)");
        EXPECT_EQ(fake::matrix_depth(), 1);
    }
}

} // namespace
