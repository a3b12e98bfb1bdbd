// macOS: JUCE runs on the host's Cocoa run loop, so there is nothing to pump.
#include "VeskHostPump.h"

namespace vesk {

namespace {
void clapOnTimer(const clap_plugin_t*, clap_id) {}
void clapOnFd(const clap_plugin_t*, int, clap_posix_fd_flags_t) {}
} // namespace

const clap_plugin_timer_support_t GuiHostPump::timerSupport = {clapOnTimer};
const clap_plugin_posix_fd_support_t GuiHostPump::posixFdSupport = {clapOnFd};

bool GuiHostPump::hostCanPump(const clap_host_t*)
{
    return true;
}

GuiHostPump::GuiHostPump(const clap_host_t* host) : host_(host) {}

GuiHostPump::~GuiHostPump() = default;

void GuiHostPump::onFd(int, clap_posix_fd_flags_t) {}

void GuiHostPump::onTimer(clap_id) {}

void GuiHostPump::syncFds() {}

void pumpPendingGuiWork() {}

} // namespace vesk
