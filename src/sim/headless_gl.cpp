#include "sim/headless_gl.h"

#include <cstdio>
#include <cstdlib>

#include <GL/freeglut.h>

#include "game/hooks.h"

namespace {

// The game keeps at most one tick armed: a run arms the next tick only from inside the
// one that is running, and starts only while no run is in progress.
void (*pending_tick)(int) = nullptr;
int pending_value = 0;
unsigned pending_delay_ms = 0;

Micros clock_us = 0;

} // namespace

bool tick_pending()
{
    return pending_tick != nullptr;
}

bool fire_pending_tick()
{
    if (pending_tick == nullptr)
        return false;
    void (*const tick)(int) = pending_tick;
    pending_tick = nullptr;
    clock_us += Micros{pending_delay_ms} * 1000;
    tick(pending_value);
    return true;
}

Micros clock_now_us()
{
    return clock_us;
}

// Symbol behind GLUT_BITMAP_HELVETICA_18: only its address matters.
void* glutBitmapHelvetica18 = nullptr;

extern "C" {

void glutTimerFunc(unsigned int ms, void (*callback)(int), int value)
{
    // A second tick in flight would fly the ship twice per period; a replay
    // that went on from there would show a game that never exists.
    if (pending_tick != nullptr) {
        std::fputs("headless GLUT: a second tick was armed while one was pending\n", stderr);
        std::abort();
    }
    pending_tick = callback;
    pending_value = value;
    pending_delay_ms = ms;
}

void glutPostRedisplay() {}
void glutSwapBuffers() {}

int glutBitmapLength(void* /*font*/, const unsigned char* /*text*/)
{
    return 0;
}

void glutBitmapCharacter(void* /*font*/, int /*character*/) {}

void glClear(GLbitfield /*mask*/) {}
void glClearColor(GLclampf /*r*/, GLclampf /*g*/, GLclampf /*b*/, GLclampf /*a*/) {}
void glViewport(GLint /*x*/, GLint /*y*/, GLsizei /*w*/, GLsizei /*h*/) {}
void glLoadIdentity() {}
void glPushMatrix() {}
void glPopMatrix() {}
void glTranslatef(GLfloat /*x*/, GLfloat /*y*/, GLfloat /*z*/) {}
void glScalef(GLfloat /*x*/, GLfloat /*y*/, GLfloat /*z*/) {}
void glRotatef(GLfloat /*angle*/, GLfloat /*x*/, GLfloat /*y*/, GLfloat /*z*/) {}
void glBegin(GLenum /*mode*/) {}
void glEnd() {}
void glVertex2f(GLfloat /*x*/, GLfloat /*y*/) {}
void glColor3f(GLfloat /*r*/, GLfloat /*g*/, GLfloat /*b*/) {}
void glRasterPos2f(GLfloat /*x*/, GLfloat /*y*/) {}

} // extern "C"
