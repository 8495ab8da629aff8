#include "render/scene.h"

#include <cstdint>

#include <GL/gl.h>

#include "game/random.h"
#include "game/rules.h"
#include "game/state.h"
#include "render/overlay.h"

namespace {

void draw_block()
{
    glColor3f(0.0f, 1.0f, 0.0f);
    glBegin(GL_QUADS);
    glVertex2f(0.0f, OBSTACLE_HALF_HEIGHT);
    glVertex2f(0.0f, -OBSTACLE_HALF_HEIGHT);
    glVertex2f(static_cast<float>(OBSTACLE_WIDTH), -OBSTACLE_HALF_HEIGHT);
    glVertex2f(static_cast<float>(OBSTACLE_WIDTH), OBSTACLE_HALF_HEIGHT);
    glEnd();
}

void trail_segment_vertices(float older, float newer)
{
    glVertex2f(1.0f, older);
    glVertex2f(0.0f, newer);
    glVertex2f(3.0f, newer);
    glVertex2f(4.0f, older);
}

// A ship's trail, in the colour given.
void draw_trail_of(const float (&trail)[TRAIL_LEN], float red, float green, float blue)
{
    glPushMatrix();
    glLoadIdentity();
    // One local unit is one column, counted leftwards from the ship's position.
    glTranslatef(SHIP_X, 0.0f, 0.0f);
    glScalef(-COLUMN_WIDTH, 1.0f, 1.0f);
    glColor3f(red, green, blue);
    // trail[0] is the ship itself, which only the burst marks.
    for (int n = TRAIL_LEN - 2; n >= 1; --n) {
        glPushMatrix();
        glTranslatef(static_cast<float>(n), 0.0f, 0.0f);
        glBegin(GL_QUADS);
        trail_segment_vertices(trail[n + 1], trail[n]);
        glEnd();
        glBegin(GL_LINES);
        trail_segment_vertices(trail[n + 1], trail[n]);
        glEnd();
        glPopMatrix();
    }
    glPopMatrix();
}

// One wall column, black at the window edge (local y = 0), green at the passage edge.
void draw_column(float height)
{
    glBegin(GL_QUADS);
    glColor3f(0.0f, 0.0f, 0.0f);
    glVertex2f(0.0f, 0.0f);
    glVertex2f(1.0f, 0.0f);
    glColor3f(0.0f, 1.0f, 0.0f);
    glVertex2f(1.0f, height);
    glVertex2f(0.0f, height);
    glEnd();
}

// Rays in every whole degree around the current origin, each of a random colour and
// length, drawn from the sequence given.
void draw_burst(RandomState& sequence)
{
    for (int ray = 0; ray < BURST_RAYS; ++ray) {
        const std::int32_t c = random_draw(&sequence);
        glRotatef(1.0f, 0.0f, 0.0f, 1.0f);
        glColor3f((c & 1) ? 1.0f : 0.0f, (c & 2) ? 1.0f : 0.0f, (c & 4) ? 1.0f : 0.0f);
        glBegin(GL_LINES);
        glVertex2f(0.0f, 0.0f);
        const float length = static_cast<float>(random_draw(&sequence)) / RANDOM_SPAN;
        glVertex2f(length, 0.0f);
        glEnd();
    }
}

} // namespace

bool draw_scene(const GameState& game, RandomState burst)
{
    if (game.state & (RUNNING | CRASHED)) {
        draw_trail(game);
        draw_walls(game);
    }
    if (!(game.state & CRASHED))
        return false;
    glPushMatrix();
    glTranslatef(SHIP_X, game.trail[0], 0.0f);
    draw_burst(burst);
    glPopMatrix();
    return true;
}

void draw_trail(const GameState& game)
{
    draw_trail_of(game.trail, 0.0f, 1.0f, 0.0f);
}

void draw_ghost(const GameState& ghost, float fade)
{
    if (fade <= 0.0f)
        return;
    const float grey = GHOST_GREY * fade;
    draw_trail_of(ghost.trail, grey, grey, grey);
}

void draw_walls(const GameState& game)
{
    // Ceilings: local y runs down from the top edge.
    glPushMatrix();
    glTranslatef(-1.0f, 1.0f, 0.0f);
    glScalef(COLUMN_WIDTH, -1.0f, 0.0f);
    for (int i = COLUMNS - 1; i >= 0; --i) {
        const std::int32_t d = generation_index(game.score, i);
        draw_column(1.0f - game.tunnel_center[i] - half_gap(d));
        glTranslatef(1.0f, 0.0f, 0.0f);
    }
    glPopMatrix();

    // Floors, each followed by its column's block: local y runs up from the bottom edge.
    glPushMatrix();
    glTranslatef(-1.0f, -1.0f, 0.0f);
    glScalef(COLUMN_WIDTH, 1.0f, 0.0f);
    for (int i = COLUMNS - 1; i >= 0; --i) {
        const std::int32_t d = generation_index(game.score, i);
        draw_column(game.tunnel_center[i] + 1.0f - half_gap(d));
        if (holds_block(d)) {
            glPushMatrix();
            glTranslatef(0.0f, 1.0f + game.obstacle_center[i], 0.0f);
            draw_block();
            glPopMatrix();
        }
        glTranslatef(1.0f, 0.0f, 0.0f);
    }
    glPopMatrix();
}

void draw_frame(const GameState& game, const RandomState& burst, int width, int height,
                const GameState* ghost, float ghost_fade)
{
    glClear(GL_COLOR_BUFFER_BIT);
    if (ghost != nullptr)
        draw_ghost(*ghost, ghost_fade);
    draw_scene(game, burst);
    draw_overlay(game, width, height);
}
