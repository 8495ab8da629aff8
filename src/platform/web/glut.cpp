// The GLUT the game uses, in a web page: the canvas is the window, its WebGL context
// the GL context, and the page's events become GLUT's callbacks. As on the desktop,
// every callback runs on the one thread, one at a time.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <GL/freeglut.h>
#include <emscripten/emscripten.h>
#include <emscripten/eventloop.h>
#include <emscripten/html5.h>

#include "app/hooks.h"
#include "platform/web/fixed_function.h"
#include "platform/web/glut_page.h"

namespace {

constexpr const char* CANVAS = "#canvas";
constexpr int TIMER_SLOTS = 8;
constexpr int KEY_ESCAPE = 27;

void (*display_func)() = nullptr;
void (*keyboard_func)(unsigned char, int, int) = nullptr;
void (*keyboard_up_func)(unsigned char, int, int) = nullptr;
void (*special_func)(int, int, int) = nullptr;
void (*special_up_func)(int, int, int) = nullptr;
bool ignore_key_repeat = false;
void (*mouse_func)(int, int, int, int) = nullptr;
void (*reshape_func)(int, int) = nullptr;

int initial_width = 300;
int initial_height = 300;

bool looping = false; // the main loop has begun: events may reach the game
bool redisplay_pending = false;
long frame_request = 0;
bool ended = false;

// Buttons pressed inside the canvas: their releases count wherever the pointer is then,
// as a desktop window keeps the pointer while a button is held.
unsigned buttons_down = 0;

struct Timer {
    bool armed = false;
    long id = 0;
    void (*callback)(int) = nullptr;
    int value = 0;
};
Timer timers[TIMER_SLOTS];

void fire_timer(void* user_data)
{
    Timer& timer = *static_cast<Timer*>(user_data);
    timer.armed = false;
    if (!ended)
        timer.callback(timer.value);
}

// The canvas's drawing buffer follows its size on the page times the screen's pixel
// density, as a desktop window's size follows what the window manager gives it.
struct PageSize {
    int width;  // the drawing buffer's, in the screen's pixels
    int height;
    int scale;  // the screen's pixels to one of the page's: the density, made whole
};

PageSize page_size{0, 0, 1}; // last reported to the reshape callback

// True, with the page's size now, when it differs from the drawing buffer's.
bool page_size_changed(PageSize& size)
{
    double css_width = 0, css_height = 0;
    if (emscripten_get_element_css_size(CANVAS, &css_width, &css_height) != EMSCRIPTEN_RESULT_SUCCESS)
        return false;
    const double ratio = emscripten_get_device_pixel_ratio();
    size.width = static_cast<int>(std::lround(css_width * ratio));
    size.height = static_cast<int>(std::lround(css_height * ratio));
    size.scale = std::max(1, static_cast<int>(std::lround(ratio)));
    return size.width != page_size.width || size.height != page_size.height || size.scale != page_size.scale;
}

// Gives the drawing buffer the page's size and tells the game. Only right before a frame
// is drawn: a new size clears the buffer, and the browser would show the cleared canvas.
//
// The game measures its window in the page's pixels, which a reader means by a pixel:
// its text keeps its size on a dense screen, each pixel of a glyph a whole block of the
// screen's. The picture is drawn over as many whole blocks as the canvas holds; a canvas
// of a size that is no whole number of blocks keeps a sliver of fewer than `scale`
// screen pixels black at its top and right edges.
void follow_page_size()
{
    PageSize size{};
    if (!page_size_changed(size))
        return;
    emscripten_set_canvas_element_size(CANVAS, size.width, size.height);
    page_size = size;
    const int width = size.width / size.scale;
    const int height = size.height / size.scale;
    fixed_function_bitmap_scale(size.scale);
    if (reshape_func)
        reshape_func(width, height);
    glViewport(0, 0, width * size.scale, height * size.scale);
}

// The page counts the frames drawn and notes when the first one was, for whoever
// watches it (the page's own tests, a curious player in the console).
EM_JS(void, page_frame_drawn, (), {
    Module.framesDrawn = (Module.framesDrawn || 0) + 1;
    if (Module.firstFrameAt === undefined)
        Module.firstFrameAt = performance.now();
});

EM_BOOL draw_frame(double /*time*/, void* /*user_data*/)
{
    redisplay_pending = false;
    frame_request = 0;
    if (ended)
        return EM_FALSE;
    // A size that changed since the last frame is reshaped before this frame, which is
    // the one frame the change calls for: every frame after a crash draws a new burst.
    follow_page_size();
    if (display_func)
        display_func();
    fixed_function_flush();
    page_frame_drawn();
    return EM_FALSE;
}

// A new size on the page calls for a frame, which takes the size up before it draws.
void redraw_if_resized()
{
    PageSize size{};
    if (looping && !ended && page_size_changed(size))
        glutPostRedisplay();
}

EM_BOOL on_page_resize(int /*type*/, const EmscriptenUiEvent* /*event*/, void* /*user_data*/)
{
    redraw_if_resized();
    return EM_FALSE;
}

void deliver_mouse(int button, int state, int x, int y)
{
    if (mouse_func && !ended)
        mouse_func(button, state, x, y);
}

EM_BOOL on_mouse_down(int /*type*/, const EmscriptenMouseEvent* event, void* /*user_data*/)
{
    const int button = event->button; // the page numbers buttons as GLUT does: 0, 1, 2
    if (button >= 0 && button < 16)
        buttons_down |= 1u << button;
    deliver_mouse(button, GLUT_DOWN, static_cast<int>(event->targetX),
                  static_cast<int>(event->targetY));
    return EM_TRUE; // no text selection, no focus change
}

EM_BOOL on_mouse_up(int /*type*/, const EmscriptenMouseEvent* event, void* /*user_data*/)
{
    const int button = event->button;
    if (button < 0 || button >= 16 || !(buttons_down & (1u << button)))
        return EM_FALSE; // a press that began outside the game
    buttons_down &= ~(1u << button);
    deliver_mouse(button, GLUT_UP, static_cast<int>(event->targetX),
                  static_cast<int>(event->targetY));
    return EM_FALSE;
}

// A turn of the wheel is a press and a release at once, as a desktop's freeglut gives it:
// buttons 3 and 4 up and down, 5 and 6 left and right.
EM_BOOL on_wheel(int /*type*/, const EmscriptenWheelEvent* event, void* /*user_data*/)
{
    int button = 0;
    if (event->deltaY != 0)
        button = event->deltaY < 0 ? 3 : 4;
    else if (event->deltaX != 0)
        button = event->deltaX < 0 ? 5 : 6;
    else
        return EM_TRUE;
    const int x = static_cast<int>(event->mouse.targetX);
    const int y = static_cast<int>(event->mouse.targetY);
    deliver_mouse(button, GLUT_DOWN, x, y);
    deliver_mouse(button, GLUT_UP, x, y);
    return EM_TRUE; // the page does not scroll
}

// A finger on a touch screen is the left button: each touch that starts presses it,
// each that ends releases it.
EM_BOOL on_touch(int type, const EmscriptenTouchEvent* event, void* /*user_data*/)
{
    const int state = type == EMSCRIPTEN_EVENT_TOUCHSTART ? GLUT_DOWN : GLUT_UP;
    for (int i = 0; i < event->numTouches; ++i) {
        const EmscriptenTouchPoint& touch = event->touches[i];
        if (touch.isChanged)
            deliver_mouse(GLUT_LEFT_BUTTON, state, static_cast<int>(touch.targetX),
                          static_cast<int>(touch.targetY));
    }
    return EM_TRUE; // keeps the browser from also sending mouse events for the touch
}

// The page's name of a key that GLUT gives as a character, or -1.
int key_character(const EmscriptenKeyboardEvent& event)
{
    static constexpr struct {
        const char* name;
        int character;
    } NAMED[] = {{"Escape", KEY_ESCAPE}, {"Enter", '\r'}, {"Tab", '\t'}, {"Backspace", 8}, {"Delete", 127}};
    for (const auto& named : NAMED)
        if (std::strcmp(event.key, named.name) == 0)
            return named.character;
    if (std::strlen(event.key) == 1 && static_cast<unsigned char>(event.key[0]) < 128)
        return static_cast<unsigned char>(event.key[0]);
    return -1;
}

// The page's name of a key that GLUT gives as a special key, or -1.
int key_special(const EmscriptenKeyboardEvent& event)
{
    static constexpr struct {
        const char* name;
        int key;
    } NAMED[] = {{"ArrowLeft", GLUT_KEY_LEFT}, {"ArrowUp", GLUT_KEY_UP}, {"ArrowRight", GLUT_KEY_RIGHT},
                 {"ArrowDown", GLUT_KEY_DOWN}, {"PageUp", GLUT_KEY_PAGE_UP}, {"PageDown", GLUT_KEY_PAGE_DOWN},
                 {"Home", GLUT_KEY_HOME}, {"End", GLUT_KEY_END}, {"Insert", GLUT_KEY_INSERT}};
    for (const auto& named : NAMED)
        if (std::strcmp(event.key, named.name) == 0)
            return named.key;
    int f = 0;
    if (std::sscanf(event.key, "F%d", &f) == 1 && f >= 1 && f <= 12 && std::strlen(event.key) <= 3)
        return GLUT_KEY_F1 + f - 1;
    return -1;
}

// A key goes down or up. The browser's own shortcuts (with Ctrl, Alt or the system key)
// are the browser's; a release always counts, so that no key stays down for the game.
void deliver_key(const EmscriptenKeyboardEvent& event, bool down)
{
    if (ended || (down && (event.ctrlKey || event.altKey || event.metaKey)))
        return;
    if (down && event.repeat && ignore_key_repeat)
        return;
    if (const int character = key_character(event); character >= 0) {
        const auto callback = down ? keyboard_func : keyboard_up_func;
        if (callback)
            callback(static_cast<unsigned char>(character), 0, 0);
    } else if (const int special = key_special(event); special >= 0) {
        const auto callback = down ? special_func : special_up_func;
        if (callback)
            callback(special, 0, 0);
    }
}

EM_BOOL on_key_down(int /*type*/, const EmscriptenKeyboardEvent* event, void* /*user_data*/)
{
    deliver_key(*event, true);
    return EM_FALSE;
}

EM_BOOL on_key_up(int /*type*/, const EmscriptenKeyboardEvent* event, void* /*user_data*/)
{
    deliver_key(*event, false);
    return EM_FALSE;
}

} // namespace

extern "C" EMSCRIPTEN_KEEPALIVE void canvas_resized()
{
    redraw_if_resized();
}

// A gamepad's button, which the page reads through the browser's Gamepad API: the game's
// button, as a mouse button is.
extern "C" EMSCRIPTEN_KEEPALIVE void gamepad_button(int down)
{
    deliver_mouse(GLUT_LEFT_BUTTON, down ? GLUT_DOWN : GLUT_UP, 0, 0);
}

// The game has ended (a quit key) or failed: nothing of it runs any more, until the
// player asks for a new game (glut_resume). The page calls it on its way out, since the
// browser has no process to end.
extern "C" EMSCRIPTEN_KEEPALIVE void glut_quit()
{
    ended = true;
    for (Timer& timer : timers)
        if (timer.armed) {
            emscripten_clear_timeout(timer.id);
            timer.armed = false;
        }
    // A frame asked for and not drawn yet is cancelled, and asked for again by the next
    // game: one that ended before its first frame still draws when played again.
    if (frame_request != 0)
        emscripten_cancel_animation_frame(frame_request);
    frame_request = 0;
    redisplay_pending = false;
}

// A key pressed by one of the page's buttons (the controls of a recording shown, for a
// touch screen): a character, or with character -1 a special key, given to the window's
// callback as if typed.
extern "C" EMSCRIPTEN_KEEPALIVE void glut_press_key(int character, int special)
{
    if (ended || !looping)
        return;
    if (character >= 0 && keyboard_func != nullptr)
        keyboard_func(static_cast<unsigned char>(character), 0, 0);
    else if (character < 0 && special_func != nullptr)
        special_func(special, 0, 0);
}

// The window's title is the page's, and shown under the canvas for a recording shown or a
// ghost raced.
EM_JS(void, page_title, (const char* title), {
    const text = UTF8ToString(title);
    document.title = text;
    for (const id of ["watch-title", "race-title"]) {
        const shown = document.getElementById(id);
        if (shown)
            shown.textContent = text;
    }
});

void glut_resume()
{
    ended = false;
    buttons_down = 0;
    // As a new window is shown: reshaped to its size, then drawn.
    page_size = {0, 0, 1};
    glutPostRedisplay();
}

extern "C" {

void glutInit(int* /*argc*/, char** /*argv*/) {}
void glutInitDisplayMode(unsigned int /*mode*/) {}

void glutInitWindowSize(int width, int height)
{
    initial_width = width;
    initial_height = height;
}

int glutCreateWindow(const char* /*title*/)
{
    // The page gives the canvas its size on screen; this is the size it starts from
    // when the page leaves it open.
    emscripten_set_canvas_element_size(CANVAS, initial_width, initial_height);
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.alpha = EM_FALSE;
    attributes.depth = EM_FALSE;
    attributes.stencil = EM_FALSE;
    attributes.antialias = EM_FALSE; // sharp edges, as on the desktop
    attributes.preserveDrawingBuffer = EM_TRUE; // the picture stays until the next frame
    attributes.majorVersion = 1;
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = emscripten_webgl_create_context(CANVAS, &attributes);
    if (context <= 0) {
        std::fprintf(stderr, "Skarvolt: this browser gives the page no WebGL\n");
        return 0;
    }
    emscripten_webgl_make_context_current(context);
    fixed_function_init();
    return 1;
}

void glutDisplayFunc(void (*callback)())
{
    display_func = callback;
}

void glutKeyboardFunc(void (*callback)(unsigned char, int, int))
{
    keyboard_func = callback;
}

void glutKeyboardUpFunc(void (*callback)(unsigned char, int, int))
{
    keyboard_up_func = callback;
}

void glutSpecialFunc(void (*callback)(int, int, int))
{
    special_func = callback;
}

void glutSpecialUpFunc(void (*callback)(int, int, int))
{
    special_up_func = callback;
}

void glutIgnoreKeyRepeat(int ignore)
{
    ignore_key_repeat = ignore != 0;
}

void glutMouseFunc(void (*callback)(int, int, int, int))
{
    mouse_func = callback;
}

void glutReshapeFunc(void (*callback)(int, int))
{
    reshape_func = callback;
}

void glutTimerFunc(unsigned int ms, void (*callback)(int), int value)
{
    for (Timer& timer : timers)
        if (!timer.armed) {
            timer.armed = true;
            timer.callback = callback;
            timer.value = value;
            timer.id = emscripten_set_timeout(fire_timer, ms, &timer);
            return;
        }
    std::fprintf(stderr, "Skarvolt: more than %d timers at once; one is dropped\n", TIMER_SLOTS);
}

void glutSetWindowTitle(const char* title)
{
    page_title(title);
}

void glutPostRedisplay()
{
    if (redisplay_pending || ended)
        return;
    redisplay_pending = true;
    frame_request = emscripten_request_animation_frame(draw_frame, nullptr);
}

void glutSwapBuffers()
{
    // The browser shows the canvas once the callback returns.
    fixed_function_flush();
}

void glutMainLoop()
{
    emscripten_set_mousedown_callback(CANVAS, nullptr, EM_FALSE, on_mouse_down);
    emscripten_set_mouseup_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, on_mouse_up);
    emscripten_set_wheel_callback(CANVAS, nullptr, EM_FALSE, on_wheel);
    emscripten_set_touchstart_callback(CANVAS, nullptr, EM_FALSE, on_touch);
    emscripten_set_touchend_callback(CANVAS, nullptr, EM_FALSE, on_touch);
    emscripten_set_touchcancel_callback(CANVAS, nullptr, EM_FALSE, on_touch);
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, on_key_down);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, on_key_up);
    // The window's resize also tells of a new pixel density (the page zoomed); the page
    // itself reports changes of the canvas's own size (canvas_resized).
    emscripten_set_resize_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_FALSE, on_page_resize);
    // As a desktop window is shown: reshaped to its size, then drawn.
    looping = true;
    follow_page_size();
    glutPostRedisplay();
    emscripten_exit_with_live_runtime();
}

} // extern "C"

void set_window_title(const char* text)
{
    page_title(text);
}
