// X11: atoms, error handlers, the desktop scale, flushing and transient windows.
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#include <juce_gui_basics/juce_gui_basics.h>

#include "VeskGuiLog.h"
#include "VeskGuiPlatform.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace vesk::platform {

namespace {

// The process's handlers from before the editor started; restored when it shuts down.
XErrorHandler s_processErrorHandler = nullptr;
XIOErrorHandler s_processIOErrorHandler = nullptr;
bool s_adopted = false;

::Display* editorDisplay()
{
    auto* xws = juce::XWindowSystem::getInstanceWithoutCreating();
    return xws != nullptr ? xws->getDisplay() : nullptr;
}

// Errors on the editor's own connection come from its windows, typically one the host destroyed
// (with its parent) before the editor let go of it: nothing to do about them, and never a reason
// to end the host's process. Any other connection is the host's business.
int editorErrorHandler(::Display* display, XErrorEvent* event)
{
    if (display != nullptr && display == editorDisplay()) {
        guiLog("X error %d (request %d.%d) on the editor's connection, ignored",
               int(event->error_code), int(event->request_code), int(event->minor_code));
        return 0;
    }
    return s_processErrorHandler != nullptr ? s_processErrorHandler(display, event) : 0;
}

// Xft.dpi from a resource string, or 0.
double dpiFromResources(const char* resources)
{
    if (resources == nullptr)
        return 0.0;
    const char* p = std::strstr(resources, "Xft.dpi:");
    if (p == nullptr)
        return 0.0;
    p += std::strlen("Xft.dpi:");
    char* end = nullptr;
    const double dpi = std::strtod(p, &end);
    return end != p && dpi >= 24.0 && dpi <= 960.0 ? dpi : 0.0;
}

// The RESOURCE_MANAGER property of the root window as it is now (Xlib caches the one it found
// at connection time).
double dpiOfDisplay(::Display* display)
{
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    double dpi = 0.0;
    if (XGetWindowProperty(display, DefaultRootWindow(display), XA_RESOURCE_MANAGER, 0, 1 << 16,
                           False, XA_STRING, &type, &format, &items, &after, &data) == Success &&
        data != nullptr) {
        const std::string text(reinterpret_cast<const char*>(data), items);
        dpi = dpiFromResources(text.c_str());
    }
    if (data != nullptr)
        XFree(data);
    return dpi;
}

} // namespace

const char* windowApi()
{
    return "x11";
}

bool prepareWindowSystem()
{
    if (!s_adopted) {
        // XSet*Handler(nullptr) installs Xlib's defaults and returns what was there.
        s_processErrorHandler = XSetErrorHandler(nullptr);
        XSetErrorHandler(s_processErrorHandler);
        s_processIOErrorHandler = XSetIOErrorHandler(nullptr);
        XSetIOErrorHandler(s_processIOErrorHandler);
    }
    ::Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    // JUCE only looks these up, and without a window manager nobody has made them yet: a window
    // property set with a missing atom is a BadAtom error.
    for (const char* name : {"WM_PROTOCOLS", "WM_STATE", "WM_DELETE_WINDOW", "WM_TAKE_FOCUS",
                             "_NET_WM_PING", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN"})
        XInternAtom(display, name, False);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

void adoptWindowSystem()
{
    // JUCE installed handlers of its own; the error handler becomes ours (which passes the host's
    // errors on), the I/O error handler the process's again.
    XSetErrorHandler(editorErrorHandler);
    XSetIOErrorHandler(s_processIOErrorHandler);
    s_adopted = true;
}

void releaseWindowSystem()
{
    if (!s_adopted)
        return;
    const XErrorHandler current = XSetErrorHandler(s_processErrorHandler);
    if (current != editorErrorHandler && current != nullptr) {
        // Someone installed a handler after ours: leave theirs in place.
        XSetErrorHandler(current);
        guiLog("X error handler changed by someone else; left in place");
    }
    XSetIOErrorHandler(s_processIOErrorHandler);
    s_adopted = false;
}

double desktopScale()
{
    double dpi = 0.0;
    if (::Display* display = editorDisplay()) {
        juce::XWindowSystemUtilities::ScopedXLock lock;
        dpi = dpiOfDisplay(display);
    } else if (::Display* own = XOpenDisplay(nullptr)) {
        dpi = dpiOfDisplay(own);
        XCloseDisplay(own);
    }
    if (dpi > 0.0)
        return dpi / 96.0;
    if (const char* gdk = std::getenv("GDK_SCALE")) {
        const int s = std::atoi(gdk);
        if (s >= 1 && s <= 8)
            return double(s);
    }
    return 0.0;
}

void flush()
{
    if (::Display* display = editorDisplay()) {
        juce::XWindowSystemUtilities::ScopedXLock lock;
        XFlush(display);
    }
}

bool setTransientFor(void* editorWindow, void* hostWindow)
{
    ::Display* display = editorDisplay();
    if (display == nullptr || editorWindow == nullptr || hostWindow == nullptr)
        return false;
    juce::XWindowSystemUtilities::ScopedXLock lock;
    XSetTransientForHint(display, ::Window(reinterpret_cast<uintptr_t>(editorWindow)),
                         ::Window(reinterpret_cast<uintptr_t>(hostWindow)));
    XFlush(display);
    return true;
}

} // namespace vesk::platform
