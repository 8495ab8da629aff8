// The drawing's GL and GLUT calls as no-ops, so that the benchmarks time the game's own
// work of a frame. Which calls the drawing may make is told in src/CMakeLists.txt.
#include <GL/freeglut.h>

// Symbol behind GLUT_BITMAP_HELVETICA_18: only its address matters.
void* glutBitmapHelvetica18 = nullptr;

extern "C" {

void glutTimerFunc(unsigned int /*ms*/, void (* /*callback*/)(int), int /*value*/) {}
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
