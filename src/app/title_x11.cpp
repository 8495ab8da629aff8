#include <cstring>
#include <initializer_list>

#include <GL/freeglut.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "app/hooks.h"

namespace {

// Whether text is well-formed UTF-8: no stray continuation byte, no sequence cut short,
// overlong, a surrogate or beyond U+10FFFF.
bool is_utf8(const char* text)
{
    const auto* c = reinterpret_cast<const unsigned char*>(text);
    while (*c != 0) {
        int more = 0;
        unsigned code = *c;
        if (code < 0x80)
            more = 0;
        else if ((code & 0xe0) == 0xc0)
            more = 1, code &= 0x1f;
        else if ((code & 0xf0) == 0xe0)
            more = 2, code &= 0x0f;
        else if ((code & 0xf8) == 0xf0)
            more = 3, code &= 0x07;
        else
            return false;
        ++c;
        for (int i = 0; i < more; ++i, ++c) {
            if ((*c & 0xc0) != 0x80)
                return false;
            code = code << 6 | (*c & 0x3f);
        }
        static constexpr unsigned least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[more] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;
    }
    return true;
}

} // namespace

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
