// The line the editor shows after "Export Stems" or "Export Mix": where the files went and how
// many were written, or why nothing was. Plain text for the user, built on the main thread.
#pragma once

#include "export/RenderResult.h"

#include <string>

namespace vesk {

struct RenderReport
{
    std::string text; // "" before the first export
    bool failed = false;
};

// While the job runs.
RenderReport describeRenderRunning(bool mix);
// The command could not start: `why` in words for the user.
RenderReport describeRenderNotStarted(bool mix, const std::string& why);
// A finished job. placed: the files were also put onto tracks of the host project.
RenderReport describeRender(const RenderResult& result, bool placed);

} // namespace vesk
