// The part of fixed-function GL 1.x that the game draws with, over WebGL: the modelview
// stack, immediate mode with quads and lines in per-vertex colours, the raster position
// and bitmaps. Vertices are transformed here, in single precision as the desktop's GL
// does, and collected into one batch per run of the same primitive, so that what is
// drawn later still covers what was drawn earlier. The projection stays the identity:
// the game never touches it.
#include "platform/web/fixed_function.h"

#include <cmath>
#include <cstdio>

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

namespace {

constexpr int STACK_DEPTH = 32; // what GL guarantees for the modelview stack
constexpr int BATCH_VERTICES = 8192;
constexpr float PI = 3.14159265358979323846f;

struct Matrix {
    float m[16]; // column-major, as GL keeps it
};

constexpr Matrix IDENTITY{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

struct Vertex {
    float x, y; // normalised device coordinates
    float r, g, b;
};

Matrix stack[STACK_DEPTH] = {IDENTITY};
int top = 0;

float current[3] = {1.0f, 1.0f, 1.0f};

GLenum begun = 0;        // the primitive of the open glBegin, 0 outside one
Vertex pending[4];       // vertices of the quad or line not yet complete
int pending_count = 0;

// Raster position in window coordinates, its colour, and whether it lies in the window.
float raster_x = 0, raster_y = 0;
float raster_color[3] = {1.0f, 1.0f, 1.0f};
bool raster_valid = true;

// Screen pixels per bitmap pixel, across and up.
int bitmap_scale = 1;

Vertex batch[BATCH_VERTICES];
int batch_count = 0;
GLenum batch_mode = GL_TRIANGLES;

GLuint program = 0;
GLuint buffer = 0;
GLint position_slot = 0;
GLint color_slot = 0;

Matrix& matrix()
{
    return stack[top];
}

// a = a * b, each element summed in the order GL's own software path uses.
void multiply(Matrix& a, const Matrix& b)
{
    Matrix product;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) {
            const float* A = a.m;
            const float* B = b.m;
            product.m[col * 4 + row] = A[0 * 4 + row] * B[col * 4 + 0]
                                       + A[1 * 4 + row] * B[col * 4 + 1]
                                       + A[2 * 4 + row] * B[col * 4 + 2]
                                       + A[3 * 4 + row] * B[col * 4 + 3];
        }
    a = product;
}

void flush()
{
    if (batch_count == 0 || program == 0) {
        batch_count = 0;
        return;
    }
    glUseProgram(program);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(batch_count * sizeof(Vertex)), batch,
                 GL_STREAM_DRAW);
    glEnableVertexAttribArray(static_cast<GLuint>(position_slot));
    glVertexAttribPointer(static_cast<GLuint>(position_slot), 2, GL_FLOAT, GL_FALSE,
                          sizeof(Vertex), nullptr);
    glEnableVertexAttribArray(static_cast<GLuint>(color_slot));
    glVertexAttribPointer(static_cast<GLuint>(color_slot), 3, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                          reinterpret_cast<const void*>(2 * sizeof(float)));
    glDrawArrays(batch_mode, 0, batch_count);
    batch_count = 0;
}

// Adds one whole primitive (3 vertices of a triangle, 2 of a line) to the batch.
void emit(GLenum mode, const Vertex* vertices, int count)
{
    if (mode != batch_mode || batch_count + count > BATCH_VERTICES) {
        flush();
        batch_mode = mode;
    }
    for (int i = 0; i < count; ++i)
        batch[batch_count++] = vertices[i];
}

void emit_quad(const Vertex& a, const Vertex& b, const Vertex& c, const Vertex& d)
{
    const Vertex triangles[6] = {a, b, c, a, c, d};
    emit(GL_TRIANGLES, triangles, 6);
}

// The whole-pixel rectangle [x0, x1) x [y0, y1) of the window, in one colour.
void emit_pixels(int x0, int y0, int x1, int y1, const float* color)
{
    GLint view[4];
    glGetIntegerv(GL_VIEWPORT, view);
    if (view[2] <= 0 || view[3] <= 0)
        return;
    const auto nx = [&](int x) {
        return static_cast<float>(2.0 * (x - view[0]) / view[2] - 1.0);
    };
    const auto ny = [&](int y) {
        return static_cast<float>(2.0 * (y - view[1]) / view[3] - 1.0);
    };
    const float r = color[0], g = color[1], b = color[2];
    emit_quad({nx(x0), ny(y0), r, g, b}, {nx(x1), ny(y0), r, g, b}, {nx(x1), ny(y1), r, g, b},
              {nx(x0), ny(y1), r, g, b});
}

GLuint compile(GLenum kind, const char* source)
{
    const GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[512] = "";
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        std::fprintf(stderr, "Skarvolt: a shader did not compile: %s\n", log);
    }
    return shader;
}

} // namespace

void fixed_function_init()
{
    static const char* const vertex_source =
        "attribute vec2 position;\n"
        "attribute vec3 color;\n"
        "varying vec3 shade;\n"
        "void main() {\n"
        "    shade = color;\n"
        "    gl_Position = vec4(position, 0.0, 1.0);\n"
        "}\n";
    static const char* const fragment_source =
        "#ifdef GL_FRAGMENT_PRECISION_HIGH\n"
        "precision highp float;\n"
        "#else\n"
        "precision mediump float;\n"
        "#endif\n"
        "varying vec3 shade;\n"
        "void main() {\n"
        "    gl_FragColor = vec4(shade, 1.0);\n"
        "}\n";
    program = glCreateProgram();
    glAttachShader(program, compile(GL_VERTEX_SHADER, vertex_source));
    glAttachShader(program, compile(GL_FRAGMENT_SHADER, fragment_source));
    glLinkProgram(program);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok)
        std::fprintf(stderr, "Skarvolt: the drawing program did not link\n");
    position_slot = glGetAttribLocation(program, "position");
    color_slot = glGetAttribLocation(program, "color");
    glGenBuffers(1, &buffer);
}

void fixed_function_flush()
{
    flush();
}

void fixed_function_bitmap_scale(int scale)
{
    bitmap_scale = scale < 1 ? 1 : scale;
}

extern "C" {

void glLoadIdentity()
{
    matrix() = IDENTITY;
}

void glPushMatrix()
{
    if (top + 1 >= STACK_DEPTH)
        return; // GL's stack overflow: the call is ignored
    stack[top + 1] = stack[top];
    ++top;
}

void glPopMatrix()
{
    if (top > 0)
        --top;
}

void glTranslatef(GLfloat x, GLfloat y, GLfloat z)
{
    float* m = matrix().m;
    m[12] = m[0] * x + m[4] * y + m[8] * z + m[12];
    m[13] = m[1] * x + m[5] * y + m[9] * z + m[13];
    m[14] = m[2] * x + m[6] * y + m[10] * z + m[14];
    m[15] = m[3] * x + m[7] * y + m[11] * z + m[15];
}

void glScalef(GLfloat x, GLfloat y, GLfloat z)
{
    float* m = matrix().m;
    for (int row = 0; row < 4; ++row) {
        m[row] *= x;
        m[4 + row] *= y;
        m[8 + row] *= z;
    }
}

void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z)
{
    const float length = std::sqrt(x * x + y * y + z * z);
    if (length == 0.0f)
        return;
    x /= length;
    y /= length;
    z /= length;
    const float radians = angle * PI / 180.0f;
    const float s = static_cast<float>(std::sin(static_cast<double>(radians)));
    const float c = static_cast<float>(std::cos(static_cast<double>(radians)));
    const float t = 1.0f - c;
    const Matrix rotation{{t * x * x + c, t * x * y + s * z, t * x * z - s * y, 0,
                           t * x * y - s * z, t * y * y + c, t * y * z + s * x, 0,
                           t * x * z + s * y, t * y * z - s * x, t * z * z + c, 0,
                           0, 0, 0, 1}};
    multiply(matrix(), rotation);
}

void glColor3f(GLfloat r, GLfloat g, GLfloat b)
{
    current[0] = r;
    current[1] = g;
    current[2] = b;
}

void glBegin(GLenum mode)
{
    begun = mode;
    pending_count = 0;
}

void glEnd()
{
    // An unfinished quad or line draws nothing, as in GL.
    begun = 0;
    pending_count = 0;
}

void glVertex2f(GLfloat x, GLfloat y)
{
    if (begun != GL_QUADS && begun != GL_LINES)
        return;
    const float* m = matrix().m;
    const float w = m[3] * x + m[7] * y + m[15];
    Vertex& v = pending[pending_count++];
    v.x = (m[0] * x + m[4] * y + m[12]) / w;
    v.y = (m[1] * x + m[5] * y + m[13]) / w;
    v.r = current[0];
    v.g = current[1];
    v.b = current[2];
    if (begun == GL_LINES && pending_count == 2) {
        emit(GL_LINES, pending, 2);
        pending_count = 0;
    } else if (begun == GL_QUADS && pending_count == 4) {
        emit_quad(pending[0], pending[1], pending[2], pending[3]);
        pending_count = 0;
    }
}

void glRasterPos2f(GLfloat x, GLfloat y)
{
    const float* m = matrix().m;
    const float cx = m[0] * x + m[4] * y + m[12];
    const float cy = m[1] * x + m[5] * y + m[13];
    const float cw = m[3] * x + m[7] * y + m[15];
    // A position outside the window's clip volume leaves the raster invalid: the
    // bitmaps that follow draw nothing.
    raster_valid = cw > 0.0f && std::fabs(cx) <= cw && std::fabs(cy) <= cw;
    GLint view[4];
    glGetIntegerv(GL_VIEWPORT, view);
    const float half_w = static_cast<float>(view[2]) / 2.0f;
    const float half_h = static_cast<float>(view[3]) / 2.0f;
    raster_x = (cx / cw) * half_w + (static_cast<float>(view[0]) + half_w);
    raster_y = (cy / cw) * half_h + (static_cast<float>(view[1]) + half_h);
    raster_color[0] = current[0];
    raster_color[1] = current[1];
    raster_color[2] = current[2];
}

void glBitmap(GLsizei width, GLsizei height, GLfloat xorig, GLfloat yorig, GLfloat xmove,
              GLfloat ymove, const GLubyte* bitmap)
{
    if (!raster_valid)
        return;
    // The bitmap's pixel grid is laid out at the scale of 1, as GL lays it out, and each
    // of its pixels then covers a block of scale by scale pixels of the screen.
    const int scale = bitmap_scale;
    const auto grid = [](float position) { return static_cast<int>(std::floor(position)); };
    const int left = grid(raster_x / static_cast<float>(scale) - xorig);
    const int bottom = grid(raster_y / static_cast<float>(scale) - yorig);
    const int stride = (width + 7) / 8;
    for (int row = 0; row < height; ++row) {
        const GLubyte* bits = bitmap + row * stride;
        // Runs of set bits become one rectangle each.
        int col = 0;
        while (col < width) {
            const auto set = [&](int i) { return (bits[i / 8] >> (7 - i % 8)) & 1; };
            if (!set(col)) {
                ++col;
                continue;
            }
            const int start = col;
            while (col < width && set(col))
                ++col;
            emit_pixels((left + start) * scale, (bottom + row) * scale, (left + col) * scale,
                        (bottom + row + 1) * scale, raster_color);
        }
    }
    raster_x += xmove * static_cast<float>(scale);
    raster_y += ymove * static_cast<float>(scale);
}

} // extern "C"
