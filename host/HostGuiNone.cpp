// vesk-host without a windowing system it can host editors in: the GUI options do not exist.
#include "host/HostGui.h"

namespace vesk::host {

struct GuiHost::Impl
{};

GuiHost::GuiHost() = default;
GuiHost::~GuiHost() = default;

const char* GuiHost::usage()
{
    return "";
}

bool GuiHost::parseOption(const std::string&, const std::function<std::string()>&, std::string&)
{
    return false;
}

std::string GuiHost::checkOptions() const
{
    return "";
}

bool GuiHost::editorRun() const
{
    return false;
}

void GuiHost::setInstances(int) {}

bool GuiHost::reloadRun() const
{
    return false;
}

bool GuiHost::install(HostOptions&, std::string& error)
{
    error = "this build of vesk-host cannot show editors";
    return false;
}

void GuiHost::runReloadCycles(const std::string&, const std::string&) {}

RenderStats GuiHost::run(PluginLibrary&, const std::string&, HostedPlugin&,
                         const std::vector<uint8_t>*, std::vector<TimedEvent>, uint32_t,
                         std::vector<float>&, std::vector<float>&)
{
    return {};
}

std::string GuiHost::json() const
{
    return "null";
}

} // namespace vesk::host
