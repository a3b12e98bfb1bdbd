// The editor's window and the CLAP GUI functions.
//
// The host sees one editor window per instance, embedded into a view the host gives (an X11
// window on Linux, an NSView on macOS) or floating in a window of its own. GuiWindow hides which
// of the two it is; the CLAP functions of VeskPlugin (clapGui*, defined in VeskGuiBridge.cpp)
// drive it. Everything here runs on the host's main thread.
#pragma once

#include "plugin/VeskPlugin.h"

#include <cstdint>
#include <functional>
#include <memory>

class VeskRootComponent;

namespace vesk {

enum class GuiMode
{
    Embedded = 0,
    Floating = 1,
};

class GuiWindow
{
public:
    virtual ~GuiWindow() = default;
    virtual bool setParentTo(void* nativeParent) = 0;
    virtual void setTransientTo(void* nativeWindow) = 0;
    virtual void setTitle(const char* utf8) = 0;
    virtual void show() = 0;
    virtual void hide() = 0;
    // Physical pixels for an embedded window, the window's own size for a floating one.
    virtual void getSize(uint32_t& width, uint32_t& height) const = 0;
    virtual bool setSize(uint32_t width, uint32_t height) = 0;
    virtual void setCloseCallback(std::function<void()> callback) = 0;
    virtual void setResizeRequestCallback(std::function<void(uint32_t, uint32_t)> callback) = 0;
    virtual void setHideRequestCallback(std::function<bool()> callback) = 0;

    // The root component (the editor's parent), for the scale and for tests.
    virtual VeskRootComponent* root() const = 0;
    // The smallest size the window takes, in the same units as getSize.
    virtual void minimumSize(uint32_t& width, uint32_t& height) const = 0;
};

// [main thread] A window of the given mode holding a new editor for the backend; null when the
// window system cannot be started. hostScale gives the scale the host set (0 for none).
std::unique_ptr<GuiWindow> createGuiWindow(GuiMode mode, uint32_t width, uint32_t height,
                                           VeskBackend& backend,
                                           std::function<double()> hostScale = {});

// [main thread] A root of width x height logical pixels carrying a new editor, with Space and R
// bound to the editor's playback toggle and random trigger.
std::unique_ptr<VeskRootComponent> makeRoot(int width, int height, VeskBackend& backend,
                                            std::function<double()> hostScale = {});

// What the plug-in file installs as VeskPlugin::guiHooks.
const VeskGuiHooks* editorGuiHooks();

} // namespace vesk
