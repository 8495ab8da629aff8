// The desktop window's end, as the X server tells it: the one part of the game that talks
// to Xlib.
#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include "app/window.h"

namespace {

// The window as the X server knows it.
Display* x_display = nullptr;
Window x_window = None;
XErrorHandler default_x_error = nullptr;
bool window_gone = false;

// GLUT neither ends the game nor says anything when another program destroys its window,
// and the game would sleep on without one. It ends as when the window is closed: GLUT's
// main loop ends, and so the game, with status 0 and its recording finished.
void end_without_window()
{
    if (window_gone)
        return;
    window_gone = true;
    glutLeaveMainLoop();
}

// Once the window is gone, what still refers to it fails (a frame drawn before the game
// knew, GLUT's own clean-up); that is expected, not worth a word. A request that fails
// because of the window is how the game may learn of it first.
int on_x_error(Display* display, XErrorEvent* error)
{
    if (!window_gone && error->resourceid != x_window)
        return default_x_error(display, error);
    end_without_window();
    return 0;
}

// A window that is destroyed is first unmapped, which GLUT reports as hidden; a window
// that is only hidden (iconified) has no DestroyNotify waiting behind the unmapping.
void on_window_status(int status)
{
    if (status != GLUT_HIDDEN)
        return;
    XSync(x_display, False);
    XEvent destroyed;
    if (XCheckTypedWindowEvent(x_display, x_window, DestroyNotify, &destroyed))
        end_without_window();
}

} // namespace

void watch_window()
{
    x_display = glXGetCurrentDisplay();
    x_window = glXGetCurrentDrawable();
    if (x_display == nullptr || x_window == None)
        return;
    default_x_error = XSetErrorHandler(on_x_error);
    glutWindowStatusFunc(on_window_status);
}
