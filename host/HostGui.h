// The editor side of vesk-host: what a desktop host does to show a plug-in's window.
//
// It offers the host extensions clap.gui, clap.posix-fd-support and clap.timer-support, walks the
// plug-in's GUI through its lifecycle (embedded in a top-level window of the host, or floating in
// a window of its own), and runs in real time while the editor is open: the main thread waits in
// poll() on the descriptors the plug-in registered, its timers and the host's own window, and
// services main-thread callbacks; an audio thread processes blocks paced to the wall clock. It
// also loads and unloads the plug-in file repeatedly, counting the process's threads, to show
// that nothing outlives clap_entry.deinit.
//
// Everything it saw (the plug-in's answers, registrations, calls into the host, wake-ups) goes
// into the "gui" object of the run's JSON summary, for scripts and tests.
//
// Platforms: X11 on Linux. Elsewhere the options do not exist (parseOption takes none).
#pragma once

#include "host/ClapHost.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vesk::host {

class GuiHost
{
public:
    GuiHost();
    ~GuiHost();
    GuiHost(const GuiHost&) = delete;
    GuiHost& operator=(const GuiHost&) = delete;

    // The usage lines of the GUI options ("" where the platform has none).
    static const char* usage();

    // Takes `arg` when it is one of the GUI options, fetching its value through `value`; sets
    // `error` for a bad value. False for an option that is not one of them.
    bool parseOption(const std::string& arg, const std::function<std::string()>& value,
                     std::string& error);

    // After parsing: an error for options that only make sense with --gui, "" when fine.
    std::string checkOptions() const;

    // --gui was given: run() replaces the offline render.
    bool editorRun() const;
    // How many instances run() opens editors in (--instances of the host), from 1.
    void setInstances(int count);
    // --reload-cycles was given.
    bool reloadRun() const;

    // Adds the GUI host extensions and the main-loop wake-up to `options`; call it after every
    // other extension is set up and before any instance is created. False (with the reason in
    // `error`) when the display cannot be opened.
    bool install(HostOptions& options, std::string& error);

    // --reload-cycles: loads the plug-in file, creates an instance, opens and closes its editor,
    // destroys it and unloads the file, that many times. Throws std::runtime_error when a load
    // fails.
    void runReloadCycles(const std::string& path, const std::string& pluginId);

    // The real-time run with the editor open, replacing HostedPlugin::render: `first` is the
    // activated instance; further instances (--instances) are created from `library` with the
    // same options and `state` (null for none) and activated alike. The events play from the
    // first block; the first instance's output is appended to left and right.
    RenderStats run(PluginLibrary& library, const std::string& pluginId, HostedPlugin& first,
                    const std::vector<uint8_t>* state, std::vector<TimedEvent> events,
                    uint32_t blockSize, std::vector<float>& left, std::vector<float>& right);

    // The "gui" object of the summary.
    std::string json() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace vesk::host
