#include "export/RenderReport.h"

namespace vesk {

RenderReport describeRenderRunning(bool mix)
{
    return {mix ? "Exporting the mix\xe2\x80\xa6" : "Exporting stems\xe2\x80\xa6", false};
}

RenderReport describeRenderNotStarted(bool mix, const std::string& why)
{
    return {std::string(mix ? "Export Mix" : "Export Stems") + " failed: " + why, true};
}

RenderReport describeRender(const RenderResult& r, bool placed)
{
    const std::string& folder = r.outputFolder;
    const std::string why =
        r.failure.empty() ? std::string("the file could not be written") : r.failure;
    if (r.soundingPools <= 0)
        return {std::string("Nothing to export: no pool has sounded yet (trigger one first)"),
                true};
    if (r.isMix) {
        if (r.mixFile.empty())
            return {"Export Mix failed: nothing could be written to " + folder + " (" + why + ")",
                    true};
        return {"Mix written to " + folder + (placed ? " and placed on this track" : ""), false};
    }
    int written = 0;
    for (const std::string& file : r.stemFiles)
        written += file.empty() ? 0 : 1;
    if (written == 0)
        return {"Export Stems failed: nothing could be written to " + folder + " (" + why + ")",
                true};
    const std::string count = std::to_string(written) + (written == 1 ? " stem" : " stems");
    if (written < r.soundingPools)
        return {count + " of " + std::to_string(r.soundingPools) + " written to " + folder +
                    "; the others failed (" + why + ")",
                true};
    return {count + " written to " + folder + (placed ? " and placed on the pool tracks" : ""),
            false};
}

} // namespace vesk
