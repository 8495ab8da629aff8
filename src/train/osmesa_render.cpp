// The game's picture through OSMesa: the window's own scene and overlay, drawn by Mesa
// into memory, with no X server. One context serves every batch; it is made at the first
// picture and kept for the process.
#include "train/render.h"

#include <cstdint>
#include <mutex>
#include <vector>

#include <GL/gl.h>
#include <GL/osmesa.h>

#include "render/scene.h"

namespace {

std::mutex drawing;
OSMesaContext context = nullptr;
std::vector<std::uint8_t> pixels; // RGBA, the bottom row first

} // namespace

bool can_render()
{
    return true;
}

const char* render_game(Game game, int width, int height, std::uint8_t* rgb)
{
    const std::lock_guard<std::mutex> lock(drawing);
    if (context == nullptr) {
        context = OSMesaCreateContextExt(OSMESA_RGBA, 0, 0, 0, nullptr);
        if (context == nullptr)
            return "OSMesa could not make a drawing context";
    }
    pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
    if (!OSMesaMakeCurrent(context, pixels.data(), GL_UNSIGNED_BYTE, width, height))
        return "OSMesa could not draw into a picture of that size";
    // The window's state: a black background, the whole window the viewport, and the
    // glyphs' rows packed byte by byte as GLUT hands them over.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glViewport(0, 0, width, height);
    glLoadIdentity();
    // A crash's burst as the next frame over it would draw it.
    draw_frame(game, game.random, width, height);
    glFinish();
    const std::size_t row = static_cast<std::size_t>(width);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* from = pixels.data() + (static_cast<std::size_t>(height - 1 - y) * row) * 4;
        std::uint8_t* to = rgb + static_cast<std::size_t>(y) * row * 3;
        for (std::size_t x = 0; x < row; ++x) {
            to[3 * x] = from[4 * x];
            to[3 * x + 1] = from[4 * x + 1];
            to[3 * x + 2] = from[4 * x + 2];
        }
    }
    return nullptr;
}
