// A stand-in for REAPER inside vesk-host: an in-memory project the plug-in's REAPER bridge can
// read and change, reached through the host extension "cockos.reaper_extension".
//
// Design: REAPER's API is a set of plain C functions looked up by name, without a context
// argument, so the fake answers them through one process-wide active instance (the most recently
// constructed one still alive). It keeps what the bridge relies on and nothing more: tracks with
// names, folder depths, mute switches and FX names; items with their files, positions and
// lengths; item and track selection; the edit cursor; undo blocks with their names; the UI
// refresh freeze count; the console. Every call is logged. Any function can be left out (the
// look-up then answers null) or made to throw on a chosen call, to drive the failure paths.
//
// Threads: everything runs on the thread that plays the host's main thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace vesk::host {

class FakeReaper
{
public:
    struct Item
    {
        std::string file;
        double position = 0.0; // seconds
        double length = 0.0;   // seconds
        bool selected = false;
    };

    struct Track
    {
        std::string name;
        int folderDepth = 0; // change of folder depth after this track: 1 opens, -1 closes
        bool muted = false;
        bool selected = false;
        std::vector<std::string> fx; // FX names
        std::vector<std::unique_ptr<Item>> items;
    };

    FakeReaper();
    ~FakeReaper();
    FakeReaper(const FakeReaper&) = delete;
    FakeReaper& operator=(const FakeReaper&) = delete;

    // The host extension record for "cockos.reaper_extension", null for any other id. Plug into
    // HostOptions::extraExtension.
    const void* extension(const char* id) const;

    // Appends a track; returns its index.
    int addTrack(const std::string& name, std::vector<std::string> fx = {}, int folderDepth = 0);
    // The FX name a track carries when it holds this plug-in.
    static constexpr const char* kPluginFxName = "CLAP: Halvoren Vesk (Halvoren)";

    // The look-up answers null for this function from now on / again answers it.
    void omit(const std::string& function);
    void restore(const std::string& function);
    // The function throws std::runtime_error on its n-th call from now (1 = the next one).
    void throwOnCall(const std::string& function, int nthCall = 1);

    // Number of logged calls of a function.
    int callCount(const std::string& function) const;
    // The logged calls' function names, in order.
    std::vector<std::string> callNames() const;
    // Index of a track in the project, -1 when it is not one.
    int indexOf(const Track* track) const;
    // The track a track is a direct child of (by folder depths), -1 at the top level.
    int parentOf(int trackIndex) const;

    // The project as JSON: cursor, path, tracks (name, depth, parent, mute, fx, items), undo
    // steps, console text, open undo blocks, refresh freeze count, calls.
    std::string json() const;

    std::vector<std::unique_ptr<Track>> tracks;
    std::string projectPath; // answered by GetProjectPathEx
    double cursor = 0.0;     // edit cursor, seconds
    std::vector<std::string> undoSteps;
    std::string console;
    int openUndoBlocks = 0;
    int refreshFreeze = 0;
    int arrangeUpdates = 0;
    std::vector<std::string> calls; // "Name(arguments)"

    // [internal] the active instance's bookkeeping for the C functions.
    static FakeReaper* active();
    void logCall(const std::string& name, const std::string& args);
    Track* track(const void* handle) const;
    Item* item(const void* handle) const;

private:
    struct PluginInfoRecord
    {
        int callerVersion;
        void* hwndMain;
        int (*Register)(const char*, void*);
        void* (*GetFunc)(const char*);
    };
    static void* getFunc(const char* name);

    PluginInfoRecord info_{};
    std::set<std::string> omitted_;
    std::map<std::string, int> throwCountdown_;
    FakeReaper* previous_ = nullptr;
};

// Length in seconds of a WAV file's audio, 0 when it cannot be read.
double wavFileSeconds(const std::string& path);

} // namespace vesk::host
