#include "render/overlay.h"

#include <cstdio>

#include <GL/freeglut.h>

#include "game/state.h"

namespace {

constexpr int OVERLAY_TEXT_SIZE = 32;

// Writes the text that the overlay shows for the current state into text (a buffer of
// OVERLAY_TEXT_SIZE bytes) and returns its length; 0 when the state shows no text.
int overlay_text(const GameState& game, char* text)
{
    int count = 0;
    if (game.state & RUNNING)
        count = std::snprintf(text, OVERLAY_TEXT_SIZE, "%u", game.score);
    // ARMED alone is the title screen, before the first run; after a crash the state is
    // ARMED and CRASHED together, so this whole-value test is not a flag test.
    else if (game.state == ARMED)
        count = std::snprintf(text, OVERLAY_TEXT_SIZE, "HS: %u", game.high_score);
    else if (game.state & CRASHED)
        count = std::snprintf(text, OVERLAY_TEXT_SIZE, "%u (HS: %u)", game.score, game.high_score);
    return count > 0 ? count : 0;
}

} // namespace

void draw_overlay(const GameState& game, int win_width, int win_height)
{
    char text[OVERLAY_TEXT_SIZE];
    const int count = overlay_text(game, text);
    if (count == 0)
        return;
    const int width = glutBitmapLength(GLUT_BITMAP_HELVETICA_18,
                                       reinterpret_cast<const unsigned char*>(text));

    // A window of no area has no pixel scale; nothing of the box could show anyway.
    if (win_width > 0 && win_height > 0) {
        glPushMatrix();
        glTranslatef(-1.0f, -1.0f, 0.0f);
        glScalef(2.0f / static_cast<float>(win_width),
                 2.0f / static_cast<float>(win_height), 0.0f);
        glColor3f(0.0f, 0.0f, 0.0f);
        glBegin(GL_QUADS);
        glVertex2f(0.0f, static_cast<float>(OVERLAY_BOX_HEIGHT));
        glVertex2f(0.0f, 0.0f);
        glVertex2f(static_cast<float>(width), 0.0f);
        glVertex2f(static_cast<float>(width), static_cast<float>(OVERLAY_BOX_HEIGHT));
        glEnd();
        glPopMatrix();
    }

    // The raster position takes the current colour when it is set, so white comes first.
    glColor3f(1.0f, 1.0f, 1.0f);
    glRasterPos2f(-1.0f, -1.0f);
    for (int i = 0; i < count; ++i)
        glutBitmapCharacter(GLUT_BITMAP_HELVETICA_18, text[i]);
}
