// The editor test harness: a plug-in's editor as a user meets it, in vesk-host under a virtual X
// server of the test's own, driven with xdotool, looked at in screenshots.
//
//   xServer()            the test program's Xvfb (no window manager), started on first use on a
//                        free display and stopped at exit; sets DISPLAY for everything started
//                        after it
//   HostRun              one vesk-host process in the background: start, wait for its editor's
//                        window, drive it, wait for its exit, read its summary and files
//   click, key, drag ... input through xdotool, at window coordinates
//   screenshot           a window as it is on the screen, saved as PNG under out/editor/ and read
//                        back for pixel probes
//
// Window ids are X ids (decimal in vesk-host's window file). Every wait has a timeout and reports
// what it waited for instead of hanging.
#pragma once

#include "Json.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vesk::editor_test {

using WindowId = unsigned long;

// Paths the build gives the tests.
std::string hostPath();      // vesk-host
std::string kitPath();       // vesk-kit (kit JSON to state files)
std::string xdndDropPath();  // vesk-xdnd-drop
std::string fixturePath();   // the test plug-in with an Xlib editor
std::string veskPath();      // the real Vesk.clap
bool veskHasEditor();        // Vesk.clap was built with its editor (VESK_BUILD_GUI)
std::string screenshotDir(); // out/editor/ in the source tree, created on demand

// First line of a test on the real Vesk.clap: skips it when the plug-in was built without its
// editor (VESK_BUILD_GUI=OFF), the one reason such a test may skip.
#define VESK_REQUIRE_EDITOR()                                                                      \
    if (!::vesk::editor_test::veskHasEditor())                                                     \
    GTEST_SKIP() << "Vesk.clap was built without its editor (VESK_BUILD_GUI=OFF)"

// --- The X server --------------------------------------------------------------------------------

class XServer
{
public:
    // The test program's server, started on first call.
    static XServer& get();
    bool ok() const { return !display_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& display() const { return display_; } // ":N"
    void* connection() const { return connection_; }        // the harness's own Display*

private:
    XServer();
    ~XServer();
    std::string display_, error_;
    int pid_ = -1;
    void* connection_ = nullptr;
};
inline XServer& xServer()
{
    return XServer::get();
}

// --- vesk-host in the background -----------------------------------------------------------------

class HostRun
{
public:
    // `name` names the run's folder inside the test's scratch folder (VESK_TEST_TMP_DIR).
    explicit HostRun(const std::string& name);
    ~HostRun(); // kills a host still running
    HostRun(const HostRun&) = delete;
    HostRun& operator=(const HostRun&) = delete;

    // A file in the run's folder.
    std::string path(const std::string& file) const;

    // Starts vesk-host with `args`, adding --json, --gui-window-file and --gui-ready-file (in the
    // run's folder) and starting the X server first. `env` adds "NAME=value" entries.
    bool start(const std::vector<std::string>& args, const std::vector<std::string>& env = {});

    // Waits until the ready file exists (every editor window mapped and exposed); false on
    // timeout or when the host exited first.
    bool waitReady(double timeoutSeconds = 20.0);
    // The window ids of the window file, one per instance (empty until it is written).
    std::vector<WindowId> windows() const;
    WindowId window(size_t instance = 0) const;

    // Waits for the exit; the exit status, or -1 when it had to be killed after the timeout.
    int wait(double timeoutSeconds = 60.0);
    bool running();
    void kill();
    int pid() const { return pid_; }

    // The JSON summary (null before the host wrote it), its stdout and stderr.
    Json summary() const;
    std::string out() const;
    std::string err() const;
    // The first instance's "gui" record: summary()["gui"]["instances"][i].
    Json instance(size_t i = 0) const;

    // The monotonic clock (CLOCK_MONOTONIC, as the host's "start_steady_ns") in nanoseconds.
    static int64_t steadyNowNs();

private:
    std::string dir_;
    int pid_ = -1;
    int status_ = -1;
};

// --- Input ---------------------------------------------------------------------------------------

struct Point
{
    int x = 0, y = 0;
};

// Runs xdotool with the arguments; true when it succeeded.
bool xdotool(const std::vector<std::string>& args);
bool mouseMove(WindowId window, int x, int y);
bool click(WindowId window, int x, int y, int button = 1);
bool mouseDown(WindowId window, int x, int y, int button = 1);
bool mouseUp(WindowId window, int x, int y, int button = 1);
// Presses at path[0], moves through every point (20 ms apart), releases at the last.
bool drag(WindowId window, const std::vector<Point>& path, int button = 1);
// Gives `window` the keyboard focus; moves the pointer to its centre unless it is inside already,
// so keys reach the editor window under the pointer even when `window` is its parent.
bool focus(WindowId window);
// Key names as xdotool takes them, space separated: "r", "ctrl+r", "Escape", "shift+Tab space".
bool key(WindowId window, const std::string& keys);
bool typeText(WindowId window, const std::string& text);
// Asks the window to close as a window manager's close button does (WM_DELETE_WINDOW).
bool sendClose(WindowId window);
// Drops files onto the window at (x, y) through vesk-xdnd-drop, as a file manager does: its exit
// status (0 finished, 2 no XdndAware window there, 3 refused, 4 no answer).
int dropFiles(WindowId window, int x, int y, const std::vector<std::string>& files);
// Runs a program to its end (stdin from /dev/null, output inherited); its exit status.
int runProgram(const std::vector<std::string>& argv);

// --- Windows -------------------------------------------------------------------------------------

struct Geometry
{
    bool exists = false;
    bool viewable = false;
    int x = 0, y = 0;         // relative to the parent
    int rootX = 0, rootY = 0; // on the screen
    uint32_t width = 0, height = 0;
};
Geometry geometry(WindowId window);
std::vector<WindowId> children(WindowId window);
std::string windowName(WindowId window); // _NET_WM_NAME, else WM_NAME
WindowId transientFor(WindowId window);
// Polls `done` every 20 ms until it holds or the timeout passes.
bool waitFor(const std::function<bool()>& done, double timeoutSeconds);

// --- Screenshots ---------------------------------------------------------------------------------

struct Image
{
    uint32_t width = 0, height = 0;
    std::vector<uint32_t> argb; // 0xAARRGGBB, rows top to bottom
    uint32_t at(uint32_t x, uint32_t y) const
    {
        return x < width && y < height ? argb[size_t(y) * width + x] : 0;
    }
    uint32_t rgb(uint32_t x, uint32_t y) const { return at(x, y) & 0xffffff; }
    bool empty() const { return argb.empty(); }
};

// The part of the window visible on the screen, as the screen shows it (with whatever covers it).
Image capture(WindowId window);
// capture(), saved as screenshotDir()/<name>.png and read back from that file.
Image screenshot(WindowId window, const std::string& name);
bool writePng(const std::string& path, const Image& image);
bool readPng(const std::string& path, Image& image);
// Waits until the window's pixel (x, y) has the colour (0xRRGGBB).
bool waitForPixel(WindowId window, uint32_t x, uint32_t y, uint32_t rgb,
                  double timeoutSeconds = 10.0);

// --- Files ---------------------------------------------------------------------------------------

std::vector<uint8_t> readBytes(const std::string& path);
std::string readText(const std::string& path);

struct Wav
{
    double rate = 0.0;
    std::vector<float> left, right;
};
// A recorded WAV file at its own rate (empty when it cannot be read).
Wav readWav(const std::string& path, double rate = 48000.0);
// The first frame whose absolute value exceeds `threshold` in either channel; -1 when none.
long long firstSoundingFrame(const Wav& wav, float threshold = 1e-4f);

} // namespace vesk::editor_test
