#include "EditorHarness.h"

#include "audio_files/WavLoader.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace vesk::editor_test {

namespace fs = std::filesystem;

std::string hostPath()
{
    return VESK_HOST_PATH;
}

std::string kitPath()
{
    return VESK_KIT_PATH;
}
std::string xdndDropPath()
{
    return VESK_XDND_DROP_PATH;
}
std::string fixturePath()
{
    return VESK_GUI_FIXTURE_PATH;
}
std::string veskPath()
{
    return VESK_CLAP_PATH;
}
bool veskHasEditor()
{
    return VESK_EDITOR_BUILT != 0;
}
std::string screenshotDir()
{
    const fs::path dir = VESK_EDITOR_OUT_DIR;
    std::error_code ec;
    fs::create_directories(dir, ec);
    return dir.string();
}

namespace {

Display* dpy()
{
    return static_cast<Display*>(xServer().connection());
}

int ignoreErrors(Display*, XErrorEvent*)
{
    return 0;
}

// Spawns argv with stdin from /dev/null and stdout/stderr into files ("" = inherited).
// Descriptors without FD_CLOEXEC are inherited as they are.
int spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
          const std::string& outFile, const std::string& errFile)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!outFile.empty())
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    if (!errFile.empty())
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    for (const std::string& e : extraEnv) {
        const std::string name = e.substr(0, e.find('=') + 1);
        for (auto it = env.begin(); it != env.end();)
            it = it->rfind(name, 0) == 0 ? env.erase(it) : it + 1;
        env.push_back(e);
    }
    std::vector<char*> args, envp;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? int(pid) : -1;
}

} // namespace

int runProgram(const std::vector<std::string>& argv)
{
    const int pid = spawn(argv, {}, "", "");
    if (pid < 0)
        return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

namespace {

std::string testTmpDir()
{
    const char* dir = std::getenv("VESK_TEST_TMP_DIR");
    return dir != nullptr && *dir != '\0' ? dir : VESK_TEST_TMP_DIR;
}

} // namespace

// -------------------------------------------------------------------------------------------------
// X server

XServer& XServer::get()
{
    static XServer server;
    return server;
}

XServer::XServer()
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        error_ = "pipe failed";
        return;
    }
    ::fcntl(pipeFds[0], F_SETFD, FD_CLOEXEC);
    // -terminate: the server ends when its last client leaves, so a test program that dies
    // leaves no server behind; the harness's own connection keeps it alive until then.
    const std::vector<std::string> argv = {"Xvfb",      "-displayfd", std::to_string(pipeFds[1]),
                                           "-screen",   "0",          "1920x1200x24",
                                           "-nolisten", "tcp",        "-terminate"};
    pid_ = spawn(argv, {}, "", testTmpDir() + "/xvfb.log");
    ::close(pipeFds[1]);
    if (pid_ < 0) {
        ::close(pipeFds[0]);
        error_ = "cannot start Xvfb (scripts/install-deps installs it)";
        return;
    }
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            char c = 0;
            if (::read(pipeFds[0], &c, 1) != 1 || c == '\n')
                break;
            number += c;
        }
        if (std::chrono::steady_clock::now() > deadline)
            break;
    }
    ::close(pipeFds[0]);
    if (number.empty()) {
        error_ = "Xvfb did not report its display";
        return;
    }
    const std::string name = ":" + number;
    Display* d = XOpenDisplay(name.c_str());
    if (d == nullptr) {
        error_ = "cannot connect to Xvfb at " + name;
        return;
    }
    XSetErrorHandler(ignoreErrors);
    connection_ = d;
    display_ = name;
    ::setenv("DISPLAY", name.c_str(), 1);
}

XServer::~XServer()
{
    if (connection_ != nullptr)
        XCloseDisplay(static_cast<Display*>(connection_));
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

// -------------------------------------------------------------------------------------------------
// HostRun

HostRun::HostRun(const std::string& name) : dir_(testTmpDir() + "/" + name)
{
    std::error_code ec;
    fs::remove_all(dir_, ec);
    fs::create_directories(dir_, ec);
}

HostRun::~HostRun()
{
    kill();
}

std::string HostRun::path(const std::string& file) const
{
    return dir_ + "/" + file;
}

bool HostRun::start(const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    if (!xServer().ok())
        return false;
    std::vector<std::string> argv = {hostPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--json", path("summary.json"), "--gui-window-file",
                             path("window.txt"), "--gui-ready-file", path("ready.txt")});
    pid_ = spawn(argv, env, path("stdout.txt"), path("stderr.txt"));
    status_ = -1;
    return pid_ > 0;
}

bool HostRun::running()
{
    if (pid_ <= 0)
        return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        pid_ = -1;
        return false;
    }
    return true;
}

bool HostRun::waitReady(double timeoutSeconds)
{
    return waitFor([&] { return fs::exists(path("ready.txt")) || !running(); }, timeoutSeconds) &&
           fs::exists(path("ready.txt"));
}

std::vector<WindowId> HostRun::windows() const
{
    std::vector<WindowId> ids;
    std::istringstream in(readText(path("window.txt")));
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            ids.push_back(std::strtoul(line.c_str(), nullptr, 10));
    return ids;
}

WindowId HostRun::window(size_t instance) const
{
    const auto ids = windows();
    return instance < ids.size() ? ids[instance] : 0;
}

int HostRun::wait(double timeoutSeconds)
{
    if (!waitFor([&] { return !running(); }, timeoutSeconds)) {
        kill();
        return -1;
    }
    return status_;
}

void HostRun::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    status_ = -1;
}

Json HostRun::summary() const
{
    return Json::parse(readText(path("summary.json")));
}

Json HostRun::instance(size_t i) const
{
    return summary()["gui"]["instances"][i];
}

std::string HostRun::out() const
{
    return readText(path("stdout.txt"));
}

std::string HostRun::err() const
{
    return readText(path("stderr.txt"));
}

int64_t HostRun::steadyNowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// -------------------------------------------------------------------------------------------------
// Input

bool xdotool(const std::vector<std::string>& args)
{
    if (!xServer().ok())
        return false;
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv) == 0;
}

bool mouseMove(WindowId window, int x, int y)
{
    return xdotool(
        {"mousemove", "--window", std::to_string(window), std::to_string(x), std::to_string(y)});
}

bool click(WindowId window, int x, int y, int button)
{
    return xdotool({"mousemove", "--window", std::to_string(window), std::to_string(x),
                    std::to_string(y), "click", std::to_string(button)});
}

bool mouseDown(WindowId window, int x, int y, int button)
{
    return xdotool({"mousemove", "--window", std::to_string(window), std::to_string(x),
                    std::to_string(y), "mousedown", std::to_string(button)});
}

bool mouseUp(WindowId window, int x, int y, int button)
{
    return xdotool({"mousemove", "--window", std::to_string(window), std::to_string(x),
                    std::to_string(y), "mouseup", std::to_string(button)});
}

bool drag(WindowId window, const std::vector<Point>& path, int button)
{
    if (path.empty())
        return false;
    const std::string w = std::to_string(window);
    std::vector<std::string> args = {"mousemove",
                                     "--window",
                                     w,
                                     std::to_string(path[0].x),
                                     std::to_string(path[0].y),
                                     "mousedown",
                                     std::to_string(button)};
    for (size_t i = 1; i < path.size(); ++i)
        args.insert(args.end(), {"sleep", "0.02", "mousemove", "--window", w,
                                 std::to_string(path[i].x), std::to_string(path[i].y)});
    args.insert(args.end(), {"sleep", "0.02", "mouseup", std::to_string(button)});
    return xdotool(args);
}

bool focus(WindowId window)
{
    const Geometry g = geometry(window);
    if (!g.viewable)
        return false;
    Window root = 0, child = 0;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    XQueryPointer(dpy(), DefaultRootWindow(dpy()), &root, &child, &rx, &ry, &wx, &wy, &mask);
    const bool inside = rx >= g.rootX && ry >= g.rootY && rx < g.rootX + int(g.width) &&
                        ry < g.rootY + int(g.height);
    if (!inside && !mouseMove(window, int(g.width / 2), int(g.height / 2)))
        return false;
    return xdotool({"windowfocus", std::to_string(window)});
}

bool key(WindowId window, const std::string& keys)
{
    if (!focus(window))
        return false;
    std::vector<std::string> args = {"key", "--delay", "30"};
    std::istringstream in(keys);
    for (std::string k; in >> k;)
        args.push_back(k);
    return xdotool(args);
}

bool typeText(WindowId window, const std::string& text)
{
    return focus(window) && xdotool({"type", "--delay", "30", "--", text});
}

bool sendClose(WindowId window)
{
    Display* d = dpy();
    if (d == nullptr)
        return false;
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    const bool ok = XSendEvent(d, window, False, NoEventMask, &e) != 0;
    XSync(d, False);
    return ok;
}

int dropFiles(WindowId window, int x, int y, const std::vector<std::string>& files)
{
    if (!xServer().ok())
        return -1;
    std::vector<std::string> argv = {xdndDropPath(),    "--window", std::to_string(window), "--x",
                                     std::to_string(x), "--y",      std::to_string(y)};
    argv.insert(argv.end(), files.begin(), files.end());
    return runProgram(argv);
}

// -------------------------------------------------------------------------------------------------
// Windows

Geometry geometry(WindowId window)
{
    Geometry g;
    Display* d = dpy();
    XWindowAttributes a{};
    if (d == nullptr || window == 0 || XGetWindowAttributes(d, window, &a) == 0)
        return g;
    g.exists = true;
    g.viewable = a.map_state == IsViewable;
    g.x = a.x;
    g.y = a.y;
    g.width = uint32_t(a.width);
    g.height = uint32_t(a.height);
    Window child = 0;
    XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &g.rootX, &g.rootY, &child);
    return g;
}

std::vector<WindowId> children(WindowId window)
{
    std::vector<WindowId> out;
    Display* d = dpy();
    Window root = 0, parent = 0;
    Window* list = nullptr;
    unsigned int n = 0;
    if (d != nullptr && XQueryTree(d, window, &root, &parent, &list, &n) != 0 && list != nullptr)
        out.assign(list, list + n);
    if (list != nullptr)
        XFree(list);
    return out;
}

std::string windowName(WindowId window)
{
    Display* d = dpy();
    std::string name;
    if (d == nullptr)
        return name;
    // _NET_WM_NAME (UTF-8) first, as window managers read it, then WM_NAME.
    Atom type = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, window, XInternAtom(d, "_NET_WM_NAME", False), 0, 1024, False,
                           XInternAtom(d, "UTF8_STRING", False), &type, &format, &n, &after,
                           &data) == Success &&
        data != nullptr && format == 8)
        name.assign(reinterpret_cast<const char*>(data), n);
    if (data != nullptr)
        XFree(data);
    data = nullptr;
    // WM_NAME as it is stored (STRING or UTF8_STRING, which XFetchName does not return).
    if (name.empty() &&
        XGetWindowProperty(d, window, XA_WM_NAME, 0, 1024, False, AnyPropertyType, &type, &format,
                           &n, &after, &data) == Success &&
        data != nullptr && format == 8)
        name.assign(reinterpret_cast<const char*>(data), n);
    if (data != nullptr)
        XFree(data);
    return name;
}

WindowId transientFor(WindowId window)
{
    Window owner = 0;
    Display* d = dpy();
    if (d == nullptr || XGetTransientForHint(d, window, &owner) == 0)
        return 0;
    return owner;
}

bool waitFor(const std::function<bool()>& done, double timeoutSeconds)
{
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(timeoutSeconds));
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// -------------------------------------------------------------------------------------------------
// Screenshots

Image capture(WindowId window)
{
    Image image;
    Display* d = dpy();
    const Geometry g = geometry(window);
    if (d == nullptr || !g.viewable)
        return image;
    // Taken from the root window over the window's rectangle, clipped to the screen: what the
    // screen shows there, and never a BadMatch for a window partly off the screen.
    const int sw = DisplayWidth(d, DefaultScreen(d)), sh = DisplayHeight(d, DefaultScreen(d));
    const int x0 = std::max(g.rootX, 0), y0 = std::max(g.rootY, 0);
    const int x1 = std::min(g.rootX + int(g.width), sw), y1 = std::min(g.rootY + int(g.height), sh);
    if (x1 <= x0 || y1 <= y0)
        return image;
    XImage* xi = XGetImage(d, DefaultRootWindow(d), x0, y0, unsigned(x1 - x0), unsigned(y1 - y0),
                           AllPlanes, ZPixmap);
    if (xi == nullptr)
        return image;
    auto shiftOf = [](unsigned long mask) {
        int s = 0;
        while (mask != 0 && (mask & 1) == 0) {
            mask >>= 1;
            ++s;
        }
        return s;
    };
    const int rs = shiftOf(xi->red_mask), gs = shiftOf(xi->green_mask), bs = shiftOf(xi->blue_mask);
    image.width = uint32_t(x1 - x0);
    image.height = uint32_t(y1 - y0);
    image.argb.resize(size_t(image.width) * image.height);
    for (uint32_t y = 0; y < image.height; ++y) {
        for (uint32_t x = 0; x < image.width; ++x) {
            const unsigned long p = XGetPixel(xi, int(x), int(y));
            const uint32_t r = uint32_t((p & xi->red_mask) >> rs) & 0xff;
            const uint32_t gr = uint32_t((p & xi->green_mask) >> gs) & 0xff;
            const uint32_t b = uint32_t((p & xi->blue_mask) >> bs) & 0xff;
            image.argb[size_t(y) * image.width + x] = 0xff000000u | (r << 16) | (gr << 8) | b;
        }
    }
    XDestroyImage(xi);
    return image;
}

bool writePng(const std::string& path, const Image& image)
{
    if (image.empty())
        return false;
    std::vector<uint8_t> rgba(image.argb.size() * 4);
    for (size_t i = 0; i < image.argb.size(); ++i) {
        const uint32_t p = image.argb[i];
        rgba[i * 4 + 0] = uint8_t(p >> 16);
        rgba[i * 4 + 1] = uint8_t(p >> 8);
        rgba[i * 4 + 2] = uint8_t(p);
        rgba[i * 4 + 3] = uint8_t(p >> 24);
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = image.width;
    png.height = image.height;
    png.format = PNG_FORMAT_RGBA;
    return png_image_write_to_file(&png, path.c_str(), 0, rgba.data(), 0, nullptr) != 0;
}

bool readPng(const std::string& path, Image& image)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&png, path.c_str()) == 0)
        return false;
    png.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(png));
    if (png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr) == 0) {
        png_image_free(&png);
        return false;
    }
    image.width = png.width;
    image.height = png.height;
    image.argb.resize(size_t(png.width) * png.height);
    for (size_t i = 0; i < image.argb.size(); ++i)
        image.argb[i] = (uint32_t(rgba[i * 4 + 3]) << 24) | (uint32_t(rgba[i * 4]) << 16) |
                        (uint32_t(rgba[i * 4 + 1]) << 8) | rgba[i * 4 + 2];
    return true;
}

Image screenshot(WindowId window, const std::string& name)
{
    const Image taken = capture(window);
    Image read;
    const std::string path = screenshotDir() + "/" + name + ".png";
    if (!writePng(path, taken) || !readPng(path, read))
        return {};
    return read;
}

bool waitForPixel(WindowId window, uint32_t x, uint32_t y, uint32_t rgb, double timeoutSeconds)
{
    return waitFor([&] { return capture(window).rgb(x, y) == (rgb & 0xffffff); }, timeoutSeconds);
}

// -------------------------------------------------------------------------------------------------
// Files

std::vector<uint8_t> readBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f),
                                std::istreambuf_iterator<char>());
}

std::string readText(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

Wav readWav(const std::string& path, double rate)
{
    Wav wav;
    const auto raw = vesk::loadWavRaw(path, rate);
    if (raw == nullptr)
        return wav;
    wav.rate = raw->sampleRate;
    wav.left = raw->left;
    wav.right = raw->right.empty() ? raw->left : raw->right;
    return wav;
}

long long firstSoundingFrame(const Wav& wav, float threshold)
{
    for (size_t i = 0; i < wav.left.size(); ++i)
        if (std::fabs(wav.left[i]) > threshold ||
            (i < wav.right.size() && std::fabs(wav.right[i]) > threshold))
            return (long long)i;
    return -1;
}

} // namespace vesk::editor_test
