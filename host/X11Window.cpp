#include "host/X11Window.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace vesk::host::x11 {

namespace {

std::atomic<Display*> g_hostDisplay{nullptr};
std::atomic<uint64_t> g_hostErrors{0}, g_otherErrors{0};

int onXError(Display* display, XErrorEvent* e)
{
    const bool ours = display == g_hostDisplay.load();
    (ours ? g_hostErrors : g_otherErrors)++;
    char text[128] = "";
    XGetErrorText(display, e->error_code, text, sizeof text);
    std::fprintf(stderr,
                 "vesk-host: X error on %s connection: %s (request %d.%d, resource 0x%lx)\n",
                 ours ? "the host's" : "a plug-in's", text, int(e->request_code),
                 int(e->minor_code), e->resourceid);
    return 0;
}

Display* dpy(void* d)
{
    return static_cast<Display*>(d);
}

} // namespace

Connection::~Connection()
{
    if (display_ == nullptr)
        return;
    XCloseDisplay(dpy(display_));
    g_hostDisplay = nullptr;
}

bool Connection::open()
{
    if (display_ != nullptr)
        return true;
    // Before any other Xlib call in the process: a plug-in may use Xlib from several threads.
    XInitThreads();
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) {
        const char* name = std::getenv("DISPLAY");
        error_ = std::string("cannot open the X display ") +
                 (name != nullptr && *name != '\0' ? name : "(DISPLAY is not set)");
        return false;
    }
    display_ = d;
    g_hostDisplay = d;
    XSetErrorHandler(onXError);
    wmProtocols_ = XInternAtom(d, "WM_PROTOCOLS", False);
    wmDelete_ = XInternAtom(d, "WM_DELETE_WINDOW", False);
    netWmPid_ = XInternAtom(d, "_NET_WM_PID", False);
    netWmName_ = XInternAtom(d, "_NET_WM_NAME", False);
    utf8_ = XInternAtom(d, "UTF8_STRING", False);
    return true;
}

int Connection::fd() const
{
    return display_ != nullptr ? ConnectionNumber(dpy(display_)) : -1;
}

WindowId Connection::createWindow(int x, int y, uint32_t width, uint32_t height,
                                  const std::string& title)
{
    Display* d = dpy(display_);
    const int screen = DefaultScreen(d);
    XSetWindowAttributes attrs{};
    attrs.background_pixel = BlackPixel(d, screen);
    attrs.event_mask = ExposureMask | StructureNotifyMask;
    const Window w = XCreateWindow(d, RootWindow(d, screen), x, y, width, height, 0, CopyFromParent,
                                   InputOutput, CopyFromParent, CWBackPixel | CWEventMask, &attrs);
    XStoreName(d, w, title.c_str());
    XChangeProperty(d, w, netWmName_, utf8_, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()), int(title.size()));
    Atom protocols[] = {Atom(wmDelete_)};
    XSetWMProtocols(d, w, protocols, 1);
    const long pid = long(::getpid());
    XChangeProperty(d, w, netWmPid_, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    // Without a window manager the position asked for is where the window appears.
    XSizeHints hints{};
    hints.flags = PPosition | PSize;
    hints.x = x;
    hints.y = y;
    hints.width = int(width);
    hints.height = int(height);
    XSetWMNormalHints(d, w, &hints);
    XMapWindow(d, w);
    return w;
}

void Connection::resizeWindow(WindowId window, uint32_t width, uint32_t height)
{
    if (width > 0 && height > 0)
        XResizeWindow(dpy(display_), window, width, height);
}

void Connection::destroyWindow(WindowId window)
{
    if (window != 0)
        XDestroyWindow(dpy(display_), window);
}

void Connection::flush()
{
    XFlush(dpy(display_));
}

void Connection::sync()
{
    XSync(dpy(display_), False);
}

bool Connection::hasQueuedEvents()
{
    return XEventsQueued(dpy(display_), QueuedAlready) > 0;
}

bool Connection::nextEvent(Event& event)
{
    Display* d = dpy(display_);
    if (XPending(d) == 0)
        return false;
    XEvent e;
    XNextEvent(d, &e);
    event = Event{};
    event.window = e.xany.window;
    switch (e.type) {
    case Expose:
        event.type = Event::Type::Exposed;
        event.count = e.xexpose.count;
        break;
    case ConfigureNotify:
        event.type = Event::Type::Configured;
        event.window = e.xconfigure.window;
        event.width = e.xconfigure.width;
        event.height = e.xconfigure.height;
        break;
    case MapNotify:
        event.type = Event::Type::Mapped;
        event.window = e.xmap.window;
        break;
    case ClientMessage:
        if (e.xclient.message_type == Atom(wmProtocols_) && e.xclient.format == 32 &&
            Atom(e.xclient.data.l[0]) == Atom(wmDelete_))
            event.type = Event::Type::CloseRequested;
        break;
    default:
        break;
    }
    return true;
}

std::vector<WindowId> Connection::topLevelWindows()
{
    Display* d = dpy(display_);
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    std::vector<WindowId> out;
    if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n) != 0 &&
        children != nullptr) {
        out.assign(children, children + n);
    }
    if (children != nullptr)
        XFree(children);
    return out;
}

bool Connection::isViewable(WindowId window)
{
    XWindowAttributes a{};
    return XGetWindowAttributes(dpy(display_), window, &a) != 0 && a.map_state == IsViewable;
}

bool Connection::hasViewableChild(WindowId window)
{
    Display* d = dpy(display_);
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    bool found = false;
    if (XQueryTree(d, window, &root, &parent, &children, &n) != 0 && children != nullptr) {
        for (unsigned int i = 0; i < n && !found; ++i)
            found = isViewable(children[i]);
    }
    if (children != nullptr)
        XFree(children);
    return found;
}

bool Connection::geometry(WindowId window, int& x, int& y, uint32_t& width, uint32_t& height)
{
    XWindowAttributes a{};
    if (XGetWindowAttributes(dpy(display_), window, &a) == 0)
        return false;
    x = a.x;
    y = a.y;
    width = uint32_t(a.width);
    height = uint32_t(a.height);
    return true;
}

std::string Connection::windowName(WindowId window)
{
    Display* d = dpy(display_);
    std::string name;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, window, netWmName_, 0, 1024, False, utf8_, &type, &format, &count,
                           &after, &data) == Success &&
        data != nullptr && format == 8)
        name.assign(reinterpret_cast<const char*>(data), count);
    if (data != nullptr)
        XFree(data);
    if (!name.empty())
        return name;
    // WM_NAME as stored, STRING or UTF8_STRING (XFetchName gives only the first).
    data = nullptr;
    if (XGetWindowProperty(d, window, XA_WM_NAME, 0, 1024, False, AnyPropertyType, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr && format == 8)
        name.assign(reinterpret_cast<const char*>(data), count);
    if (data != nullptr)
        XFree(data);
    return name;
}

std::vector<WindowId> Connection::findWindowsOf(long pid, const std::string& namePrefix,
                                                const std::vector<WindowId>& before,
                                                bool viewableOnly)
{
    Display* d = dpy(display_);
    std::vector<WindowId> found;
    for (WindowId w : topLevelWindows()) {
        bool seen = false;
        for (WindowId b : before)
            seen = seen || b == w;
        if (seen)
            continue;
        XWindowAttributes a{};
        if (XGetWindowAttributes(d, w, &a) == 0 || a.c_class != InputOutput)
            continue;
        if (viewableOnly && a.map_state != IsViewable)
            continue;
        bool match = false;
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(d, w, netWmPid_, 0, 1, False, XA_CARDINAL, &type, &format, &count,
                               &after, &data) == Success &&
            data != nullptr && format == 32 && count == 1)
            match = *reinterpret_cast<const long*>(data) == pid;
        if (data != nullptr)
            XFree(data);
        if (!match && !namePrefix.empty())
            match = windowName(w).rfind(namePrefix, 0) == 0;
        if (match)
            found.push_back(w);
    }
    return found;
}

bool Connection::reinstallErrorHandler()
{
    const auto previous = XSetErrorHandler(onXError);
    return previous != onXError;
}

ErrorCounts Connection::errorCounts()
{
    return {g_hostErrors.load(), g_otherErrors.load()};
}

} // namespace vesk::host::x11
