// vesk-xdnd-drop against a small XDND target of the test's own: which window a drop reaches (the
// deepest XdndAware window under the point), what it carries (file:// URIs, percent-encoded),
// and a target that refuses or is missing.
#include "EditorHarness.h"

#include <gtest/gtest.h>

// Xlib after GoogleTest: its macros (None, Bool, Status) would break GoogleTest's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <sys/select.h>

#include <atomic>
#include <mutex>
#include <thread>

using namespace vesk::editor_test;

namespace {

// Windows with XdndAware on their own connection, answering the XDND messages on a thread:
//   top (400 x 300 at 100, 100), not aware
//     aware (300 x 200 at 50, 50), XdndAware 5
//       inner (100 x 80 at 20, 20), XdndAware 3
//       plain (60 x 60 at 200, 20), not aware
//   refusing (200 x 100 at 600, 100), XdndAware 5, answers XdndStatus without accepting
class XdndTarget
{
public:
    struct Drop
    {
        Window window = 0;
        long version = 0;
        bool offeredUriList = false;
        std::string data;
        int rootX = 0, rootY = 0;
    };

    XdndTarget()
    {
        d_ = XOpenDisplay(xServer().display().c_str());
        if (d_ == nullptr)
            return;
        const Window root = DefaultRootWindow(d_);
        top = make(root, 100, 100, 400, 300, 0);
        aware = make(top, 50, 50, 300, 200, 5);
        inner = make(aware, 20, 20, 100, 80, 3);
        plain = make(aware, 200, 20, 60, 60, 0);
        refusing = make(root, 600, 100, 200, 100, 5);
        XSync(d_, False);
        thread_ = std::thread([this] { loop(); });
    }

    ~XdndTarget()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (d_ != nullptr)
            XCloseDisplay(d_);
    }

    bool ok() const { return d_ != nullptr; }

    std::vector<Drop> drops()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return drops_;
    }
    int leaves()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        return leaves_;
    }

    Window top = 0, aware = 0, inner = 0, plain = 0, refusing = 0;

private:
    Window make(Window parent, int x, int y, unsigned w, unsigned h, long version)
    {
        XSetWindowAttributes attrs{};
        attrs.background_pixel = 0x808080;
        const Window win = XCreateWindow(d_, parent, x, y, w, h, 0, CopyFromParent, InputOutput,
                                         CopyFromParent, CWBackPixel, &attrs);
        if (version > 0) {
            const Atom a = XInternAtom(d_, "XdndAware", False);
            XChangeProperty(d_, win, a, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&version), 1);
        }
        XMapWindow(d_, win);
        return win;
    }

    void send(Window to, Atom type, const long (&l)[5])
    {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = to;
        e.xclient.message_type = type;
        e.xclient.format = 32;
        for (int i = 0; i < 5; ++i)
            e.xclient.data.l[i] = l[i];
        XSendEvent(d_, to, False, NoEventMask, &e);
        XFlush(d_);
    }

    void loop()
    {
        const Atom enter = XInternAtom(d_, "XdndEnter", False);
        const Atom position = XInternAtom(d_, "XdndPosition", False);
        const Atom status = XInternAtom(d_, "XdndStatus", False);
        const Atom leave = XInternAtom(d_, "XdndLeave", False);
        const Atom drop = XInternAtom(d_, "XdndDrop", False);
        const Atom finished = XInternAtom(d_, "XdndFinished", False);
        const Atom selection = XInternAtom(d_, "XdndSelection", False);
        const Atom copy = XInternAtom(d_, "XdndActionCopy", False);
        const Atom uriList = XInternAtom(d_, "text/uri-list", False);
        const Atom property = XInternAtom(d_, "VESK_TEST_DROP", False);
        Drop current;
        Window source = 0;
        while (!stop_) {
            if (XPending(d_) == 0) {
                fd_set fds;
                FD_ZERO(&fds);
                FD_SET(ConnectionNumber(d_), &fds);
                timeval tv{0, 20000};
                select(ConnectionNumber(d_) + 1, &fds, nullptr, nullptr, &tv);
                continue;
            }
            XEvent e;
            XNextEvent(d_, &e);
            if (e.type == ClientMessage) {
                const XClientMessageEvent& m = e.xclient;
                if (m.message_type == enter) {
                    current = Drop{};
                    current.window = m.window;
                    current.version = m.data.l[1] >> 24;
                    source = Window(m.data.l[0]);
                    for (int i = 2; i < 5; ++i)
                        current.offeredUriList =
                            current.offeredUriList || Atom(m.data.l[i]) == uriList;
                } else if (m.message_type == position) {
                    current.rootX = int(m.data.l[2] >> 16);
                    current.rootY = int(m.data.l[2] & 0xffff);
                    const bool accept = m.window != refusing && current.offeredUriList;
                    send(source, status,
                         {long(m.window), accept ? 1 : 0, 0, 0, accept ? long(copy) : 0});
                } else if (m.message_type == leave) {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    ++leaves_;
                } else if (m.message_type == drop) {
                    XConvertSelection(d_, selection, uriList, property, m.window,
                                      Time(m.data.l[2]));
                    XFlush(d_);
                }
            } else if (e.type == SelectionNotify && e.xselection.property == property) {
                Atom type = 0;
                int format = 0;
                unsigned long n = 0, after = 0;
                unsigned char* data = nullptr;
                if (XGetWindowProperty(d_, e.xselection.requestor, property, 0, 65536, True,
                                       AnyPropertyType, &type, &format, &n, &after,
                                       &data) == Success &&
                    data != nullptr)
                    current.data.assign(reinterpret_cast<const char*>(data), n);
                if (data != nullptr)
                    XFree(data);
                {
                    const std::lock_guard<std::mutex> lock(mutex_);
                    drops_.push_back(current);
                }
                send(source, finished, {long(current.window), 1, long(copy), 0, 0});
            }
        }
    }

    Display* d_ = nullptr;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Drop> drops_;
    int leaves_ = 0;
};

class XdndDrop : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(xServer().ok()) << xServer().error();
        ASSERT_TRUE(target.ok());
    }
    XdndTarget target;
};

} // namespace

TEST_F(XdndDrop, TheDropReachesTheDeepestAwareWindowUnderThePoint)
{
    struct Case
    {
        const char* name;
        int x, y; // relative to the top-level window
        Window XdndTarget::*expected;
        long version; // the version the source speaks: at most its own 3
    };
    const Case cases[] = {
        {"inner", 70 + 10, 70 + 10, &XdndTarget::inner, 3},
        {"aware outside inner", 50 + 250, 50 + 150, &XdndTarget::aware, 3},
        {"plain child of aware", 50 + 210, 50 + 30, &XdndTarget::aware, 3},
    };
    size_t seen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(dropFiles(target.top, c.x, c.y, {"/tmp/one.wav"}), 0);
        const auto drops = target.drops();
        ASSERT_EQ(drops.size(), seen + 1);
        const auto& d = drops.back();
        EXPECT_EQ(d.window, target.*c.expected);
        EXPECT_EQ(d.version, c.version);
        EXPECT_TRUE(d.offeredUriList);
        EXPECT_EQ(d.data, "file:///tmp/one.wav\r\n");
        EXPECT_EQ(d.rootX, 100 + c.x);
        EXPECT_EQ(d.rootY, 100 + c.y);
        ++seen;
    }
}

TEST_F(XdndDrop, SeveralFilesArriveAsOneUriListWithUnusualCharactersEncoded)
{
    ASSERT_EQ(dropFiles(target.aware, 150, 150,
                        {"/data/kick 01.wav", "/data/snare#2%.wav", "/data/声音.wav"}),
              0);
    const auto drops = target.drops();
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0].data, "file:///data/kick%2001.wav\r\n"
                             "file:///data/snare%232%25.wav\r\n"
                             "file:///data/%E5%A3%B0%E9%9F%B3.wav\r\n");
}

TEST_F(XdndDrop, ARefusingOrMissingTargetEndsTheDragCleanly)
{
    EXPECT_EQ(dropFiles(target.refusing, 50, 50, {"/tmp/a.wav"}), 3);
    EXPECT_TRUE(waitFor([&] { return target.leaves() == 1; }, 5.0)) << "XdndLeave was sent";
    EXPECT_EQ(dropFiles(target.top, 10, 10, {"/tmp/a.wav"}), 2) << "no aware window there";
    EXPECT_TRUE(target.drops().empty());
}
