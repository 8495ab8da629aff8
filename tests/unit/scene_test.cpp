// The playfield as the recording GL fake sees it: which layers each state draws, where
// the walls, blocks, trail and burst land on screen and in which colours, what the burst
// takes from the random generator, and that a frame leaves the matrix stack and the heap
// as it found them.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numbers>
#include <vector>

#include "app/shell.h"
#include "app/shell_session.h"
#include "app/window.h"
#include "fake_gl.h"
#include "game/random.h"
#include "game/rules.h"
#include "game/run.h"
#include "game/state.h"
#include "render/scene.h"

// --- Heap allocation counter ------------------------------------------------------------
// Counts every allocation while `counting` is set. Under AddressSanitizer the heap belongs
// to the sanitizer, which offers hooks for exactly this; elsewhere the C library's
// allocation entry points are replaced by counting ones that hand on to the library's own.
// operator new reaches the heap through malloc, so it is counted either way.

namespace {

// The window's game, as the shell flies it.
Game& game = window_session().game;

bool counting = false;
long allocations = 0;

void note_allocation()
{
    if (counting)
        ++allocations;
}

} // namespace

#if defined(__SANITIZE_ADDRESS__)
#define SKARVOLT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SKARVOLT_ASAN 1
#endif
#endif

#ifdef SKARVOLT_ASAN
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*malloc_hook)(const volatile void*, std::size_t), void (*free_hook)(const volatile void*));

namespace {

[[maybe_unused]] const int hooks_installed = __sanitizer_install_malloc_and_free_hooks(
    [](const volatile void*, std::size_t) { note_allocation(); }, [](const volatile void*) {});

} // namespace
#else
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* old, std::size_t size);

void* malloc(std::size_t size) noexcept
{
    note_allocation();
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept
{
    note_allocation();
    return __libc_calloc(count, size);
}

void* realloc(void* old, std::size_t size) noexcept
{
    note_allocation();
    return __libc_realloc(old, size);
}
} // extern "C"
#endif

namespace {

long allocations_during(void (*work)())
{
    allocations = 0;
    counting = true;
    work();
    counting = false;
    return allocations;
}

// --- Reading the recorded stream --------------------------------------------------------

using Color = std::array<float, 3>;
constexpr Color GREEN{0.0f, 1.0f, 0.0f};
constexpr Color BLACK{0.0f, 0.0f, 0.0f};

constexpr double NEAR = 1e-6; // the fake transforms in double what the game gives as float

struct Primitive {
    unsigned mode;
    std::vector<fake::Vertex> v;
};

// The glBegin ... glEnd groups in drawing order, each with its vertices.
std::vector<Primitive> primitives()
{
    std::vector<Primitive> out;
    std::size_t next = 0;
    for (const fake::Call& call : fake::calls) {
        if (call.name == "glBegin")
            out.push_back({static_cast<unsigned>(call.args[0]), {}});
        else if (call.name == "glVertex2f" && !out.empty())
            out.back().v.push_back(fake::vertices[next++]);
    }
    return out;
}

bool all_green(const Primitive& p)
{
    for (const fake::Vertex& v : p.v)
        if (v.color != GREEN)
            return false;
    return !p.v.empty();
}

struct Block {
    int column;
    Primitive quad;
};

// What draw_walls drew: 144 ceilings, then the floors, each followed by the block of its
// column, if any. A block is the only wall-pass quad without black corners.
struct Walls {
    std::vector<Primitive> ceilings, floors;
    std::vector<Block> blocks;
};

Walls split_walls(const std::vector<Primitive>& prims)
{
    Walls walls;
    for (const Primitive& p : prims) {
        if (walls.ceilings.size() < COLUMNS)
            walls.ceilings.push_back(p);
        else if (all_green(p))
            walls.blocks.push_back({COLUMNS - static_cast<int>(walls.floors.size()), p});
        else
            walls.floors.push_back(p);
    }
    return walls;
}

// Screen x of the left edge of column i: column 143 at the left window edge, column 0
// ending at the right one.
double column_left(int i)
{
    return -1.0 + (COLUMNS - 1 - i) / 72.0;
}

void expect_at(const fake::Vertex& v, double x, double y)
{
    EXPECT_NEAR(v.sx, x, NEAR);
    EXPECT_NEAR(v.sy, y, NEAR);
}

bool is_identity(const std::array<double, 16>& m)
{
    for (int i = 0; i < 16; ++i)
        if (m[i] != (i % 5 == 0 ? 1.0 : 0.0))
            return false;
    return true;
}

class Scene : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::reset_with_game(game);
    }
};

// --- Layers per state -------------------------------------------------------------------

TEST_F(Scene, TitleScreenDrawsNothingAndStaysArmed)
{
    game.state = ARMED;
    game.score = 321;
    game.trail[5] = 0.4f;
    EXPECT_FALSE(draw_scene(game, game.random));
    EXPECT_TRUE(fake::calls.empty());
    EXPECT_EQ(game.state, ARMED);
}

TEST_F(Scene, RunningFrameDrawsTrailThenCeilingsThenFloorsEachWithItsBlock)
{
    game.state = RUNNING;
    game.score = 100; // blocks on the columns made at 0, 50 and 100
    EXPECT_FALSE(draw_scene(game, game.random));
    EXPECT_EQ(game.state, RUNNING);
    EXPECT_EQ(fake::count("glRotatef"), 0); // no burst

    const std::vector<Primitive> prims = primitives();
    ASSERT_EQ(prims.size(), 92u + 144u + 144u + 3u);
    for (int j = 0; j < 92; ++j) {
        EXPECT_EQ(prims[j].mode, j % 2 == 0 ? GL_QUADS : GL_LINES) << j;
        EXPECT_TRUE(all_green(prims[j])) << j;
    }
    // Walls: every column of the ceiling pass, then the floor pass; the block of a column
    // comes right after that column's floor, so the next floors cover its right part.
    const Walls walls = split_walls({prims.begin() + 92, prims.end()});
    EXPECT_EQ(walls.ceilings.size(), 144u);
    EXPECT_EQ(walls.floors.size(), 144u);
    ASSERT_EQ(walls.blocks.size(), 3u);
    EXPECT_EQ(walls.blocks[0].column, 100);
    EXPECT_EQ(walls.blocks[1].column, 50);
    EXPECT_EQ(walls.blocks[2].column, 0);
    for (const Primitive& p : walls.ceilings) {
        EXPECT_EQ(p.mode, GL_QUADS);
        EXPECT_NEAR(p.v[0].sy, 1.0, NEAR); // hangs from the top edge
    }
    for (const Primitive& p : walls.floors)
        EXPECT_NEAR(p.v[0].sy, -1.0, NEAR); // stands on the bottom edge
}

// A redisplay between the press that starts a run and its first tick.
TEST_F(Scene, FrameAtScoreZeroShowsOneBlockAtTheRightEdgeAFlatTrailAndNoWalls)
{
    game.state = RUNNING;
    draw_scene(game, game.random);
    const std::vector<Primitive> prims = primitives();
    ASSERT_EQ(prims.size(), 92u + 144u + 144u + 1u);

    double left = 0, right = -2;
    for (int j = 0; j < 92; ++j)
        for (const fake::Vertex& v : prims[j].v) {
            EXPECT_NEAR(v.sy, 0.0, NEAR);
            left = std::min(left, v.sx);
            right = std::max(right, v.sx);
        }
    EXPECT_NEAR(left, -74.0 / 72.0, NEAR); // left end of the oldest segment, clipped
    EXPECT_NEAR(right, -25.0 / 72.0, NEAR); // point 1, one column left of the ship

    const Walls walls = split_walls({prims.begin() + 92, prims.end()});
    for (const Primitive& p : walls.ceilings)
        for (const fake::Vertex& v : p.v)
            EXPECT_NEAR(v.sy, 1.0, NEAR);
    for (const Primitive& p : walls.floors)
        for (const fake::Vertex& v : p.v)
            EXPECT_NEAR(v.sy, -1.0, NEAR);

    ASSERT_EQ(walls.blocks.size(), 1u);
    const std::vector<fake::Vertex>& b = walls.blocks[0].quad.v;
    ASSERT_EQ(b.size(), 4u);
    expect_at(b[0], 1.0 - 1.0 / 72.0, 0.15); // two of its three columns lie off screen
    expect_at(b[1], 1.0 - 1.0 / 72.0, -0.15);
    expect_at(b[2], 1.0 + 2.0 / 72.0, -0.15);
    expect_at(b[3], 1.0 + 2.0 / 72.0, 0.15);
}

// --- Blocks -----------------------------------------------------------------------------

struct BlockCase {
    std::uint32_t score;
    std::size_t blocks;
};

TEST_F(Scene, BlocksStandOnEveryFiftiethColumnThreeColumnsWideAndPointThreeHigh)
{
    const BlockCase cases[] = {
        {0, 1},   {49, 1},  {50, 2},  {99, 2},  {100, 3},
        {143, 3}, {144, 2}, {150, 3}, {199, 2}, {200, 3},
        {2147483647u, 2}, // the highest positive index
        // The newest six columns read as negative indexes: no block on the one that
        // would be 2147483650 unsigned.
        {2147483653u, 2},
        {4294967295u, 0}, // every index from -1 to -144
    };
    for (const BlockCase& c : cases) {
        SCOPED_TRACE(c.score);
        fake::reset_with_game(game);
        game.state = RUNNING;
        game.score = c.score;
        for (int i = 0; i < COLUMNS; ++i)
            game.obstacle_center[i] = 0.004f * static_cast<float>(i) - 0.3f;
        draw_walls(game);

        const Walls walls = split_walls(primitives());
        ASSERT_EQ(walls.blocks.size(), c.blocks);
        for (const Block& block : walls.blocks) {
            const int i = block.column;
            const std::int32_t d = static_cast<std::int32_t>(c.score - static_cast<std::uint32_t>(i));
            EXPECT_GE(d, 0) << i;
            EXPECT_EQ(d % 50, 0) << i;

            const double x = column_left(i), y = game.obstacle_center[i];
            const std::vector<fake::Vertex>& v = block.quad.v;
            ASSERT_EQ(v.size(), 4u);
            EXPECT_EQ(block.quad.mode, GL_QUADS);
            expect_at(v[0], x, y + 0.15);
            expect_at(v[1], x, y - 0.15);
            expect_at(v[2], x + 3.0 / 72.0, y - 0.15);
            expect_at(v[3], x + 3.0 / 72.0, y + 0.15);
        }
    }
}

// --- Wall columns -----------------------------------------------------------------------

struct ColumnCase {
    std::uint32_t score;
    int column;
    float center;
    std::int32_t index; // the column's generation index, read as signed
};

TEST_F(Scene, WallColumnsShadeFromBlackAtTheEdgeToGreenAtThePassageUnclamped)
{
    const ColumnCase cases[] = {
        {1000, 10, 0.25f, 990},
        {1000, 143, -0.3f, 857},
        {5, 3, 0.9f, 2},    // passage edge above the window: a ceiling of negative height
        {5, 7, 0.4f, -2},   // not generated yet: half-height 1
        {2147483653u, 2, 0.1f, -2147483645},
        {2147483653u, 6, 0.1f, 2147483647},
    };
    for (const ColumnCase& c : cases) {
        SCOPED_TRACE(c.score);
        SCOPED_TRACE(c.column);
        fake::reset_with_game(game);
        game.score = c.score;
        game.tunnel_center[c.column] = c.center;
        draw_walls(game);

        const Walls walls = split_walls(primitives());
        ASSERT_EQ(walls.ceilings.size(), 144u);
        ASSERT_EQ(walls.floors.size(), 144u);
        const float g = half_gap(c.index);
        const double x = column_left(c.column);

        // Vertex order: two at the window edge in black, then two at the passage edge in
        // green, right one first.
        const std::vector<fake::Vertex>& top = walls.ceilings[COLUMNS - 1 - c.column].v;
        ASSERT_EQ(top.size(), 4u);
        const double ceiling_end = static_cast<double>(c.center) + g;
        expect_at(top[0], x, 1.0);
        expect_at(top[1], x + 1.0 / 72.0, 1.0);
        expect_at(top[2], x + 1.0 / 72.0, ceiling_end);
        expect_at(top[3], x, ceiling_end);
        EXPECT_FLOAT_EQ(top[2].y, 1.0f - c.center - g);

        const std::vector<fake::Vertex>& bottom = walls.floors[COLUMNS - 1 - c.column].v;
        ASSERT_EQ(bottom.size(), 4u);
        const double floor_end = static_cast<double>(c.center) - g;
        expect_at(bottom[0], x, -1.0);
        expect_at(bottom[1], x + 1.0 / 72.0, -1.0);
        expect_at(bottom[2], x + 1.0 / 72.0, floor_end);
        expect_at(bottom[3], x, floor_end);
        EXPECT_FLOAT_EQ(bottom[2].y, c.center + 1.0f - g);

        for (const std::vector<fake::Vertex>* wall : {&top, &bottom}) {
            EXPECT_EQ((*wall)[0].color, BLACK);
            EXPECT_EQ((*wall)[1].color, BLACK);
            EXPECT_EQ((*wall)[2].color, GREEN);
            EXPECT_EQ((*wall)[3].color, GREEN);
        }
    }
}

// --- Trail ------------------------------------------------------------------------------

TEST_F(Scene, TrailRunsFromOldestToNewestSegmentAndLeavesOutTheShipItself)
{
    game.trail[0] = 0.777f;
    for (int k = 1; k < TRAIL_LEN; ++k)
        game.trail[k] = 0.01f * static_cast<float>(k) - 0.2f;
    // The trail draws in window coordinates whatever the caller's matrix.
    glPushMatrix();
    glTranslatef(0.5f, 0.5f, 0.0f);
    const std::array<double, 16> before = fake::matrix();
    fake::calls.clear();

    draw_trail(game);
    EXPECT_EQ(fake::matrix(), before);
    EXPECT_EQ(fake::matrix_depth(), 2);

    const std::vector<Primitive> prims = primitives();
    ASSERT_EQ(prims.size(), 92u);
    for (int j = 0; j < 46; ++j) {
        const int n = 46 - j;
        SCOPED_TRACE(n);
        for (int half = 0; half < 2; ++half) {
            const Primitive& p = prims[2 * j + half];
            EXPECT_EQ(p.mode, half == 0 ? GL_QUADS : GL_LINES);
            ASSERT_EQ(p.v.size(), 4u);
            // (column offset left of point n, height): older point, newer, newer, older.
            const std::array<std::array<float, 2>, 4> local = {{{1.0f, game.trail[n + 1]},
                                                                {0.0f, game.trail[n]},
                                                                {3.0f, game.trail[n]},
                                                                {4.0f, game.trail[n + 1]}}};
            for (int k = 0; k < 4; ++k) {
                EXPECT_EQ(p.v[k].x, local[k][0]);
                EXPECT_EQ(p.v[k].y, local[k][1]);
                expect_at(p.v[k], -1.0 / 3.0 - (n + local[k][0]) / 72.0, local[k][1]);
                EXPECT_EQ(p.v[k].color, GREEN);
            }
        }
    }
    for (const fake::Vertex& v : fake::vertices)
        EXPECT_NE(v.y, 0.777f);
}

// --- Burst ------------------------------------------------------------------------------

struct Ray {
    Color color;
    float length;
};

// The rays that a burst drawn from this sequence would show.
std::vector<Ray> replay_burst(RandomState* sequence)
{
    std::vector<Ray> rays;
    for (int k = 0; k < BURST_RAYS; ++k) {
        const std::int32_t c = random_draw(sequence);
        const std::int32_t l = random_draw(sequence);
        rays.push_back({{static_cast<float>(c & 1), static_cast<float>((c >> 1) & 1),
                         static_cast<float>((c >> 2) & 1)},
                        static_cast<float>(l) / 2147483648.0f});
    }
    return rays;
}

void expect_burst(const std::vector<Primitive>& prims, const std::vector<Ray>& rays, float cy)
{
    ASSERT_GE(prims.size(), rays.size());
    const std::size_t first = prims.size() - rays.size();
    for (std::size_t k = 0; k < rays.size(); ++k) {
        SCOPED_TRACE(k);
        const Primitive& p = prims[first + k];
        EXPECT_EQ(p.mode, GL_LINES);
        ASSERT_EQ(p.v.size(), 2u);
        EXPECT_EQ(p.v[0].color, rays[k].color);
        EXPECT_EQ(p.v[1].color, rays[k].color);
        EXPECT_EQ(p.v[1].x, rays[k].length);
        EXPECT_GE(rays[k].length, 0.0f);
        EXPECT_LE(rays[k].length, 1.0f);
        // Ray k + 1 points k + 1 degrees anticlockwise from +x, from the ship.
        const double angle = static_cast<double>(k + 1) * std::numbers::pi / 180.0;
        expect_at(p.v[0], -1.0 / 3.0, cy);
        EXPECT_NEAR(p.v[1].sx, -1.0 / 3.0 + rays[k].length * std::cos(angle), 1e-5);
        EXPECT_NEAR(p.v[1].sy, cy + rays[k].length * std::sin(angle), 1e-5);
    }
}

TEST_F(Scene, CrashFrameTakesSevenHundredTwentyDrawsAndDrawsThemAsItsBurst)
{
    game.state = CRASHED;
    game.score = 250;
    game.trail[0] = 0.5f;

    random_seed(&game.random, 4242);
    RandomState replay = game.random;
    const RandomState burst = take_burst(game);
    EXPECT_EQ(burst, replay) << "the rays are drawn from the sequence as the crash left it";
    EXPECT_EQ(game.state, CRASHED | ARMED) << "a frame over the crash arms the next run";
    EXPECT_TRUE(draw_scene(game, burst));
    EXPECT_EQ(fake::count("glRotatef"), BURST_RAYS);
    for (const fake::Call& call : fake::calls)
        if (call.name == "glRotatef") {
            EXPECT_EQ(call.args, (std::vector<double>{1, 0, 0, 1}));
        }

    const std::vector<Ray> rays = replay_burst(&replay);
    // The burst comes last, over the whole playfield.
    const std::vector<Primitive> prims = primitives();
    ASSERT_EQ(prims.size(), 92u + 288u + 3u + 360u);
    expect_burst(prims, rays, 0.5f);
    EXPECT_EQ(game.random, replay); // exactly 720 draws were taken
}

// Drawing reads: however often a frame is drawn, the game, its sequence included, stays
// exactly as it was, and the same burst shows.
TEST_F(Scene, DrawingABurstChangesNothing)
{
    game.state = CRASHED | ARMED;
    game.score = 250;
    game.trail[0] = 0.5f;
    random_seed(&game.random, 4242);
    const Game before = game;
    const RandomState burst = random_seeded(77);

    for (int frame = 0; frame < 2; ++frame) {
        fake::reset();
        EXPECT_TRUE(draw_scene(game, burst));
        RandomState replay = burst;
        expect_burst(primitives(), replay_burst(&replay), 0.5f);
    }
    EXPECT_EQ(std::memcmp(static_cast<const GameState*>(&before),
                          static_cast<const GameState*>(&game), sizeof(GameState)),
              0);
    EXPECT_EQ(game.random, before.random);
}

TEST_F(Scene, EveryFrameOverTheCrashTakesANewBurst)
{
    game.state = CRASHED | ARMED;
    game.trail[0] = -1.4f; // crashed below the window: only the rays' tips show
    random_seed(&game.random, 99);
    RandomState replay = game.random;
    EXPECT_TRUE(draw_scene(game, take_burst(game)));
    const std::vector<Primitive> first = primitives();
    fake::reset();
    EXPECT_TRUE(draw_scene(game, take_burst(game)));
    EXPECT_EQ(game.state, CRASHED | ARMED);

    const std::vector<Ray> first_rays = replay_burst(&replay);
    const std::vector<Ray> second_rays = replay_burst(&replay);
    expect_burst(first, first_rays, -1.4f);
    expect_burst(primitives(), second_rays, -1.4f);
    int same = 0;
    for (int k = 0; k < BURST_RAYS; ++k)
        same += first_rays[k].length == second_rays[k].length;
    EXPECT_LT(same, 5);
}

// --- Matrix stack and heap --------------------------------------------------------------

TEST_F(Scene, EveryStateLeavesTheMatrixStackAtOneIdentity)
{
    for (const int state : {0, ARMED, RUNNING, CRASHED, CRASHED | ARMED}) {
        SCOPED_TRACE(state);
        fake::reset_with_game(game);
        game.state = state;
        game.score = 150;
        game.trail[0] = 0.3f;
        draw_scene(game, game.random);
        EXPECT_EQ(fake::matrix_depth(), 1);
        EXPECT_TRUE(is_identity(fake::matrix()));
        EXPECT_EQ(fake::count("stack underflow"), 0);
        EXPECT_EQ(fake::count("glPushMatrix"), fake::count("glPopMatrix"));
        EXPECT_LE(fake::max_matrix_depth, 32); // the depth every GL provides
    }
}

TEST(FrameHeap, CounterSeesAnAllocation)
{
    EXPECT_GE(allocations_during([] {
                  void* (*volatile allocate)(std::size_t) = std::malloc;
                  std::free(allocate(64));
              }),
              1);
    EXPECT_GE(allocations_during([] {
                  void* (*volatile allocate)(std::size_t) = ::operator new;
                  ::operator delete(allocate(64));
              }),
              1);
}

TEST(FrameHeap, RunningAndCrashFramesAllocateNothing)
{
    for (const int state : {RUNNING, CRASHED}) {
        SCOPED_TRACE(state);
        fake::reset_with_game(game);
        game.state = state;
        game.score = 4294967295u;
        game.high_score = 4294967295u;
        fake::recording = false; // the fake's own bookkeeping would allocate
        EXPECT_EQ(allocations_during(on_display), 0);
        fake::recording = true;
        EXPECT_EQ(fake::swaps, 1); // the frame did run
    }
}

} // namespace
