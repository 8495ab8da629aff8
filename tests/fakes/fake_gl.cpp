#include "fake_gl.h"

#include <cmath>
#include <initializer_list>

#include <GL/freeglut.h>

#include "app/hooks.h"
#include "game/state.h"

namespace fake {

std::vector<Call> calls;
std::vector<Vertex> vertices;
std::vector<Timer> timers;
int redisplays = 0;
int swaps = 0;
int max_matrix_depth = 1;
int sync_calls = 0;
int state_at_sync = -1;
std::uint32_t stored_best = 0;
bool saves_fail = false;
bool recording = true;
Micros clock_us = 0;

namespace {

using Matrix = std::array<double, 16>;

constexpr Matrix IDENTITY = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

std::vector<Matrix> stack{IDENTITY};
std::array<float, 3> current_color{1, 1, 1};
unsigned current_primitive = 0;

// The depth of modelview stack that every GL implementation provides.
constexpr std::size_t GUARANTEED_STACK_DEPTH = 32;

// The arguments stay an initializer list until they are kept, so a call that is not
// recorded costs no allocation.
void record(const char* name, std::initializer_list<double> args = {})
{
    if (!recording)
        return;
    calls.push_back({name, std::vector<double>(args)});
}

// top = top * m, as GL multiplies on the right.
void multiply(const Matrix& m)
{
    Matrix& top = stack.back();
    Matrix result{};
    for (int col = 0; col < 4; ++col)
        for (int row = 0; row < 4; ++row) {
            double sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += top[k * 4 + row] * m[col * 4 + k];
            result[col * 4 + row] = sum;
        }
    top = result;
}

} // namespace

void reset()
{
    calls.clear();
    vertices.clear();
    timers.clear();
    redisplays = 0;
    swaps = 0;
    stack.reserve(GUARANTEED_STACK_DEPTH);
    stack.assign(1, IDENTITY);
    max_matrix_depth = 1;
    sync_calls = 0;
    state_at_sync = -1;
    stored_best = 0;
    saves_fail = false;
    recording = true;
    clock_us = 0;
    current_color = {1, 1, 1};
    current_primitive = 0;
}

void reset_with_game(Game& game)
{
    reset();
    game = Game{};
}

std::array<double, 16> matrix()
{
    return stack.back();
}

int matrix_depth()
{
    return static_cast<int>(stack.size());
}

bool fire_timer()
{
    if (timers.empty())
        return false;
    const Timer timer = timers.front();
    timers.erase(timers.begin());
    clock_us += Micros{timer.ms} * 1000;
    timer.callback(timer.value);
    return true;
}

std::vector<std::string> names()
{
    std::vector<std::string> out;
    out.reserve(calls.size());
    for (const Call& call : calls)
        out.push_back(call.name);
    return out;
}

int count(const std::string& name)
{
    int n = 0;
    for (const Call& call : calls)
        n += call.name == name;
    return n;
}

int glyph_width(int character)
{
    return 5 + character % 7;
}

} // namespace fake

using namespace fake;

Micros clock_now_us()
{
    return fake::clock_us;
}

// Symbol behind GLUT_BITMAP_HELVETICA_18.
void* glutBitmapHelvetica18 = nullptr;

extern "C" {

void glClear(GLbitfield mask)
{
    record("glClear", {static_cast<double>(mask)});
}

void glClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a)
{
    record("glClearColor", {r, g, b, a});
}

void glViewport(GLint x, GLint y, GLsizei w, GLsizei h)
{
    record("glViewport", {static_cast<double>(x), static_cast<double>(y),
                          static_cast<double>(w), static_cast<double>(h)});
}

void glLoadIdentity()
{
    record("glLoadIdentity");
    stack.back() = IDENTITY;
}

void glPushMatrix()
{
    record("glPushMatrix");
    stack.push_back(stack.back());
    if (matrix_depth() > max_matrix_depth)
        max_matrix_depth = matrix_depth();
}

void glPopMatrix()
{
    record("glPopMatrix");
    if (stack.size() > 1)
        stack.pop_back();
    else
        record("stack underflow");
}

void glTranslatef(GLfloat x, GLfloat y, GLfloat z)
{
    record("glTranslatef", {x, y, z});
    multiply({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1});
}

void glScalef(GLfloat x, GLfloat y, GLfloat z)
{
    record("glScalef", {x, y, z});
    multiply({x, 0, 0, 0, 0, y, 0, 0, 0, 0, z, 0, 0, 0, 0, 1});
}

void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z)
{
    record("glRotatef", {angle, x, y, z});
    // The game turns only about the z axis.
    const double a = angle * M_PI / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    if (x == 0 && y == 0 && z > 0)
        multiply({c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
    else
        record("unsupported rotation axis");
}

void glBegin(GLenum mode)
{
    record("glBegin", {static_cast<double>(mode)});
    current_primitive = mode;
}

void glEnd()
{
    record("glEnd");
    current_primitive = 0;
}

void glVertex2f(GLfloat x, GLfloat y)
{
    record("glVertex2f", {x, y});
    if (!recording)
        return;
    const Matrix& m = stack.back();
    vertices.push_back({x, y, m[0] * x + m[4] * y + m[12], m[1] * x + m[5] * y + m[13],
                        current_color, current_primitive});
}

void glColor3f(GLfloat r, GLfloat g, GLfloat b)
{
    record("glColor3f", {r, g, b});
    current_color = {r, g, b};
}

void glRasterPos2f(GLfloat x, GLfloat y)
{
    record("glRasterPos2f", {x, y});
}

void glutTimerFunc(unsigned int ms, void (*callback)(int), int value)
{
    record("glutTimerFunc", {static_cast<double>(ms), static_cast<double>(value)});
    timers.push_back({ms, callback, value});
}

void glutPostRedisplay()
{
    record("glutPostRedisplay");
    ++redisplays;
}

void glutSwapBuffers()
{
    record("glutSwapBuffers");
    ++swaps;
}

int glutBitmapLength(void* font, const unsigned char* text)
{
    record("glutBitmapLength", {font == GLUT_BITMAP_HELVETICA_18 ? 18.0 : -1.0});
    int width = 0;
    for (; *text; ++text)
        width += glyph_width(*text);
    return width;
}

void glutBitmapCharacter(void* font, int character)
{
    record("glutBitmapCharacter",
           {font == GLUT_BITMAP_HELVETICA_18 ? 18.0 : -1.0, static_cast<double>(character)});
}

} // extern "C"
