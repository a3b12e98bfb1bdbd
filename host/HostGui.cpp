#include "host/HostGui.h"

#include "host/X11Window.h"

#include <clap/ext/timer-support.h>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace vesk::host {

namespace {

using Clock = std::chrono::steady_clock;

// A floating editor's window is found by the process id it carries, or by this title prefix.
constexpr const char* kEditorTitlePrefix = "Halvoren Vesk";
// Default size of the parent window when the plug-in gives no usable size.
constexpr uint32_t kFallbackWidth = 800, kFallbackHeight = 600;
// While an editor's window is looked for, the main loop looks again at least this often.
constexpr auto kSearchInterval = std::chrono::milliseconds(10);

double secondsBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double>(b - a).count();
}

int countThreads()
{
    DIR* dir = ::opendir("/proc/self/task");
    if (dir == nullptr)
        return -1;
    int n = 0;
    while (const dirent* e = ::readdir(dir))
        if (e->d_name[0] != '.')
            ++n;
    ::closedir(dir);
    return n;
}

bool writeTextAtomically(const std::string& path, const std::string& text)
{
    const std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::trunc);
        if (!(f << text))
            return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

const char* boolText(bool b)
{
    return b ? "true" : "false";
}

enum class Mode
{
    None,
    Embedded,
    Floating,
    Both // alternating, embedded first
};

struct SetSizeStep
{
    uint32_t width = 0, height = 0;
    double at = 0.0; // seconds after the editors are shown
};

struct Options
{
    Mode mode = Mode::None;
    double seconds = 2.0;
    bool hideAnswer = true;
    bool offerTimer = true;
    bool offerFd = true;
    bool transient = false;
    bool scaleGiven = false;
    double scale = 1.0;
    std::vector<SetSizeStep> setSizes;
    std::vector<double> showAt; // seconds after showing: call show again
    double saveAt = -1.0;       // seconds after showing: save the first instance's
    std::string saveAtPath;     // state to this file, the editor still open
    std::string loadOnPath;     // whenever this file appears: load it into the first instance
    double holdFrom = -1.0, holdUntil = -1.0; // the audio thread makes no process calls
    std::string windowFile, readyFile;
    std::string title = "vesk-host";
    int cycles = 0;
    double cycleSeconds = 0.3;
    int instances = 1;
    int reloadCycles = 0;
    bool callsLater = false;
    bool parentFirst = false;
};

struct SizeAnswer
{
    bool called = false;
    bool ok = false;
    uint32_t width = 0, height = 0;
};

std::string sizeJson(const SizeAnswer& s)
{
    if (!s.called)
        return "null";
    std::ostringstream j;
    j << "{\"ok\": " << boolText(s.ok) << ", \"width\": " << s.width << ", \"height\": " << s.height
      << "}";
    return j.str();
}

std::string optionalBool(int v)
{
    return v < 0 ? "null" : boolText(v != 0);
}

struct SetSizeRecord
{
    double at = 0.0;
    uint32_t width = 0, height = 0;
    SizeAnswer adjusted;
    int setSize = -1;
};

struct FdRegistration
{
    uint32_t flags = 0;
    bool pollable = true; // false once poll() reported it invalid
};

struct TimerRegistration
{
    uint32_t periodMs = 0;
    Clock::time_point due;
};

// One opening of an instance's editor, from create to destroy.
struct OpenRecord
{
    bool floating = false;
    bool apiSupported = false;
    int created = -1;
    int setScale = -1;
    SizeAnswer size;
    int canResize = -1;
    bool hintsOk = false;
    clap_gui_resize_hints_t hints{};
    int setParent = -1;
    int setTransient = -1;
    int show = -1;
    int hide = -1;
    x11::WindowId parent = 0;
    x11::WindowId window = 0;
    double readyMs = -1.0;
    int64_t shownNs = 0;                    // when show() returned, on the monotonic clock
    uint32_t lastWidth = 0, lastHeight = 0; // the editor window's size before it closed
    std::vector<SetSizeRecord> setSizes;
    std::string fdsAfterDestroy = "[]", timersAfterDestroy = "[]";
};

struct Instance
{
    int index = 0; // 1-based once adopted
    const clap_host_t* host = nullptr;
    HostedPlugin* plugin = nullptr;
    std::unique_ptr<HostedPlugin> owned;
    bool retired = false;

    const clap_plugin_gui_t* gui = nullptr;
    const clap_plugin_posix_fd_support_t* fdExt = nullptr;
    const clap_plugin_timer_support_t* timerExt = nullptr;
    bool apiEmbedded = false, apiFloating = false;
    bool preferredOk = false, preferredFloating = false;
    std::string preferredApi;

    std::map<int, FdRegistration> fds;
    std::map<clap_id, TimerRegistration> timers;
    std::vector<std::string> registrations; // JSON objects, in call order
    uint64_t onFdCalls = 0, onTimerCalls = 0, mainThreadCallbacks = 0, invalidFds = 0;
    uint32_t requestResize = 0, requestShow = 0, requestHide = 0, resizeHintsChanged = 0;
    uint32_t lastResizeWidth = 0, lastResizeHeight = 0;
    uint32_t closed = 0, closedDestroyed = 0;
    uint64_t callsOffMainThread = 0;
    std::string afterInstanceDestroy = "null";
    std::vector<std::string> log; // kept when the instance is destroyed

    // The editor now open.
    bool open = false;
    bool floating = false;
    x11::WindowId parent = 0; // embedded: our window holding the editor
    x11::WindowId owner = 0;  // floating with --gui-transient: our window it is transient to
    x11::WindowId window = 0; // what a script drives: the parent, or the floating window
    std::vector<x11::WindowId> before;
    bool exposed = false, ready = false;
    Clock::time_point shownAt;
    uint32_t parentWidth = 0, parentHeight = 0;
    bool pendingShow = false, pendingHide = false, pendingDestroy = false, pendingSize = false;
    int showCalls = 0; // --gui-show-at calls made
    uint32_t pendingWidth = 0, pendingHeight = 0;
    std::vector<OpenRecord> opens;

    std::vector<float> left, right;
    RenderStats stats;
};

struct ReloadRecord
{
    int threadsBefore = -1, threadsOpen = -1, threadsAfterDestroy = -1;
    int threadsAfterDeinit = -1, threadsAfterUnload = -1;
    bool editorShown = false, editorReady = false, unloaded = false;
    std::string fdsAfterDestroy = "[]", timersAfterDestroy = "[]";
};

} // namespace

struct GuiHost::Impl
{
    Options opt;
    HostOptions hostOptions; // as installed, for further instances
    x11::Connection x;
    int wakeFd = -1;
    std::thread::id mainThread = std::this_thread::get_id();
    std::vector<std::unique_ptr<Instance>> instances; // every record, adopted or not
    std::vector<Instance*> adopted;                   // the run's instances, in order
    clap_host_gui_t hostGui{};
    clap_host_posix_fd_support_t hostFd{};
    clap_host_timer_support_t hostTimer{};
    clap_id nextTimerId = 1;
    bool quit = false;
    bool parentClosed = false;
    uint32_t handlerReplaced = 0;
    uint64_t callsOffMainThread = 0;
    int cyclesDone = 0;
    // Main loop figures over the time every editor was ready.
    uint64_t wakeups = 0, readyWakeups = 0;
    double readySeconds = 0.0;
    // Audio thread figures.
    uint64_t audioBlocks = 0, lateBlocks = 0, heldBlocks = 0;
    double maxLagMs = 0.0;
    int64_t audioStartNs = 0;
    double audioSeconds = 0.0;
    std::vector<ReloadRecord> reloads;
    bool windowFileWritten = false, readyFileWritten = false;

    ~Impl();

    // --- records ------------------------------------------------------------------------------
    Instance& of(const clap_host_t* host);
    Instance& adopt(HostedPlugin& plugin);
    void retire(Instance& in);
    bool onMain(Instance& in);

    // --- host extensions ----------------------------------------------------------------------
    static Impl* self;
    static void resizeHintsChanged(const clap_host_t* host);
    static bool requestResize(const clap_host_t* host, uint32_t width, uint32_t height);
    static bool requestShow(const clap_host_t* host);
    static bool requestHide(const clap_host_t* host);
    static void closed(const clap_host_t* host, bool wasDestroyed);
    static bool registerFd(const clap_host_t* host, int fd, clap_posix_fd_flags_t flags);
    static bool modifyFd(const clap_host_t* host, int fd, clap_posix_fd_flags_t flags);
    static bool unregisterFd(const clap_host_t* host, int fd);
    static bool registerTimer(const clap_host_t* host, uint32_t periodMs, clap_id* id);
    static bool unregisterTimer(const clap_host_t* host, clap_id id);
    const void* extension(const char* id) const;

    // --- editor lifecycle ---------------------------------------------------------------------
    bool openEditor(Instance& in, bool floating);
    void claimFloatingWindow(Instance& in, bool viewableOnly);
    void closeEditor(Instance& in);
    void applySize(Instance& in, uint32_t width, uint32_t height, SetSizeRecord* record);
    void runDeferred(Instance& in);

    // --- main loop ----------------------------------------------------------------------------
    void runPhase(double seconds);
    void loadRequestedState(); // --gui-load-state-on
    void pumpCallbacks();
    void processXEvents();
    void checkWindows(Clock::time_point now);
    bool allReady() const;
    void fireTimers(Clock::time_point now);
    void dispatchFds(const std::vector<pollfd>& pfds,
                     const std::vector<std::pair<Instance*, int>>& owners);
    void drainWake();

    std::string instanceJson(const Instance& in) const;
};

GuiHost::Impl* GuiHost::Impl::self = nullptr;

namespace {

std::string fdsJson(const std::map<int, FdRegistration>& fds)
{
    std::ostringstream j;
    j << "[";
    bool first = true;
    for (const auto& [fd, reg] : fds) {
        j << (first ? "" : ", ") << "{\"fd\": " << fd << ", \"flags\": " << reg.flags << "}";
        first = false;
    }
    j << "]";
    return j.str();
}

std::string timersJson(const std::map<clap_id, TimerRegistration>& timers)
{
    std::ostringstream j;
    j << "[";
    bool first = true;
    for (const auto& [id, reg] : timers) {
        j << (first ? "" : ", ") << "{\"id\": " << id << ", \"period_ms\": " << reg.periodMs << "}";
        first = false;
    }
    j << "]";
    return j.str();
}

short pollEventsFor(uint32_t flags)
{
    short events = 0;
    if (flags & CLAP_POSIX_FD_READ)
        events |= POLLIN;
    if (flags & CLAP_POSIX_FD_WRITE)
        events |= POLLOUT;
    // Errors and hang-ups are always reported by poll().
    return events;
}

uint32_t clapFlagsFor(short revents, uint32_t registered)
{
    uint32_t flags = 0;
    if ((revents & (POLLIN | POLLPRI)) && (registered & CLAP_POSIX_FD_READ))
        flags |= CLAP_POSIX_FD_READ;
    if ((revents & POLLOUT) && (registered & CLAP_POSIX_FD_WRITE))
        flags |= CLAP_POSIX_FD_WRITE;
    if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
        // A hang-up with readable data left is reported as readable too, so it can be drained.
        flags |= CLAP_POSIX_FD_ERROR;
        if ((revents & POLLHUP) && (registered & CLAP_POSIX_FD_READ))
            flags |= CLAP_POSIX_FD_READ;
    }
    return flags;
}

} // namespace

// -------------------------------------------------------------------------------------------------
// Records

GuiHost::Impl::~Impl()
{
    if (wakeFd >= 0)
        ::close(wakeFd);
    if (self == this)
        self = nullptr;
}

Instance& GuiHost::Impl::of(const clap_host_t* host)
{
    for (auto& in : instances)
        if (!in->retired && in->host == host)
            return *in;
    instances.push_back(std::make_unique<Instance>());
    instances.back()->host = host;
    return *instances.back();
}

Instance& GuiHost::Impl::adopt(HostedPlugin& plugin)
{
    Instance& in = of(plugin.host());
    in.plugin = &plugin;
    const clap_plugin_t* p = plugin.plugin();
    in.gui = plugin.extension<clap_plugin_gui_t>(CLAP_EXT_GUI);
    in.fdExt = plugin.extension<clap_plugin_posix_fd_support_t>(CLAP_EXT_POSIX_FD_SUPPORT);
    in.timerExt = plugin.extension<clap_plugin_timer_support_t>(CLAP_EXT_TIMER_SUPPORT);
    if (in.gui != nullptr) {
        if (in.gui->is_api_supported != nullptr) {
            in.apiEmbedded = in.gui->is_api_supported(p, CLAP_WINDOW_API_X11, false);
            in.apiFloating = in.gui->is_api_supported(p, CLAP_WINDOW_API_X11, true);
        }
        const char* api = nullptr;
        bool floating = false;
        if (in.gui->get_preferred_api != nullptr) {
            in.preferredOk = in.gui->get_preferred_api(p, &api, &floating);
            in.preferredApi = in.preferredOk && api != nullptr ? api : "";
            in.preferredFloating = in.preferredOk && floating;
        }
    }
    return in;
}

void GuiHost::Impl::retire(Instance& in)
{
    std::ostringstream j;
    j << "{\"fds\": " << fdsJson(in.fds) << ", \"timers\": " << timersJson(in.timers) << "}";
    in.afterInstanceDestroy = j.str();
    if (in.plugin != nullptr)
        in.log = in.plugin->logLines();
    in.fds.clear();
    in.timers.clear();
    in.retired = true;
    in.host = nullptr;
    in.plugin = nullptr;
    in.gui = nullptr;
    in.fdExt = nullptr;
    in.timerExt = nullptr;
}

bool GuiHost::Impl::onMain(Instance& in)
{
    if (std::this_thread::get_id() == mainThread)
        return true;
    ++in.callsOffMainThread;
    ++callsOffMainThread;
    return false;
}

// -------------------------------------------------------------------------------------------------
// Host extensions. Every one of them is for the main thread only; a call from another thread is
// counted and refused.

void GuiHost::Impl::resizeHintsChanged(const clap_host_t* host)
{
    if (self == nullptr)
        return;
    Instance& in = self->of(host);
    if (self->onMain(in))
        ++in.resizeHintsChanged;
}

bool GuiHost::Impl::requestResize(const clap_host_t* host, uint32_t width, uint32_t height)
{
    if (self == nullptr)
        return false;
    Instance& in = self->of(host);
    if (!self->onMain(in))
        return false;
    ++in.requestResize;
    in.lastResizeWidth = width;
    in.lastResizeHeight = height;
    if (!in.open || width == 0 || height == 0)
        return false;
    if (!in.floating && in.parent != 0) {
        self->x.resizeWindow(in.parent, width, height);
        self->x.flush();
        in.parentWidth = width;
        in.parentHeight = height;
    }
    if (self->opt.callsLater) {
        in.pendingSize = true;
        in.pendingWidth = width;
        in.pendingHeight = height;
    } else if (in.gui != nullptr && in.gui->set_size != nullptr) {
        in.gui->set_size(in.plugin->plugin(), width, height);
    }
    return true;
}

bool GuiHost::Impl::requestShow(const clap_host_t* host)
{
    if (self == nullptr)
        return false;
    Instance& in = self->of(host);
    if (!self->onMain(in))
        return false;
    ++in.requestShow;
    if (!in.open)
        return false;
    if (self->opt.callsLater)
        in.pendingShow = true;
    else if (in.gui->show != nullptr)
        in.gui->show(in.plugin->plugin());
    return true;
}

bool GuiHost::Impl::requestHide(const clap_host_t* host)
{
    if (self == nullptr)
        return false;
    Instance& in = self->of(host);
    if (!self->onMain(in))
        return false;
    ++in.requestHide;
    if (!in.open || !self->opt.hideAnswer)
        return false;
    if (self->opt.callsLater)
        in.pendingHide = true;
    else if (in.gui->hide != nullptr)
        in.gui->hide(in.plugin->plugin());
    return true;
}

void GuiHost::Impl::closed(const clap_host_t* host, bool wasDestroyed)
{
    if (self == nullptr)
        return;
    Instance& in = self->of(host);
    if (!self->onMain(in))
        return;
    ++in.closed;
    std::fprintf(stderr, "vesk-host: instance %d: the editor was closed%s\n", in.index,
                 wasDestroyed ? " and destroyed" : "");
    if (wasDestroyed) {
        ++in.closedDestroyed;
        // The plug-in wants destroy() as the acknowledgement; never from inside its own call.
        if (in.open)
            in.pendingDestroy = true;
    }
}

bool GuiHost::Impl::registerFd(const clap_host_t* host, int fd, clap_posix_fd_flags_t flags)
{
    if (self == nullptr)
        return false;
    Instance& in = self->of(host);
    const bool ok = self->onMain(in) && fd >= 0 && ::fcntl(fd, F_GETFD) != -1 && flags != 0 &&
                    (flags & ~uint32_t(7)) == 0 && in.fds.count(fd) == 0;
    in.registrations.push_back("{\"op\": \"register_fd\", \"fd\": " + std::to_string(fd) +
                               ", \"flags\": " + std::to_string(flags) +
                               ", \"ok\": " + boolText(ok) + "}");
    if (ok)
        in.fds[fd] = FdRegistration{flags, true};
    return ok;
}

bool GuiHost::Impl::modifyFd(const clap_host_t* host, int fd, clap_posix_fd_flags_t flags)
{
    if (self == nullptr)
        return false;
    Instance& in = self->of(host);
    auto it = in.fds.find(fd);
    const bool ok = self->onMain(in) && it != in.fds.end() && flags != 0 &&
                    (flags & ~uint32_t(7)) == 0 && ::fcntl(fd, F_GETFD) != -1;
    in.registrations.push_back("{\"op\": \"modify_fd\", \"fd\": " + std::to_string(fd) +
                               ", \"flags\": " + std::to_string(flags) +
                               ", \"ok\": " + boolText(ok) + "}");
    if (ok)
        it->second = FdRegistration{flags, true};
    return ok;
}

bool GuiHost::Impl::unregisterFd(const clap_host_t* host, int fd)
{
    if (self == nullptr)
        return false;
    Instance& in = self->of(host);
    const bool ok = self->onMain(in) && in.fds.erase(fd) > 0;
    in.registrations.push_back("{\"op\": \"unregister_fd\", \"fd\": " + std::to_string(fd) +
                               ", \"ok\": " + boolText(ok) + "}");
    return ok;
}

bool GuiHost::Impl::registerTimer(const clap_host_t* host, uint32_t periodMs, clap_id* id)
{
    if (self == nullptr)
        return false;
    Instance& in = self->of(host);
    const bool ok = self->onMain(in) && id != nullptr;
    clap_id given = CLAP_INVALID_ID;
    if (ok) {
        given = self->nextTimerId++;
        *id = given;
        // A period of 0 would spin the loop; the host may choose the period, so it takes 1 ms.
        const uint32_t period = std::max<uint32_t>(periodMs, 1);
        in.timers[given] =
            TimerRegistration{periodMs, Clock::now() + std::chrono::milliseconds(period)};
    }
    in.registrations.push_back(
        "{\"op\": \"register_timer\", \"period_ms\": " + std::to_string(periodMs) + ", \"id\": " +
        (ok ? std::to_string(given) : std::string("null")) + ", \"ok\": " + boolText(ok) + "}");
    return ok;
}

bool GuiHost::Impl::unregisterTimer(const clap_host_t* host, clap_id id)
{
    if (self == nullptr)
        return false;
    Instance& in = self->of(host);
    const bool ok = self->onMain(in) && in.timers.erase(id) > 0;
    in.registrations.push_back("{\"op\": \"unregister_timer\", \"id\": " + std::to_string(id) +
                               ", \"ok\": " + boolText(ok) + "}");
    return ok;
}

const void* GuiHost::Impl::extension(const char* id) const
{
    if (std::strcmp(id, CLAP_EXT_GUI) == 0)
        return &hostGui;
    if (std::strcmp(id, CLAP_EXT_POSIX_FD_SUPPORT) == 0)
        return opt.offerFd ? &hostFd : nullptr;
    if (std::strcmp(id, CLAP_EXT_TIMER_SUPPORT) == 0)
        return opt.offerTimer ? &hostTimer : nullptr;
    return nullptr;
}

// -------------------------------------------------------------------------------------------------
// Editor lifecycle

bool GuiHost::Impl::openEditor(Instance& in, bool floating)
{
    in.opens.emplace_back();
    OpenRecord& rec = in.opens.back();
    rec.floating = floating;
    const clap_plugin_gui_t* gui = in.gui;
    const clap_plugin_t* p = in.plugin->plugin();
    if (gui == nullptr || gui->is_api_supported == nullptr || gui->create == nullptr)
        return false;
    rec.apiSupported = gui->is_api_supported(p, CLAP_WINDOW_API_X11, floating);
    if (!rec.apiSupported)
        return false;

    if (floating)
        in.before = x.topLevelWindows();
    rec.created = gui->create(p, CLAP_WINDOW_API_X11, floating);
    if (!rec.created)
        return false;
    in.open = true;
    in.floating = floating;
    in.exposed = in.ready = false;
    in.parent = in.owner = in.window = 0;

    if (opt.scaleGiven && gui->set_scale != nullptr)
        rec.setScale = gui->set_scale(p, opt.scale);
    rec.size.called = gui->get_size != nullptr;
    if (rec.size.called)
        rec.size.ok = gui->get_size(p, &rec.size.width, &rec.size.height);
    if (gui->can_resize != nullptr)
        rec.canResize = gui->can_resize(p);
    if (gui->get_resize_hints != nullptr)
        rec.hintsOk = gui->get_resize_hints(p, &rec.hints);

    // Windows of several instances are placed apart, so each can be seen and clicked.
    const int offset = 64 * (in.index > 0 ? in.index - 1 : 0);
    if (!floating) {
        uint32_t w = rec.size.ok ? rec.size.width : 0, h = rec.size.ok ? rec.size.height : 0;
        if (w == 0 || h == 0) {
            w = kFallbackWidth;
            h = kFallbackHeight;
        }
        in.parent = x.createWindow(offset, offset, w, h, opt.title);
        in.parentWidth = w;
        in.parentHeight = h;
        x.sync(); // the plug-in's own connection must see the window
        rec.parent = in.parent;
        in.window = in.parent;
        clap_window_t window{};
        window.api = CLAP_WINDOW_API_X11;
        window.x11 = in.parent;
        rec.setParent = gui->set_parent != nullptr && gui->set_parent(p, &window);
    } else if (opt.transient) {
        in.owner = x.createWindow(offset, offset, 480, 320, opt.title);
        x.sync();
        clap_window_t window{};
        window.api = CLAP_WINDOW_API_X11;
        window.x11 = in.owner;
        rec.setTransient = gui->set_transient != nullptr && gui->set_transient(p, &window);
    }
    if (gui->suggest_title != nullptr)
        gui->suggest_title(p, opt.title.c_str());
    rec.show = gui->show != nullptr && gui->show(p);
    in.shownAt = Clock::now();
    rec.shownNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(in.shownAt.time_since_epoch()).count();
    // Editors open one after the other, so a window that is there now is this instance's; one
    // that appears later is looked for by the main loop.
    if (floating)
        claimFloatingWindow(in, false);
    return true;
}

void GuiHost::Impl::claimFloatingWindow(Instance& in, bool viewableOnly)
{
    std::vector<x11::WindowId> known = in.before;
    for (const Instance* other : adopted) {
        known.push_back(other->window);
        known.push_back(other->owner);
        known.push_back(other->parent);
    }
    const auto found = x.findWindowsOf(long(::getpid()), kEditorTitlePrefix, known, viewableOnly);
    for (auto it = found.rbegin(); it != found.rend() && in.window == 0; ++it)
        if (x.isViewable(*it))
            in.window = *it; // the topmost one shown
    if (in.window == 0 && !found.empty())
        in.window = found.back();
}

void GuiHost::Impl::closeEditor(Instance& in)
{
    if (!in.open)
        return;
    OpenRecord& rec = in.opens.back();
    const clap_plugin_t* p = in.plugin->plugin();
    int gx = 0, gy = 0;
    if (in.window != 0)
        x.geometry(in.floating ? in.window : in.parent, gx, gy, rec.lastWidth, rec.lastHeight);
    rec.window = in.window;
    rec.hide = in.gui->hide != nullptr && in.gui->hide(p);
    if (opt.parentFirst && in.parent != 0) {
        x.destroyWindow(in.parent);
        x.sync();
        in.parent = 0;
    }
    in.open = false; // nothing the plug-in asks from inside destroy reaches a closing editor
    if (in.gui->destroy != nullptr)
        in.gui->destroy(p);
    rec.fdsAfterDestroy = fdsJson(in.fds);
    rec.timersAfterDestroy = timersJson(in.timers);
    if (x.reinstallErrorHandler())
        ++handlerReplaced;
    x.destroyWindow(in.parent);
    x.destroyWindow(in.owner);
    x.sync();
    in.parent = in.owner = in.window = 0;
    in.pendingShow = in.pendingHide = in.pendingDestroy = in.pendingSize = false;
}

void GuiHost::Impl::applySize(Instance& in, uint32_t width, uint32_t height, SetSizeRecord* record)
{
    const clap_plugin_t* p = in.plugin->plugin();
    uint32_t w = width, h = height;
    SizeAnswer adjusted;
    adjusted.called = in.gui->adjust_size != nullptr;
    if (adjusted.called) {
        adjusted.ok = in.gui->adjust_size(p, &w, &h);
        adjusted.width = w;
        adjusted.height = h;
        if (!adjusted.ok) {
            w = width;
            h = height;
        }
    }
    if (!in.floating && in.parent != 0 && (w != in.parentWidth || h != in.parentHeight)) {
        x.resizeWindow(in.parent, w, h);
        x.flush();
        in.parentWidth = w;
        in.parentHeight = h;
    }
    const int answer = in.gui->set_size != nullptr && in.gui->set_size(p, w, h);
    if (record != nullptr) {
        record->adjusted = adjusted;
        record->setSize = answer;
    }
}

void GuiHost::Impl::runDeferred(Instance& in)
{
    if (!in.open)
        return;
    const clap_plugin_t* p = in.plugin->plugin();
    if (in.pendingDestroy) {
        closeEditor(in);
        return;
    }
    if (in.pendingSize) {
        in.pendingSize = false;
        if (in.gui->set_size != nullptr)
            in.gui->set_size(p, in.pendingWidth, in.pendingHeight);
    }
    if (in.pendingHide) {
        in.pendingHide = false;
        if (in.gui->hide != nullptr)
            in.gui->hide(p);
    }
    if (in.pendingShow) {
        in.pendingShow = false;
        if (in.gui->show != nullptr)
            in.gui->show(p);
    }
}

// -------------------------------------------------------------------------------------------------
// Main loop

void GuiHost::Impl::drainWake()
{
    uint64_t v = 0;
    while (::read(wakeFd, &v, sizeof v) == ssize_t(sizeof v)) {
    }
}

void GuiHost::Impl::pumpCallbacks()
{
    for (Instance* in : adopted)
        if (in->plugin != nullptr && in->plugin->pumpMainThread())
            ++in->mainThreadCallbacks;
}

void GuiHost::Impl::processXEvents()
{
    x11::Event e;
    while (x.nextEvent(e)) {
        for (Instance* in : adopted) {
            if (!in->open || e.window == 0 || (e.window != in->parent && e.window != in->owner))
                continue;
            switch (e.type) {
            case x11::Event::Type::Exposed:
                if (e.count == 0)
                    in->exposed = true;
                break;
            case x11::Event::Type::Configured:
                // A size the host did not set (a script resized the window): offered to the
                // editor as a user's resize would be.
                if (e.window == in->parent &&
                    (uint32_t(e.width) != in->parentWidth ||
                     uint32_t(e.height) != in->parentHeight) &&
                    e.width > 0 && e.height > 0) {
                    in->parentWidth = uint32_t(e.width);
                    in->parentHeight = uint32_t(e.height);
                    applySize(*in, in->parentWidth, in->parentHeight, nullptr);
                }
                break;
            case x11::Event::Type::CloseRequested:
                parentClosed = true;
                quit = true;
                break;
            default:
                break;
            }
        }
    }
}

bool GuiHost::Impl::allReady() const
{
    for (const Instance* in : adopted)
        if (in->open && !in->ready)
            return false;
    return true;
}

void GuiHost::Impl::checkWindows(Clock::time_point now)
{
    bool anyOpen = false, allFound = true;
    for (Instance* in : adopted) {
        if (!in->open)
            continue;
        anyOpen = true;
        if (in->floating && in->window == 0)
            claimFloatingWindow(*in, true);
        if (in->window == 0)
            allFound = false;
        if (!in->ready) {
            in->ready = in->floating ? in->window != 0 && x.isViewable(in->window)
                                     : in->exposed && x.hasViewableChild(in->parent);
            if (in->ready)
                in->opens.back().readyMs =
                    std::chrono::duration<double, std::milli>(now - in->shownAt).count();
        }
    }
    if (!anyOpen)
        return;
    if (allFound && !windowFileWritten && !opt.windowFile.empty()) {
        std::string text;
        for (const Instance* in : adopted)
            if (in->open)
                text += std::to_string(in->window) + "\n";
        windowFileWritten = writeTextAtomically(opt.windowFile, text);
    }
    if (allReady() && !readyFileWritten && !opt.readyFile.empty())
        readyFileWritten =
            writeTextAtomically(opt.readyFile, std::to_string(cyclesDone + 1) + "\n");
}

void GuiHost::Impl::fireTimers(Clock::time_point now)
{
    for (Instance* in : adopted) {
        if (in->timerExt == nullptr || in->timerExt->on_timer == nullptr)
            continue;
        std::vector<clap_id> due;
        for (const auto& [id, reg] : in->timers)
            if (reg.due <= now)
                due.push_back(id);
        for (clap_id id : due) {
            auto it = in->timers.find(id);
            if (it == in->timers.end())
                continue; // unregistered by an earlier timer's callback
            const auto period =
                std::chrono::milliseconds(std::max<uint32_t>(it->second.periodMs, 1));
            it->second.due += period;
            if (it->second.due <= now)
                it->second.due = now + period; // fell behind: no burst of catch-up calls
            ++in->onTimerCalls;
            in->timerExt->on_timer(in->plugin->plugin(), id);
        }
    }
}

void GuiHost::Impl::dispatchFds(const std::vector<pollfd>& pfds,
                                const std::vector<std::pair<Instance*, int>>& owners)
{
    for (size_t i = 0; i < owners.size(); ++i) {
        const pollfd& pf = pfds[i + 2];
        if (pf.revents == 0)
            continue;
        Instance* in = owners[i].first;
        auto it = in->fds.find(owners[i].second);
        if (it == in->fds.end())
            continue; // unregistered meanwhile
        if (pf.revents & POLLNVAL) {
            // Closed without being unregistered: reported once, then no longer polled.
            it->second.pollable = false;
            ++in->invalidFds;
        }
        const uint32_t flags = clapFlagsFor(pf.revents, it->second.flags);
        if (flags == 0 || in->fdExt == nullptr || in->fdExt->on_fd == nullptr)
            continue;
        ++in->onFdCalls;
        in->fdExt->on_fd(in->plugin->plugin(), pf.fd, flags);
    }
}

void GuiHost::Impl::loadRequestedState()
{
    std::vector<uint8_t> bytes;
    if (!readFile(opt.loadOnPath, bytes))
        return; // not asked yet
    std::remove(opt.loadOnPath.c_str());
    const bool ok = adopted.front()->plugin->loadState(bytes);
    if (!ok)
        std::fprintf(stderr, "vesk-host: cannot load the state from %s\n", opt.loadOnPath.c_str());
    const std::string answer = ok ? "ok\n" : "failed\n";
    const std::string temporary = opt.loadOnPath + ".loaded.part";
    if (writeFile(temporary, std::vector<uint8_t>(answer.begin(), answer.end())))
        std::rename(temporary.c_str(), (opt.loadOnPath + ".loaded").c_str());
}

void GuiHost::Impl::runPhase(double seconds)
{
    const Clock::time_point start = Clock::now();
    const Clock::time_point until =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<bool> stepDone(opt.setSizes.size(), false);
    std::vector<bool> showDone(opt.showAt.size(), false);
    bool saveDone = opt.saveAt < 0.0;
    Clock::time_point readyAt{};
    bool wasReady = false;
    uint64_t wakeupsAtReady = 0;
    std::vector<pollfd> pfds;
    std::vector<std::pair<Instance*, int>> owners;

    while (!quit) {
        for (Instance* in : adopted)
            runDeferred(*in);
        pumpCallbacks();
        processXEvents();
        Clock::time_point now = Clock::now();
        checkWindows(now);
        if (!wasReady && allReady()) {
            wasReady = true;
            readyAt = now;
            wakeupsAtReady = wakeups;
        }
        for (size_t i = 0; i < opt.setSizes.size(); ++i) {
            const SetSizeStep& step = opt.setSizes[i];
            if (stepDone[i] || secondsBetween(start, now) < step.at)
                continue;
            stepDone[i] = true;
            for (Instance* in : adopted) {
                if (!in->open)
                    continue;
                SetSizeRecord rec;
                rec.at = step.at;
                rec.width = step.width;
                rec.height = step.height;
                applySize(*in, step.width, step.height, &rec);
                in->opens.back().setSizes.push_back(rec);
            }
        }
        for (size_t i = 0; i < opt.showAt.size(); ++i) {
            if (showDone[i] || secondsBetween(start, now) < opt.showAt[i])
                continue;
            showDone[i] = true;
            for (Instance* in : adopted)
                if (in->open && in->gui->show != nullptr) {
                    ++in->showCalls;
                    in->gui->show(in->plugin->plugin());
                }
        }
        if (!saveDone && secondsBetween(start, now) >= opt.saveAt && !adopted.empty()) {
            saveDone = true;
            std::vector<uint8_t> bytes;
            if (!adopted.front()->plugin->saveState(bytes) || !writeFile(opt.saveAtPath, bytes))
                std::fprintf(stderr, "vesk-host: cannot save the state to %s\n",
                             opt.saveAtPath.c_str());
        }
        if (!opt.loadOnPath.empty() && !adopted.empty())
            loadRequestedState();
        fireTimers(now);
        now = Clock::now();
        if (now >= until)
            break;

        Clock::time_point next = until;
        for (const Instance* in : adopted)
            for (const auto& [id, reg] : in->timers)
                next = std::min(next, reg.due);
        if (!saveDone)
            next = std::min(next, start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(opt.saveAt)));
        for (size_t i = 0; i < opt.showAt.size(); ++i)
            if (!showDone[i])
                next = std::min(next, start + std::chrono::duration_cast<Clock::duration>(
                                                  std::chrono::duration<double>(opt.showAt[i])));
        for (size_t i = 0; i < opt.setSizes.size(); ++i)
            if (!stepDone[i])
                next =
                    std::min(next, start + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(opt.setSizes[i].at)));
        if (!allReady() || (!windowFileWritten && !opt.windowFile.empty()) ||
            !opt.loadOnPath.empty())
            next = std::min(next, now + kSearchInterval);
        bool immediate = x.hasQueuedEvents();
        for (const Instance* in : adopted)
            immediate = immediate || in->pendingShow || in->pendingHide || in->pendingSize ||
                        in->pendingDestroy;

        pfds.clear();
        owners.clear();
        pfds.push_back({wakeFd, POLLIN, 0});
        pfds.push_back({x.fd(), POLLIN, 0});
        for (Instance* in : adopted) {
            for (const auto& [fd, reg] : in->fds) {
                if (!reg.pollable)
                    continue;
                pfds.push_back({fd, pollEventsFor(reg.flags), 0});
                owners.emplace_back(in, fd);
            }
        }
        const auto wait =
            immediate ? Clock::duration::zero() : std::max(next - now, Clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        timespec ts{time_t(ns / 1000000000), long(ns % 1000000000)};
        const int r = ::ppoll(pfds.data(), nfds_t(pfds.size()), &ts, nullptr);
        ++wakeups;
        if (r < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "vesk-host: poll failed: %s\n", std::strerror(errno));
            break;
        }
        if (r == 0)
            continue;
        if (pfds[0].revents != 0)
            drainWake();
        dispatchFds(pfds, owners);
    }
    const Clock::time_point end = Clock::now();
    if (wasReady) {
        readySeconds += secondsBetween(readyAt, end);
        readyWakeups += wakeups - wakeupsAtReady;
    }
}

// -------------------------------------------------------------------------------------------------
// JSON

std::string GuiHost::Impl::instanceJson(const Instance& in) const
{
    std::ostringstream j;
    j << "{\"index\": " << in.index
      << ", \"has_gui\": " << boolText(in.gui != nullptr || in.retired)
      << ", \"api_supported\": {\"embedded\": " << boolText(in.apiEmbedded)
      << ", \"floating\": " << boolText(in.apiFloating)
      << "}, \"preferred_api\": {\"ok\": " << boolText(in.preferredOk)
      << ", \"api\": " << jsonString(in.preferredApi)
      << ", \"floating\": " << boolText(in.preferredFloating) << "},\n      \"opens\": [";
    for (size_t i = 0; i < in.opens.size(); ++i) {
        const OpenRecord& o = in.opens[i];
        j << (i ? ",\n        " : "\n        ") << "{\"mode\": \""
          << (o.floating ? "floating" : "embedded")
          << "\", \"api_supported\": " << boolText(o.apiSupported)
          << ", \"create\": " << optionalBool(o.created)
          << ", \"set_scale\": " << optionalBool(o.setScale)
          << ", \"get_size\": " << sizeJson(o.size)
          << ", \"can_resize\": " << optionalBool(o.canResize) << ", \"resize_hints\": ";
        if (o.hintsOk)
            j << "{\"horizontal\": " << boolText(o.hints.can_resize_horizontally)
              << ", \"vertical\": " << boolText(o.hints.can_resize_vertically)
              << ", \"preserve_aspect\": " << boolText(o.hints.preserve_aspect_ratio)
              << ", \"aspect_width\": " << o.hints.aspect_ratio_width
              << ", \"aspect_height\": " << o.hints.aspect_ratio_height << "}";
        else
            j << "null";
        j << ", \"set_parent\": " << optionalBool(o.setParent)
          << ", \"set_transient\": " << optionalBool(o.setTransient)
          << ", \"show\": " << optionalBool(o.show) << ", \"hide\": " << optionalBool(o.hide)
          << ", \"parent\": " << o.parent << ", \"window\": " << o.window
          << ", \"shown_steady_ns\": " << o.shownNs
          << ", \"ready_ms\": " << (o.readyMs < 0 ? std::string("null") : std::to_string(o.readyMs))
          << ", \"last_size\": {\"width\": " << o.lastWidth << ", \"height\": " << o.lastHeight
          << "}, \"set_sizes\": [";
        for (size_t k = 0; k < o.setSizes.size(); ++k) {
            const SetSizeRecord& s = o.setSizes[k];
            j << (k ? ", " : "") << "{\"at\": " << s.at << ", \"width\": " << s.width
              << ", \"height\": " << s.height << ", \"adjust_size\": " << sizeJson(s.adjusted)
              << ", \"set_size\": " << optionalBool(s.setSize) << "}";
        }
        j << "], \"after_destroy\": {\"fds\": " << o.fdsAfterDestroy
          << ", \"timers\": " << o.timersAfterDestroy << "}}";
    }
    j << "],\n      \"request_resize\": {\"count\": " << in.requestResize
      << ", \"last_width\": " << in.lastResizeWidth << ", \"last_height\": " << in.lastResizeHeight
      << "}, \"request_show\": " << in.requestShow << ", \"show_calls\": " << in.showCalls
      << ", \"request_hide\": " << in.requestHide
      << ", \"resize_hints_changed\": " << in.resizeHintsChanged
      << ", \"closed\": {\"count\": " << in.closed << ", \"destroyed\": " << in.closedDestroyed
      << "},\n      \"registrations\": [";
    for (size_t i = 0; i < in.registrations.size(); ++i)
        j << (i ? ", " : "") << in.registrations[i];
    j << "],\n      \"fds\": " << fdsJson(in.fds) << ", \"timers\": " << timersJson(in.timers)
      << ", \"after_instance_destroy\": " << in.afterInstanceDestroy
      << ",\n      \"on_fd_calls\": " << in.onFdCalls << ", \"on_timer_calls\": " << in.onTimerCalls
      << ", \"invalid_fds\": " << in.invalidFds
      << ", \"main_thread_callbacks\": " << in.mainThreadCallbacks
      << ", \"calls_off_main_thread\": " << in.callsOffMainThread;
    // Parameter events the plug-in's editor sent the host (automation gestures), in order.
    j << ",\n      \"param_output\": [";
    if (in.plugin != nullptr) {
        const auto& events = in.plugin->paramOutput();
        for (size_t i = 0; i < events.size(); ++i) {
            const ParamOutputEvent& e = events[i];
            const char* type = e.type == CLAP_EVENT_PARAM_GESTURE_BEGIN ? "begin"
                               : e.type == CLAP_EVENT_PARAM_GESTURE_END ? "end"
                                                                        : "value";
            j << (i ? ", " : "") << "{\"type\": \"" << type << "\", \"id\": " << e.paramId
              << ", \"value\": " << e.value << ", \"flush\": " << boolText(e.fromFlush) << "}";
        }
    }
    j << "]";
    if (in.index > 1) {
        const ChannelLevel l = measure(in.left), r = measure(in.right);
        j << ", \"output\": {\"frames\": " << in.stats.frames << ", \"left\": {\"peak\": " << l.peak
          << ", \"rms\": " << l.rms << "}, \"right\": {\"peak\": " << r.peak
          << ", \"rms\": " << r.rms << "}}";
    }
    j << ",\n      \"log\": [";
    {
        const auto lines = in.plugin != nullptr ? in.plugin->logLines() : in.log;
        for (size_t i = 0; i < lines.size(); ++i)
            j << (i ? ", " : "") << jsonString(lines[i]);
    }
    j << "]}";
    return j.str();
}

// -------------------------------------------------------------------------------------------------
// GuiHost

GuiHost::GuiHost() : impl_(std::make_unique<Impl>()) {}
GuiHost::~GuiHost() = default;

const char* GuiHost::usage()
{
    return "  --gui embedded|floating|both  open the editor and run in real time (both: cycles\n"
           "                        alternate, embedded first)\n"
           "  --gui-seconds S       how long the editor stays open (default 2)\n"
           "  --gui-cycles N        open and close the editor N times instead (audio running)\n"
           "  --gui-cycle-seconds S how long each cycle keeps it open (default 0.3)\n"
           "  --gui-scale S         call set_scale(S) before get_size\n"
           "  --gui-set-size WxH@S  S seconds after showing: adjust_size, resize, set_size\n"
           "                        (repeatable)\n"
           "  --gui-save-state-at S:FILE  S seconds after showing: save the first instance's\n"
           "                        state to FILE with the editor open\n"
           "  --gui-load-state-on FILE  whenever FILE appears, load it as the first instance's\n"
           "                        state with the editor open, remove it and write FILE.loaded\n"
           "                        (\"ok\" or \"failed\"); write FILE by renaming a finished "
           "file\n"
           "  --gui-show-at S       S seconds after showing: call show again (repeatable)\n"
           "  --gui-audio-hold A:B  the audio thread makes no process call from A to B seconds\n"
           "                        (silence is recorded meanwhile)\n"
           "  --gui-transient       floating: make the editor transient to a host window\n"
           "  --gui-title TEXT      the title given through suggest_title (default vesk-host)\n"
           "  --gui-hide-answer yes|no  the answer to request_hide (yes: the host hides it)\n"
           "  --gui-host-calls now|later  answer requests by calling the plug-in from inside\n"
           "                        them (default), or from the next pass of the main loop\n"
           "  --gui-no-timer        offer no clap.timer-support\n"
           "  --gui-no-fd           offer no clap.posix-fd-support\n"
           "  --gui-destroy-parent-first  destroy the parent window before the editor\n"
           "  --gui-window-file F   write the X window id(s) to drive, one per instance\n"
           "  --gui-ready-file F    written once every editor window is mapped and exposed\n"
           "  --reload-cycles N     N times: load the file, open and close an editor, unload;\n"
           "                        then the run goes on with one more load\n";
}

bool GuiHost::parseOption(const std::string& arg, const std::function<std::string()>& value,
                          std::string& error)
{
    Options& o = impl_->opt;
    auto number = [&](double lo, double hi, double& out) {
        const std::string v = value();
        char* end = nullptr;
        out = std::strtod(v.c_str(), &end);
        if (end == v.c_str() || *end != '\0' || !std::isfinite(out) || out < lo || out > hi)
            error = "bad " + arg + " " + v;
    };
    double d = 0.0;
    if (arg == "--gui") {
        const std::string v = value();
        if (v == "embedded")
            o.mode = Mode::Embedded;
        else if (v == "floating")
            o.mode = Mode::Floating;
        else if (v == "both")
            o.mode = Mode::Both;
        else
            error = "bad --gui (embedded, floating or both)";
    } else if (arg == "--gui-seconds") {
        number(0.0, 3600.0, o.seconds);
    } else if (arg == "--gui-cycles") {
        number(1.0, 10000.0, d);
        o.cycles = int(d);
    } else if (arg == "--gui-cycle-seconds") {
        number(0.0, 60.0, o.cycleSeconds);
    } else if (arg == "--reload-cycles") {
        number(1.0, 1000.0, d);
        o.reloadCycles = int(d);
    } else if (arg == "--gui-scale") {
        number(0.1, 16.0, o.scale);
        o.scaleGiven = true;
    } else if (arg == "--gui-set-size") {
        const std::string v = value();
        unsigned w = 0, h = 0;
        double at = 0.0;
        char tail = 0;
        if (std::sscanf(v.c_str(), "%ux%u@%lf%c", &w, &h, &at, &tail) != 3 || w == 0 || h == 0 ||
            w > 16384 || h > 16384 || !std::isfinite(at) || at < 0.0)
            error = "bad --gui-set-size (WxH@SECONDS)";
        else
            o.setSizes.push_back({w, h, at});
    } else if (arg == "--gui-show-at") {
        double at = 0.0;
        number(0.0, 3600.0, at);
        o.showAt.push_back(at);
    } else if (arg == "--gui-save-state-at") {
        const std::string v = value();
        const size_t colon = v.find(':');
        char* end = nullptr;
        const double at = colon == std::string::npos ? -1.0 : std::strtod(v.c_str(), &end);
        if (colon == std::string::npos || end != v.c_str() + colon || !std::isfinite(at) ||
            at < 0.0 || colon + 1 >= v.size())
            error = "bad --gui-save-state-at (SECONDS:FILE)";
        else {
            o.saveAt = at;
            o.saveAtPath = v.substr(colon + 1);
        }
    } else if (arg == "--gui-load-state-on") {
        o.loadOnPath = value();
        if (o.loadOnPath.empty())
            error = "bad --gui-load-state-on (FILE)";
    } else if (arg == "--gui-audio-hold") {
        const std::string v = value();
        double a = 0.0, b = 0.0;
        char tail = 0;
        if (std::sscanf(v.c_str(), "%lf:%lf%c", &a, &b, &tail) != 2 || !std::isfinite(a) ||
            !std::isfinite(b) || a < 0.0 || b <= a)
            error = "bad --gui-audio-hold (FROM:TO seconds)";
        else {
            o.holdFrom = a;
            o.holdUntil = b;
        }
    } else if (arg == "--gui-transient") {
        o.transient = true;
    } else if (arg == "--gui-title") {
        o.title = value();
    } else if (arg == "--gui-hide-answer") {
        const std::string v = value();
        if (v == "yes" || v == "no")
            o.hideAnswer = v == "yes";
        else
            error = "bad --gui-hide-answer (yes or no)";
    } else if (arg == "--gui-host-calls") {
        const std::string v = value();
        if (v == "now" || v == "later")
            o.callsLater = v == "later";
        else
            error = "bad --gui-host-calls (now or later)";
    } else if (arg == "--gui-no-timer") {
        o.offerTimer = false;
    } else if (arg == "--gui-no-fd") {
        o.offerFd = false;
    } else if (arg == "--gui-destroy-parent-first") {
        o.parentFirst = true;
    } else if (arg == "--gui-window-file") {
        o.windowFile = value();
    } else if (arg == "--gui-ready-file") {
        o.readyFile = value();
    } else {
        return false;
    }
    return true;
}

std::string GuiHost::checkOptions() const
{
    const Options& o = impl_->opt;
    if (o.mode != Mode::None)
        return "";
    if (o.cycles > 0)
        return "--gui-cycles needs --gui";
    return "";
}

bool GuiHost::editorRun() const
{
    return impl_->opt.mode != Mode::None;
}

void GuiHost::setInstances(int count)
{
    impl_->opt.instances = count < 1 ? 1 : count;
}

bool GuiHost::reloadRun() const
{
    return impl_->opt.reloadCycles > 0;
}

bool GuiHost::install(HostOptions& options, std::string& error)
{
    Impl& m = *impl_;
    if (!m.x.open()) {
        error = m.x.error();
        return false;
    }
    m.wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m.wakeFd < 0) {
        error = std::string("eventfd: ") + std::strerror(errno);
        return false;
    }
    Impl::self = &m;
    m.mainThread = std::this_thread::get_id();
    m.hostGui.resize_hints_changed = Impl::resizeHintsChanged;
    m.hostGui.request_resize = Impl::requestResize;
    m.hostGui.request_show = Impl::requestShow;
    m.hostGui.request_hide = Impl::requestHide;
    m.hostGui.closed = Impl::closed;
    m.hostFd.register_fd = Impl::registerFd;
    m.hostFd.modify_fd = Impl::modifyFd;
    m.hostFd.unregister_fd = Impl::unregisterFd;
    m.hostTimer.register_timer = Impl::registerTimer;
    m.hostTimer.unregister_timer = Impl::unregisterTimer;

    auto previous = options.extraExtension;
    options.extraExtension = [&m, previous](const char* id) -> const void* {
        if (const void* ext = m.extension(id))
            return ext;
        return previous ? previous(id) : nullptr;
    };
    const int fd = m.wakeFd;
    options.onCallbackRequest = [fd] {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
    };
    m.hostOptions = options;
    return true;
}

void GuiHost::runReloadCycles(const std::string& path, const std::string& pluginId)
{
    Impl& m = *impl_;
    for (int cycle = 0; cycle < m.opt.reloadCycles; ++cycle) {
        ReloadRecord rec;
        rec.threadsBefore = countThreads();
        {
            PluginLibrary library(path);
            library.onDeinit = [&rec] { rec.threadsAfterDeinit = countThreads(); };
            std::string id = pluginId;
            const clap_plugin_factory_t* f = library.factory();
            if (id.empty() && f->get_plugin_count(f) > 0) {
                const clap_plugin_descriptor_t* d = f->get_plugin_descriptor(f, 0);
                id = d != nullptr && d->id != nullptr ? d->id : "";
            }
            {
                HostedPlugin plugin(library, id, m.hostOptions);
                Instance& in = m.adopt(plugin);
                in.index = 1;
                m.adopted = {&in};
                const bool floating =
                    m.opt.mode == Mode::Floating || (m.opt.mode == Mode::Both && cycle % 2 == 1);
                if (m.openEditor(in, floating)) {
                    m.windowFileWritten = m.readyFileWritten = true; // files are for the run
                    m.runPhase(m.opt.cycleSeconds);
                    rec.editorShown = in.opens.back().show == 1;
                    rec.editorReady = in.ready;
                    rec.threadsOpen = countThreads();
                    m.closeEditor(in);
                    rec.fdsAfterDestroy = in.opens.back().fdsAfterDestroy;
                    rec.timersAfterDestroy = in.opens.back().timersAfterDestroy;
                }
                m.pumpCallbacks();
                m.retire(in);
                m.adopted.clear();
            }
            rec.threadsAfterDestroy = countThreads();
        }
        rec.threadsAfterUnload = countThreads();
        void* still = ::dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
        rec.unloaded = still == nullptr;
        if (still != nullptr)
            ::dlclose(still);
        m.reloads.push_back(rec);
        m.windowFileWritten = m.readyFileWritten = false;
        m.quit = false;
    }
}

RenderStats GuiHost::run(PluginLibrary& library, const std::string& pluginId, HostedPlugin& first,
                         const std::vector<uint8_t>* state, std::vector<TimedEvent> events,
                         uint32_t blockSize, std::vector<float>& left, std::vector<float>& right)
{
    Impl& m = *impl_;
    m.adopted.clear();
    Instance& one = m.adopt(first);
    one.index = 1;
    m.adopted.push_back(&one);
    for (int i = 2; i <= m.opt.instances; ++i) {
        auto plugin = std::make_unique<HostedPlugin>(library, pluginId, m.hostOptions);
        if (!m.hostOptions.trackName.empty())
            if (const auto* ti = plugin->extension<clap_plugin_track_info_t>(CLAP_EXT_TRACK_INFO))
                ti->changed(plugin->plugin());
        if (state != nullptr && !plugin->loadState(*state))
            std::fprintf(stderr, "vesk-host: instance %d did not accept the state\n", i);
        if (!plugin->activate(first.sampleRate(), blockSize))
            throw std::runtime_error("activation of instance " + std::to_string(i) + " failed");
        Instance& in = m.adopt(*plugin);
        in.index = i;
        in.owned = std::move(plugin);
        m.adopted.push_back(&in);
    }

    // The audio thread: blocks paced to the wall clock, every instance in turn.
    const double rate = first.sampleRate();
    const double totalSeconds =
        m.opt.cycles > 0 ? m.opt.cycles * (m.opt.cycleSeconds + 0.1) : m.opt.seconds;
    for (Instance* in : m.adopted) {
        in->plugin->beginRun(events, blockSize);
        in->left.reserve(size_t((totalSeconds + 1.0) * rate));
        in->right.reserve(size_t((totalSeconds + 1.0) * rate));
    }
    std::atomic<bool> stop{false};
    const Clock::time_point audioStart = Clock::now();
    m.audioStartNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(audioStart.time_since_epoch()).count();
    std::thread audio([&] {
        const double period = double(blockSize) / rate;
        for (uint64_t k = 0; !stop.load(std::memory_order_relaxed); ++k) {
            const auto deadline = audioStart + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(k * period));
            std::this_thread::sleep_until(deadline);
            const double lagMs =
                std::chrono::duration<double, std::milli>(Clock::now() - deadline).count();
            m.maxLagMs = std::max(m.maxLagMs, lagMs);
            if (lagMs > 1000.0 * period)
                ++m.lateBlocks;
            const double t = double(k) * period;
            if (t >= m.opt.holdFrom && t < m.opt.holdUntil) {
                // Held: no process call, silence on the recording.
                for (Instance* in : m.adopted) {
                    in->left.insert(in->left.end(), blockSize, 0.0f);
                    in->right.insert(in->right.end(), blockSize, 0.0f);
                }
                ++m.heldBlocks;
                continue;
            }
            for (Instance* in : m.adopted)
                in->plugin->processBlock(blockSize, in->left, in->right, in->stats);
            ++m.audioBlocks;
        }
    });

    try {
        const int cycles = std::max(m.opt.cycles, 1);
        const double seconds = m.opt.cycles > 0 ? m.opt.cycleSeconds : m.opt.seconds;
        for (int c = 0; c < cycles && !m.quit; ++c) {
            const bool floating =
                m.opt.mode == Mode::Floating || (m.opt.mode == Mode::Both && c % 2 == 1);
            m.windowFileWritten = m.readyFileWritten = false;
            for (Instance* in : m.adopted)
                m.openEditor(*in, floating);
            m.runPhase(seconds);
            for (Instance* in : m.adopted)
                m.closeEditor(*in);
            m.pumpCallbacks();
            m.cyclesDone = c + 1;
        }
    } catch (...) {
        stop = true;
        audio.join();
        throw;
    }
    stop = true;
    audio.join();
    m.audioSeconds = secondsBetween(audioStart, Clock::now());
    m.pumpCallbacks();

    RenderStats stats = one.stats;
    left.insert(left.end(), one.left.begin(), one.left.end());
    right.insert(right.end(), one.right.begin(), one.right.end());
    for (Instance* in : m.adopted) {
        if (in->owned) {
            in->log = in->plugin->logLines();
            in->owned.reset(); // deactivates and destroys
            in->plugin = nullptr;
            m.retire(*in);
        }
    }
    return stats;
}

std::string GuiHost::json() const
{
    const Impl& m = *impl_;
    std::ostringstream j;
    const char* mode = m.opt.mode == Mode::Embedded   ? "embedded"
                       : m.opt.mode == Mode::Floating ? "floating"
                       : m.opt.mode == Mode::Both     ? "both"
                                                      : "none";
    const x11::ErrorCounts errors = x11::Connection::errorCounts();
    j << "{\n    \"mode\": \"" << mode
      << "\", \"api\": \"x11\", \"offered\": {\"timer_support\": " << boolText(m.opt.offerTimer)
      << ", \"posix_fd_support\": " << boolText(m.opt.offerFd)
      << "}, \"hide_answer\": " << boolText(m.opt.hideAnswer) << ", \"host_calls\": \""
      << (m.opt.callsLater ? "later" : "now") << "\",\n    \"cycles\": " << m.cyclesDone
      << ", \"parent_closed\": " << boolText(m.parentClosed)
      << ", \"calls_off_main_thread\": " << m.callsOffMainThread
      << ",\n    \"x_errors\": {\"host\": " << errors.host << ", \"other\": " << errors.other
      << "}, \"x_error_handler_replaced\": " << m.handlerReplaced
      << ",\n    \"main_loop\": {\"wakeups\": " << m.wakeups
      << ", \"ready_seconds\": " << m.readySeconds << ", \"wakeups_per_second\": "
      << (m.readySeconds > 0.0 ? double(m.readyWakeups) / m.readySeconds : 0.0)
      << "},\n    \"audio\": {\"blocks\": " << m.audioBlocks
      << ", \"held_blocks\": " << m.heldBlocks << ", \"late_blocks\": " << m.lateBlocks
      << ", \"max_lag_ms\": " << m.maxLagMs << ", \"seconds\": " << m.audioSeconds
      << ", \"start_steady_ns\": " << m.audioStartNs << "},\n    \"reload_cycles\": [";
    for (size_t i = 0; i < m.reloads.size(); ++i) {
        const ReloadRecord& r = m.reloads[i];
        j << (i ? ",\n      " : "\n      ") << "{\"threads_before\": " << r.threadsBefore
          << ", \"threads_open\": " << r.threadsOpen
          << ", \"threads_after_destroy\": " << r.threadsAfterDestroy
          << ", \"threads_after_deinit\": " << r.threadsAfterDeinit
          << ", \"threads_after_unload\": " << r.threadsAfterUnload
          << ", \"editor_shown\": " << boolText(r.editorShown)
          << ", \"editor_ready\": " << boolText(r.editorReady)
          << ", \"unloaded\": " << boolText(r.unloaded)
          << ", \"fds_after_destroy\": " << r.fdsAfterDestroy
          << ", \"timers_after_destroy\": " << r.timersAfterDestroy << "}";
    }
    j << "],\n    \"instances\": [";
    for (size_t i = 0; i < m.adopted.size(); ++i)
        j << (i ? ",\n      " : "\n      ") << m.instanceJson(*m.adopted[i]);
    j << "]\n  }";
    return j.str();
}

} // namespace vesk::host
