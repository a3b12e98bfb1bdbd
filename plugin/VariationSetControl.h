// The editor's handle on variation sets of its instance (export/VariationSet.h): start one from
// the instance as it is now, poll it, cancel it, read how it ended. The instance implements it
// (VeskEditorSets); the editor reaches it through VeskBackend::sets and never holds the set
// itself, so closing the editor leaves nothing running behind a dead window.
#pragma once

#include <cstdint>
#include <string>

namespace vesk {

struct VariationSetRequest;
struct VariationSetResult;

class VariationSetControl
{
public:
    enum class State : uint8_t
    {
        Idle, // nothing started yet
        Running,
        Finished,
        Failed,
        Cancelled,
    };

    virtual ~VariationSetControl() = default;

    // [main thread] Starts a set of the instance as it is now; with insertIntoProject the files
    // go onto new tracks of the host's project when it ends (inside REAPER). False with a
    // one-line reason, and nothing started, when a set already runs or the request or the kit
    // cannot be rendered.
    virtual bool start(const VariationSetRequest& request, bool insertIntoProject,
                       std::string& error) = 0;
    // [any thread] How far the set is, without waiting for anything.
    virtual State state() const = 0;
    virtual int done() const = 0;
    virtual int total() const = 0;
    // [any thread] Asks a running set to stop; only complete files stay.
    virtual void cancel() = 0;
    // [main thread] Once the state is no longer Running: how the last set ended, with its files
    // inserted into the project first when that was asked for (once). Null before any set.
    virtual const VariationSetResult* result() = 0;
    // [main thread] Whether finished files can be inserted into the host's project.
    virtual bool canInsertIntoProject() = 0;
    // [main thread] What {kit} stands for in file names: the track's name, or "Vesk".
    virtual std::string kitName() const = 0;
};

} // namespace vesk
