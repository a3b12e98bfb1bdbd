// vesk-host's own X11 connection: the top-level windows it gives a plug-in's editor (the parent of
// an embedded editor, the owner of a floating one), their events, and the look-ups the host needs
// to find a floating editor's window. Linux only; Xlib stays inside X11Window.cpp.
//
// X errors: Xlib's error handler is one per process, shared with every plug-in in it. The host
// installs one that counts and reports errors instead of ending the process, so a window that
// vanished between a look-up and its use (teardown races, a plug-in destroying its windows) is
// harmless. A plug-in that replaces the handler and leaves its own installed is noticed and
// undone by reinstallErrorHandler.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vesk::host::x11 {

using WindowId = unsigned long;

struct Event
{
    enum class Type
    {
        Exposed,
        Configured, // size or position changed
        Mapped,
        CloseRequested, // WM_DELETE_WINDOW from a window manager or a script
        Other
    };
    Type type = Type::Other;
    WindowId window = 0;
    int width = 0, height = 0; // Configured
    int count = 0;             // Exposed: how many more Expose events follow
};

struct ErrorCounts
{
    uint64_t host = 0;  // errors on the host's own connection
    uint64_t other = 0; // errors on another connection of the process (a plug-in's)
};

class Connection
{
public:
    Connection() = default;
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Opens $DISPLAY and installs the host's error handler; false (with the reason in error())
    // when there is no display.
    bool open();
    bool isOpen() const { return display_ != nullptr; }
    const std::string& error() const { return error_; }
    int fd() const;

    // A mapped top-level window of the host, titled, with WM_DELETE_WINDOW and _NET_WM_PID.
    WindowId createWindow(int x, int y, uint32_t width, uint32_t height, const std::string& title);
    void resizeWindow(WindowId window, uint32_t width, uint32_t height);
    void destroyWindow(WindowId window);
    void flush();
    // Flushes and waits until the server has handled every request (so another connection sees
    // the windows created here).
    void sync();

    // Events already read or readable without blocking; false when none is left.
    bool nextEvent(Event& event);
    // True when Xlib holds events it has read already (the descriptor will not show them).
    bool hasQueuedEvents();

    // The children of the root window, bottom to top.
    std::vector<WindowId> topLevelWindows();
    // The new top-level windows a process opened: not in `before`, an input-output window,
    // viewable when `viewableOnly`, whose _NET_WM_PID is `pid` or whose WM_NAME begins with
    // `namePrefix`.
    std::vector<WindowId> findWindowsOf(long pid, const std::string& namePrefix,
                                        const std::vector<WindowId>& before, bool viewableOnly);
    bool isViewable(WindowId window);
    bool hasViewableChild(WindowId window);
    bool geometry(WindowId window, int& x, int& y, uint32_t& width, uint32_t& height);
    std::string windowName(WindowId window);

    // Puts the host's error handler back if something else replaced it; true when it had been
    // replaced.
    bool reinstallErrorHandler();
    static ErrorCounts errorCounts();

private:
    void* display_ = nullptr; // Display*
    std::string error_;
    unsigned long wmProtocols_ = 0, wmDelete_ = 0, netWmPid_ = 0, netWmName_ = 0, utf8_ = 0;
};

} // namespace vesk::host::x11
