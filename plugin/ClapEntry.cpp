// The plug-in file's only exported symbol: clap_entry, its factory and the descriptor.
#include "VeskPlugin.h"

#if VESK_WITH_GUI
#include "gui/VeskGuiBridge.h"
#endif

#include <cstring>
#include <new>

namespace {

const char* s_features[] = {"instrument", "sampler", nullptr};

const clap_plugin_descriptor_t s_descriptor = {
    VESK_CLAP_VERSION_INIT,
    "com.halvoren.vesk",
    "Halvoren Vesk",
    "Halvoren",
    "",
    "",
    "",
    "0.1.0",
    "Creative layered sampler for sound design",
    s_features,
};

uint32_t getPluginCount(const clap_plugin_factory_t*)
{
    return 1;
}

const clap_plugin_descriptor_t* getPluginDescriptor(const clap_plugin_factory_t*, uint32_t index)
{
    return index == 0 ? &s_descriptor : nullptr;
}

const clap_plugin_t* createPlugin(const clap_plugin_factory_t*, const clap_host_t* host,
                                  const char* pluginId)
{
    if (host == nullptr || pluginId == nullptr || std::strcmp(pluginId, s_descriptor.id) != 0)
        return nullptr;
    void* storage = ::operator new(sizeof(VeskPlugin), std::align_val_t(64), std::nothrow);
    if (storage == nullptr)
        return nullptr;
    VeskPlugin* plugin = nullptr;
    try {
        plugin = new (storage) VeskPlugin(host);
    } catch (...) {
        // The only failure is the system refusing the worker thread.
        ::operator delete(storage, std::align_val_t(64));
        return nullptr;
    }
    plugin->clapPlugin.desc = &s_descriptor;
    return &plugin->clapPlugin;
}

const clap_plugin_factory_t s_factory = {getPluginCount, getPluginDescriptor, createPlugin};

// Loading the file opens no display and starts no thread: the editor starts with the first window.
bool init(const char*)
{
#if VESK_WITH_GUI
    VeskPlugin::guiHooks = vesk::editorGuiHooks();
#endif
    return true;
}

void deinit()
{
    VeskPlugin::shutdownProcessRuntime();
}

const void* getFactory(const char* factoryId)
{
    if (factoryId != nullptr && std::strcmp(factoryId, CLAP_PLUGIN_FACTORY_ID) == 0)
        return &s_factory;
    return nullptr;
}

} // namespace

// A const object at namespace scope needs the explicit extern to be visible at all.
extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {VESK_CLAP_VERSION_INIT, init, deinit,
                                                               getFactory};
