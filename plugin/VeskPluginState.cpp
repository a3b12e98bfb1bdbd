// The state extension: save and load of the whole instance.
#include "VeskPlugin.h"

// An empty stream until the state format exists.
bool VeskPlugin::clapStateSave(const clap_plugin_t* plugin, const clap_ostream_t* stream)
{
    return from(plugin) != nullptr && stream != nullptr;
}

bool VeskPlugin::clapStateLoad(const clap_plugin_t* plugin, const clap_istream_t* stream)
{
    return from(plugin) != nullptr && stream != nullptr;
}
