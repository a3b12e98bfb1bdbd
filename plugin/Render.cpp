// The render commands: capture under the lock, dry voices here, the rest on the worker.
#include "VeskPlugin.h"

#include "export/OfflineRender.h"
#include "export/RenderReport.h"

void VeskPlugin::startRender(bool mix)
{
    const std::string root = currentProjectRoot();
    vesk::RenderCapture capture;
    {
        std::lock_guard<std::mutex> lock(stateMutex);
        vesk::MasterFXState master;
        masterFx.exportState(master);
        vesk::captureRender(mix ? vesk::RenderKind::Mix : vesk::RenderKind::Stems, sampler,
                            lanes[0], lanes[1], bus1ToMaster, master, capture);
    }
    std::string why;
    const bool started = vesk::startRender(
        sampler, capture, root, [this](std::function<void()> job) { workers.post(std::move(job)); },
        [this](vesk::RenderResult result) {
            {
                std::lock_guard<std::mutex> lock(renderMutex);
                renderResults.push_back(std::move(result));
            }
            requestMainThreadCallback(this);
        },
        &why);
    exportReport =
        started ? vesk::describeRenderRunning(mix) : vesk::describeRenderNotStarted(mix, why);
}
