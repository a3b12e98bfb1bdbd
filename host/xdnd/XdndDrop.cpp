// vesk-xdnd-drop: drops files onto an X11 window as a file manager does, over XDND (the source
// side of protocol version 3), for scripts and tests that need a real file drop: xdotool can move
// the pointer and click but cannot start a drag.
//
//   vesk-xdnd-drop --window ID --x X --y Y [--timeout S] FILE...
//
// X and Y are relative to the window ID. Like a real source, the tool looks for the deepest window
// under that point that carries XdndAware (following XdndProxy), announces text/uri-list, moves
// there (XdndPosition), waits for the target's XdndStatus, drops, answers the target's request for
// the XdndSelection with the files' file:// URIs, and waits for XdndFinished.
//
// Exit status: 0 the drop finished; 1 bad arguments or no display; 2 no XdndAware window under
// the point; 3 the target refused the drop (XdndLeave was sent); 4 the target did not answer in
// time.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr long kSourceVersion = 3;

struct Atoms
{
    Atom aware, proxy, enter, position, status, leave, drop, finished, selection, actionCopy,
        uriList, targets;

    explicit Atoms(Display* d)
    {
        aware = XInternAtom(d, "XdndAware", False);
        proxy = XInternAtom(d, "XdndProxy", False);
        enter = XInternAtom(d, "XdndEnter", False);
        position = XInternAtom(d, "XdndPosition", False);
        status = XInternAtom(d, "XdndStatus", False);
        leave = XInternAtom(d, "XdndLeave", False);
        drop = XInternAtom(d, "XdndDrop", False);
        finished = XInternAtom(d, "XdndFinished", False);
        selection = XInternAtom(d, "XdndSelection", False);
        actionCopy = XInternAtom(d, "XdndActionCopy", False);
        uriList = XInternAtom(d, "text/uri-list", False);
        targets = XInternAtom(d, "TARGETS", False);
    }
};

void usage()
{
    std::fputs("usage: vesk-xdnd-drop --window ID --x X --y Y [--timeout S] FILE...\n", stderr);
}

// The window's XdndAware version, 0 when it has none.
long awareVersion(Display* d, const Atoms& a, Window w)
{
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    long version = 0;
    if (XGetWindowProperty(d, w, a.aware, 0, 1, False, AnyPropertyType, &type, &format, &n, &after,
                           &data) == Success &&
        data != nullptr && n == 1 && format == 32)
        version = *reinterpret_cast<const long*>(data);
    if (data != nullptr)
        XFree(data);
    return version;
}

// The window that takes the messages for w: its XdndProxy when that proxy names itself.
Window proxyOf(Display* d, const Atoms& a, Window w)
{
    auto read = [&](Window of) -> Window {
        Atom type = 0;
        int format = 0;
        unsigned long n = 0, after = 0;
        unsigned char* data = nullptr;
        Window result = 0;
        if (XGetWindowProperty(d, of, a.proxy, 0, 1, False, XA_WINDOW, &type, &format, &n, &after,
                               &data) == Success &&
            data != nullptr && n == 1 && format == 32)
            result = Window(*reinterpret_cast<const unsigned long*>(data));
        if (data != nullptr)
            XFree(data);
        return result;
    };
    const Window p = read(w);
    return p != 0 && read(p) == p ? p : w;
}

// The deepest viewable window under the root point (x, y) that carries XdndAware.
Window findTarget(Display* d, const Atoms& a, int x, int y, long& version)
{
    Window root = DefaultRootWindow(d), current = root, found = 0;
    for (;;) {
        Window child = 0;
        int nx = 0, ny = 0;
        if (!XTranslateCoordinates(d, root, current, x, y, &nx, &ny, &child) || child == 0)
            break;
        current = child;
        const long v = awareVersion(d, a, proxyOf(d, a, current));
        if (v > 0) {
            found = current;
            version = v;
        }
    }
    return found;
}

std::string fileUri(const std::string& path)
{
    std::string absolute = path;
    if (absolute.empty() || absolute[0] != '/') {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) != nullptr)
            absolute = std::string(cwd) + "/" + path;
    }
    std::string uri = "file://";
    for (unsigned char c : absolute) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') ||
                           std::strchr("-._~/!$&'()*+,;=:@", c) != nullptr;
        if (plain) {
            uri += char(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            uri += buf;
        }
    }
    return uri;
}

void sendMessage(Display* d, Window to, Atom type, const long (&l)[5])
{
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.display = d;
    e.xclient.window = to;
    e.xclient.message_type = type;
    e.xclient.format = 32;
    for (int i = 0; i < 5; ++i)
        e.xclient.data.l[i] = l[i];
    XSendEvent(d, to, False, NoEventMask, &e);
    XFlush(d);
}

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Waits for the next event up to the deadline; false on timeout.
bool nextEvent(Display* d, XEvent& e, double deadline)
{
    while (XPending(d) == 0) {
        const double left = deadline - now();
        if (left <= 0.0)
            return false;
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(ConnectionNumber(d), &fds);
        timeval tv{long(left), long((left - double(long(left))) * 1e6)};
        select(ConnectionNumber(d) + 1, &fds, nullptr, nullptr, &tv);
    }
    XNextEvent(d, &e);
    return true;
}

// A server time stamp: the time of a property change on our own window.
Time serverTime(Display* d, Window w)
{
    const Atom a = XInternAtom(d, "VESK_XDND_TIME", False);
    XChangeProperty(d, w, a, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent e;
    for (;;) {
        XWindowEvent(d, w, PropertyChangeMask, &e);
        if (e.type == PropertyNotify)
            return e.xproperty.time;
    }
}

// The drag and drop itself; the exit status.
int dropFiles(Display* d, Window window, int x, int y, const std::vector<std::string>& files,
              double timeout)
{
    const Atoms a(d);

    int rootX = 0, rootY = 0;
    Window child = 0;
    if (!XTranslateCoordinates(d, window, DefaultRootWindow(d), x, y, &rootX, &rootY, &child)) {
        std::fprintf(stderr, "vesk-xdnd-drop: window 0x%lx is not on this screen\n", window);
        return 1;
    }
    long targetVersion = 0;
    const Window target = findTarget(d, a, rootX, rootY, targetVersion);
    if (target == 0 || targetVersion < kSourceVersion) {
        std::fprintf(stderr, "vesk-xdnd-drop: no XdndAware window (version >= 3) at %d,%d\n", rootX,
                     rootY);
        return 2;
    }
    const Window to = proxyOf(d, a, target);
    const long version = std::min(targetVersion, kSourceVersion);

    std::string uris;
    for (const std::string& f : files)
        uris += fileUri(f) + "\r\n";

    XSetWindowAttributes attrs{};
    attrs.event_mask = PropertyChangeMask;
    const Window source = XCreateWindow(d, DefaultRootWindow(d), -10, -10, 1, 1, 0, CopyFromParent,
                                        InputOnly, CopyFromParent, CWEventMask, &attrs);
    const Time time = serverTime(d, source);
    XSetSelectionOwner(d, a.selection, source, time);

    sendMessage(d, to, a.enter, {long(source), version << 24, long(a.uriList), 0, 0});
    sendMessage(d, to, a.position,
                {long(source), 0, (long(rootX) << 16) | long(rootY & 0xffff), long(time),
                 long(a.actionCopy)});

    const double deadline = now() + timeout;
    bool accepted = false, statusSeen = false, dropped = false, finished = false;
    XEvent e;
    while (!finished) {
        if (!nextEvent(d, e, deadline)) {
            std::fprintf(stderr, "vesk-xdnd-drop: no %s from the target within %.1f s\n",
                         statusSeen ? "XdndFinished" : "XdndStatus", timeout);
            if (!dropped)
                sendMessage(d, to, a.leave, {long(source), 0, 0, 0, 0});
            return 4;
        }
        if (e.type == ClientMessage && e.xclient.message_type == a.status && !statusSeen) {
            statusSeen = true;
            accepted = (e.xclient.data.l[1] & 1) != 0;
            if (!accepted) {
                sendMessage(d, to, a.leave, {long(source), 0, 0, 0, 0});
                std::fputs("vesk-xdnd-drop: the target refused the drop\n", stderr);
                return 3;
            }
            sendMessage(d, to, a.drop, {long(source), 0, long(time), 0, 0});
            dropped = true;
        } else if (e.type == ClientMessage && e.xclient.message_type == a.finished) {
            finished = dropped;
        } else if (e.type == SelectionRequest) {
            const XSelectionRequestEvent& r = e.xselectionrequest;
            XEvent reply{};
            reply.xselection.type = SelectionNotify;
            reply.xselection.display = d;
            reply.xselection.requestor = r.requestor;
            reply.xselection.selection = r.selection;
            reply.xselection.target = r.target;
            reply.xselection.time = r.time;
            const Atom property = r.property != 0 ? r.property : r.target;
            reply.xselection.property = 0;
            if (r.selection == a.selection && r.target == a.uriList) {
                XChangeProperty(d, r.requestor, property, a.uriList, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(uris.data()),
                                int(uris.size()));
                reply.xselection.property = property;
            } else if (r.selection == a.selection && r.target == a.targets) {
                const Atom offered[] = {a.targets, a.uriList};
                XChangeProperty(d, r.requestor, property, XA_ATOM, 32, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(offered), 2);
                reply.xselection.property = property;
            }
            XSendEvent(d, r.requestor, False, NoEventMask, &reply);
            XFlush(d);
        }
    }
    std::printf("dropped %zu file(s) on window 0x%lx at %d,%d\n", files.size(), target, rootX,
                rootY);
    XDestroyWindow(d, source);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    unsigned long window = 0;
    long x = LONG_MIN, y = LONG_MIN;
    double timeout = 5.0;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--window" && hasValue)
            window = std::strtoul(argv[++i], nullptr, 0);
        else if (arg == "--x" && hasValue)
            x = std::strtol(argv[++i], nullptr, 10);
        else if (arg == "--y" && hasValue)
            y = std::strtol(argv[++i], nullptr, 10);
        else if (arg == "--timeout" && hasValue)
            timeout = std::strtod(argv[++i], nullptr);
        else if (arg == "--help" || arg == "-h") {
            usage();
            return 0;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            usage();
            return 1;
        } else
            files.push_back(arg);
    }
    if (window == 0 || x == LONG_MIN || y == LONG_MIN || files.empty() || !(timeout > 0.0)) {
        usage();
        return 1;
    }
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr) {
        std::fputs("vesk-xdnd-drop: cannot open the display\n", stderr);
        return 1;
    }
    const int status = dropFiles(d, Window(window), int(x), int(y), files, timeout);
    XCloseDisplay(d);
    return status;
}
