#include "VeskEditorSets.h"

#include "VeskPlugin.h"
#include "VeskVariationSet.h"

#include "export/VariationSetReaper.h"

#include <cstring>
#include <new>

namespace vesk {

VeskEditorSets::VeskEditorSets(VeskPlugin& plugin) : plugin_(plugin) {}

VeskEditorSets::~VeskEditorSets()
{
    if (runner_ != nullptr)
        runner_->cancel();
    runner_.reset(); // joins the set's thread
}

bool VeskEditorSets::start(const VariationSetRequest& request, bool insertIntoProject,
                           std::string& error)
{
    if (runner_ != nullptr && runner_->running()) {
        error = "a set is already being rendered";
        return false;
    }
    if (!validateSetRequest(request, error))
        return false;
    try {
        std::shared_ptr<VariationSetSource> source = captureVariationSet(plugin_, error);
        if (source == nullptr)
            return false;
        auto runner = std::make_unique<VariationSetRunner>();
        VariationSetRequest r = request;
        r.background = true; // live playback goes on beside it
        if (!runner->start(std::move(source), std::move(r), error))
            return false;
        runner_ = std::move(runner); // the previous set has ended: its thread is joined here
        insert_ = insertIntoProject;
        collected_ = false;
        return true;
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        return false;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

VariationSetControl::State VeskEditorSets::state() const
{
    if (runner_ == nullptr)
        return State::Idle;
    if (runner_->running())
        return State::Running;
    switch (runner_->outcome()) {
    case VariationSetRunner::Outcome::Finished:
        return State::Finished;
    case VariationSetRunner::Outcome::Failed:
        return State::Failed;
    case VariationSetRunner::Outcome::Cancelled:
        return State::Cancelled;
    case VariationSetRunner::Outcome::Running:
        break;
    }
    return State::Running;
}

int VeskEditorSets::done() const
{
    return runner_ != nullptr ? runner_->done() : 0;
}

int VeskEditorSets::total() const
{
    return runner_ != nullptr ? runner_->total() : 0;
}

void VeskEditorSets::cancel()
{
    if (runner_ != nullptr)
        runner_->cancel();
}

const VariationSetResult* VeskEditorSets::result()
{
    if (runner_ == nullptr || state() == State::Running)
        return nullptr;
    const VariationSetResult& r = runner_->result();
    if (!collected_) {
        collected_ = true;
        // A cancelled set's complete files are worth placing as well.
        if (insert_ && !r.files.empty())
            insertVariationSet(plugin_.reaperBridge, plugin_.host, plugin_.trackName, r);
    }
    return &r;
}

bool VeskEditorSets::canInsertIntoProject()
{
    return plugin_.reaperBridge.initialize(plugin_.host);
}

std::string VeskEditorSets::kitName() const
{
    const size_t n = strnlen(plugin_.trackName, sizeof plugin_.trackName);
    return n > 0 ? std::string(plugin_.trackName, n) : std::string("Vesk");
}

} // namespace vesk
