#include <cstring>
#include <initializer_list>

#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "app/hooks.h"
#include "app/utf8.h"

void set_window_title(const char* text)
{
    // freeglut hands the bytes to the window system as Latin-1, so a title in UTF-8 would
    // show as other characters ("ghost 1843 Â· you 1210"). The window's names are set here
    // instead: the old one as the window system's text, the new one as UTF-8.
    Display* display = glXGetCurrentDisplay();
    const Window window = glXGetCurrentDrawable();
    // A text that is not UTF-8 (a recording's name in another encoding) goes as it always
    // went, byte for byte.
    if (display == nullptr || window == None || !is_utf8(text)) {
        glutSetWindowTitle(text);
        return;
    }
    char* list[] = {const_cast<char*>(text)};
    XTextProperty name{};
    if (Xutf8TextListToTextProperty(display, list, 1, XStdICCTextStyle, &name) == Success) {
        XSetWMName(display, window, &name);
        XSetWMIconName(display, window, &name);
        XFree(name.value);
    }
    const auto utf8 = reinterpret_cast<const unsigned char*>(text);
    const int length = static_cast<int>(std::strlen(text));
    for (const char* property : {"_NET_WM_NAME", "_NET_WM_ICON_NAME"})
        XChangeProperty(display, window, XInternAtom(display, property, False),
                        XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace, utf8,
                        length);
    XFlush(display);
}
