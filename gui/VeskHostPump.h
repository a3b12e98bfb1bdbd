// The editor's share of the host's main loop.
//
// Inside a plug-in nobody runs JUCE's message loop for us. On Linux JUCE waits on two descriptors
// of its own (its internal message socket and its X connection); until somebody reads them no
// window is painted and no timer or click is handled. So while an editor is open its instance
// registers those descriptors with the host (clap.posix-fd-support, read flag only: a socket is
// always writable) and a 16 ms host timer (clap.timer-support) that dispatches whatever is
// pending, including X events Xlib has already buffered. The set of descriptors is synced when
// the pump is made and whenever JUCE adds or removes one; everything is unregistered when the
// pump goes, before JUCE may shut down. On macOS JUCE lives on the host's Cocoa run loop and the
// pump does nothing.
#pragma once

#include "plugin/clap/Clap12.h"

#include <vector>

namespace vesk {

class GuiHostPump
{
public:
    // Whether the host lets an editor be pumped at all (on Linux: it offers timer support).
    static bool hostCanPump(const clap_host_t* host);

    // [main thread] Registers with the host; JUCE must be initialised.
    explicit GuiHostPump(const clap_host_t* host);
    ~GuiHostPump();
    GuiHostPump(const GuiHostPump&) = delete;
    GuiHostPump& operator=(const GuiHostPump&) = delete;

    // [main thread] The host's calls into the plug-in.
    void onFd(int fd, clap_posix_fd_flags_t flags);
    void onTimer(clap_id timerId);
    bool ownsTimer(clap_id timerId) const { return timerRegistered_ && timerId == timerId_; }

    // [main thread] Registers descriptors JUCE added, unregisters those it removed.
    void syncFds();

    // The host's side of the plug-in extensions (filled when the editor is built in).
    static const clap_plugin_timer_support_t timerSupport;
    static const clap_plugin_posix_fd_support_t posixFdSupport;

private:
    const clap_host_t* host_;
    const clap_host_timer_support_t* timers_ = nullptr;
    const clap_host_posix_fd_support_t* fds_ = nullptr;
    clap_id timerId_ = CLAP_INVALID_ID;
    bool timerRegistered_ = false;
    std::vector<int> registeredFds_;
};

// [main thread] Runs everything JUCE has pending: descriptors first (an X event already read
// into Xlib's queue shows on no descriptor), then queued messages, a bounded number of them so
// a flood of messages cannot hold the host's main thread.
void pumpPendingGuiWork();

} // namespace vesk
