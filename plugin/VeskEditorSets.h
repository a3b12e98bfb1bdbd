// The instance's side of the editor's variation sets: one set at a time, rendered from a copy of
// the instance taken when it starts, on the set's own lowered-priority threads.
#pragma once

#include "VariationSetControl.h"

#include "export/VariationSet.h"

#include <memory>

class VeskPlugin;

namespace vesk {

class VeskEditorSets final : public VariationSetControl
{
public:
    explicit VeskEditorSets(VeskPlugin& plugin);
    // Cancels a set still running and waits for its threads.
    ~VeskEditorSets() override;

    bool start(const VariationSetRequest& request, bool insertIntoProject,
               std::string& error) override;
    State state() const override;
    int done() const override;
    int total() const override;
    void cancel() override;
    const VariationSetResult* result() override;
    bool canInsertIntoProject() override;
    std::string kitName() const override;

private:
    VeskPlugin& plugin_;
    std::unique_ptr<VariationSetRunner> runner_;
    bool insert_ = false;
    bool collected_ = false;
};

} // namespace vesk
