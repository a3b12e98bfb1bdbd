#include "VeskHostPump.h"

#include "VeskGuiLog.h"
#include "plugin/VeskPlugin.h"

#include <juce_events/juce_events.h>
#include <juce_events/native/juce_linux_EventLoopInternal.h>

#include <algorithm>

namespace juce {
// JUCE's dispatcher of one pending message (juce_linux_Messaging.cpp); not in its headers.
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
} // namespace juce

namespace vesk {

namespace {

constexpr uint32_t kTimerPeriodMs = 20; // 50 Hz: every frame of JUCE's 30 Hz work, little else
constexpr int kMaxMessagesPerPump = 256;

// Every live pump, told when JUCE's set of descriptors changes. Main thread only.
class FdWatch final : private juce::LinuxEventLoopInternal::Listener
{
public:
    static FdWatch& instance()
    {
        static FdWatch watch;
        return watch;
    }

    void add(GuiHostPump* pump)
    {
        if (pumps_.empty())
            juce::LinuxEventLoopInternal::registerLinuxEventLoopListener(*this);
        pumps_.push_back(pump);
    }

    void remove(GuiHostPump* pump)
    {
        pumps_.erase(std::remove(pumps_.begin(), pumps_.end(), pump), pumps_.end());
        if (pumps_.empty())
            juce::LinuxEventLoopInternal::deregisterLinuxEventLoopListener(*this);
    }

private:
    void fdCallbacksChanged() override
    {
        const std::vector<GuiHostPump*> pumps = pumps_;
        for (GuiHostPump* p : pumps)
            p->syncFds();
    }

    std::vector<GuiHostPump*> pumps_;
};

template <typename T> const T* hostExtension(const clap_host_t* host, const char* id)
{
    if (host == nullptr || host->get_extension == nullptr)
        return nullptr;
    return static_cast<const T*>(host->get_extension(host, id));
}

GuiHostPump* pumpOf(const clap_plugin_t* plugin)
{
    VeskPlugin* self = VeskPlugin::from(plugin);
    return self != nullptr ? self->guiPump : nullptr;
}

void clapOnTimer(const clap_plugin_t* plugin, clap_id timerId)
{
    if (GuiHostPump* pump = pumpOf(plugin))
        pump->onTimer(timerId);
}

void clapOnFd(const clap_plugin_t* plugin, int fd, clap_posix_fd_flags_t flags)
{
    if (GuiHostPump* pump = pumpOf(plugin))
        pump->onFd(fd, flags);
}

} // namespace

const clap_plugin_timer_support_t GuiHostPump::timerSupport = {clapOnTimer};
const clap_plugin_posix_fd_support_t GuiHostPump::posixFdSupport = {clapOnFd};

bool GuiHostPump::hostCanPump(const clap_host_t* host)
{
    const auto* timers = hostExtension<clap_host_timer_support_t>(host, CLAP_EXT_TIMER_SUPPORT);
    return timers != nullptr && timers->register_timer != nullptr &&
           timers->unregister_timer != nullptr;
}

GuiHostPump::GuiHostPump(const clap_host_t* host) : host_(host)
{
    timers_ = hostExtension<clap_host_timer_support_t>(host, CLAP_EXT_TIMER_SUPPORT);
    fds_ = hostExtension<clap_host_posix_fd_support_t>(host, CLAP_EXT_POSIX_FD_SUPPORT);
    if (fds_ != nullptr && (fds_->register_fd == nullptr || fds_->unregister_fd == nullptr))
        fds_ = nullptr;
    if (timers_ != nullptr && timers_->register_timer != nullptr) {
        clap_id id = CLAP_INVALID_ID;
        timerRegistered_ = timers_->register_timer(host_, kTimerPeriodMs, &id);
        timerId_ = id;
    }
    guiLog("pump: timer %s (id %u), fd support %s", timerRegistered_ ? "registered" : "refused",
           unsigned(timerId_), fds_ != nullptr ? "offered" : "absent");
    FdWatch::instance().add(this);
    syncFds();
}

GuiHostPump::~GuiHostPump()
{
    FdWatch::instance().remove(this);
    if (fds_ != nullptr)
        for (int fd : registeredFds_)
            fds_->unregister_fd(host_, fd);
    registeredFds_.clear();
    if (timerRegistered_ && timers_ != nullptr && timers_->unregister_timer != nullptr)
        timers_->unregister_timer(host_, timerId_);
    timerRegistered_ = false;
}

void GuiHostPump::syncFds()
{
    if (fds_ == nullptr)
        return;
    std::vector<int> wanted = juce::LinuxEventLoopInternal::getRegisteredFds();
    std::sort(wanted.begin(), wanted.end());
    for (int fd : registeredFds_)
        if (!std::binary_search(wanted.begin(), wanted.end(), fd))
            fds_->unregister_fd(host_, fd);
    std::vector<int> now;
    for (int fd : wanted) {
        if (std::find(registeredFds_.begin(), registeredFds_.end(), fd) != registeredFds_.end() ||
            fds_->register_fd(host_, fd, CLAP_POSIX_FD_READ))
            now.push_back(fd);
        else
            guiLog("pump: host refused fd %d", fd);
    }
    registeredFds_ = std::move(now);
}

void GuiHostPump::onFd(int fd, clap_posix_fd_flags_t)
{
    juce::LinuxEventLoopInternal::invokeEventLoopCallbackForFd(fd);
}

void GuiHostPump::onTimer(clap_id timerId)
{
    if (ownsTimer(timerId))
        pumpPendingGuiWork();
}

void pumpPendingGuiWork()
{
    for (int fd : juce::LinuxEventLoopInternal::getRegisteredFds())
        juce::LinuxEventLoopInternal::invokeEventLoopCallbackForFd(fd);
    for (int i = 0; i < kMaxMessagesPerPump; ++i)
        if (!juce::dispatchNextMessageOnSystemQueue(true))
            break;
}

} // namespace vesk
