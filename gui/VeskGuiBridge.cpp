#include "VeskGuiBridge.h"

#include "VeskGuiLayout.h"
#include "VeskGuiLog.h"
#include "VeskGuiPlatform.h"
#include "VeskHostPump.h"
#include "VeskJuceRuntime.h"
#include "VeskRootComponent.h"
#include "VeskSamplerEditor.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vesk {

namespace {

using namespace vesk::gui;

constexpr uint32_t kDesignWidth = layout::kDesignWidth;
constexpr uint32_t kDesignHeight = layout::kDesignHeight;

uint32_t scaled(uint32_t logical, double scale)
{
    return uint32_t(std::lround(double(logical) * scale));
}

const char* apiName(const char* api)
{
    return api != nullptr ? api : "(null)";
}

// ---------------------------------------------------------------------------------------------
// Embedded: the root is a child of the host's view.

class EmbeddedWindow final : public GuiWindow
{
public:
    explicit EmbeddedWindow(std::unique_ptr<VeskRootComponent> root) : root_(std::move(root))
    {
        root_->onScaleChanged = [this] { rescale(); };
    }

    ~EmbeddedWindow() override
    {
        root_->setVisible(false);
        if (root_->isOnDesktop())
            root_->removeFromDesktop();
        root_.reset();
        platform::flush();
    }

    bool setParentTo(void* nativeParent) override
    {
        if (nativeParent == nullptr)
            return false;
        parent_ = nativeParent;
        if (root_->isOnDesktop())
            root_->removeFromDesktop();
        root_->addToDesktop(0, nativeParent);
        root_->setTopLeftPosition(0, 0);
        root_->setVisible(true);
        // The host may map or reparent its window right after we return: the child window must
        // exist on the server by then.
        platform::flush();
        guiLog("EmbeddedWindow::setParentTo(%p) -> peer=%p size=%dx%d", nativeParent,
               static_cast<void*>(root_->getPeer()), root_->getWidth(), root_->getHeight());
        return root_->isOnDesktop();
    }

    void setTransientTo(void*) override {}
    void setTitle(const char*) override {}

    void show() override
    {
        root_->setVisible(true);
        if (root_->isShowing())
            root_->grabKeyboardFocus();
    }

    void hide() override { root_->setVisible(false); }

    void getSize(uint32_t& width, uint32_t& height) const override
    {
        const double s = root_->appliedScale();
        width = scaled(uint32_t(root_->getWidth()), s);
        height = scaled(uint32_t(root_->getHeight()), s);
    }

    bool setSize(uint32_t width, uint32_t height) override
    {
        const double s = root_->appliedScale();
        if (width == 0 || height == 0 || !(s > 0.0))
            return false;
        const int w = int(std::lround(double(width) / s));
        const int h = int(std::lround(double(height) / s));
        // Below the design size the panels would overlap: the editor keeps its smallest size.
        root_->setSize(std::max(w, int(kDesignWidth)), std::max(h, int(kDesignHeight)));
        return w >= int(kDesignWidth) && h >= int(kDesignHeight);
    }

    void setCloseCallback(std::function<void()>) override {}

    void setResizeRequestCallback(std::function<void(uint32_t, uint32_t)> callback) override
    {
        resizeRequest_ = std::move(callback);
    }

    void setHideRequestCallback(std::function<bool()> callback) override
    {
        // The host may hide or destroy the editor inside its answer, so it is asked after the
        // key handler has returned, and only while the root still exists.
        juce::Component::SafePointer<VeskRootComponent> root(root_.get());
        root_->onEscapeKey = [root, callback] {
            juce::MessageManager::callAsync([root, callback] {
                if (root == nullptr)
                    return;
                if (!callback || !callback())
                    guiLog("ESC: mac 兜底未实现");
            });
            return true;
        };
    }

    VeskRootComponent* root() const override { return root_.get(); }

    void minimumSize(uint32_t& width, uint32_t& height) const override
    {
        width = scaled(kDesignWidth, root_->appliedScale());
        height = scaled(kDesignHeight, root_->appliedScale());
    }

private:
    void rescale()
    {
        if (!resizeRequest_)
            return;
        uint32_t w = 0, h = 0;
        getSize(w, h);
        guiLog("scale changed -> request_resize %ux%u (scale=%.2f)", w, h, root_->appliedScale());
        resizeRequest_(w, h);
    }

    std::unique_ptr<VeskRootComponent> root_;
    std::function<void(uint32_t, uint32_t)> resizeRequest_;
    void* parent_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Floating: a window of the editor's own.

class FloatingDocWindow final : public juce::DocumentWindow
{
public:
    FloatingDocWindow(std::unique_ptr<VeskRootComponent> root, int width, int height)
        : juce::DocumentWindow("Halvoren Vesk", juce::Colour(colours::kRootBackground),
                               juce::DocumentWindow::closeButton, true),
          root_(root.get())
    {
        setUsingNativeTitleBar(true);
        setResizable(true, false);
        setResizeLimits(int(kDesignWidth), int(kDesignHeight), 1 << 14, 1 << 14);
        setContentOwned(root.release(), false);
        centreWithSize(width, height);
        setVisible(false);
    }

    void closeButtonPressed() override
    {
        setVisible(false);
        if (onClose)
            onClose();
    }

    // With no component focused the window itself gets the keys: they are the root's.
    bool keyPressed(const juce::KeyPress& key) override
    {
        return root_ != nullptr ? root_->keyPressed(key) : juce::DocumentWindow::keyPressed(key);
    }

    float getDesktopScaleFactor() const override
    {
#if defined(__APPLE__)
        return juce::DocumentWindow::getDesktopScaleFactor();
#else
        return root_ != nullptr ? root_->getDesktopScaleFactor() : 1.0f;
#endif
    }

    VeskRootComponent* root() const
    {
        return root_;
    }

    std::function<void()> onClose;

private:
    VeskRootComponent* root_; // owned as the window's content
};

class FloatingWindow final : public GuiWindow
{
public:
    explicit FloatingWindow(std::unique_ptr<FloatingDocWindow> window) : window_(std::move(window))
    {}

    ~FloatingWindow() override
    {
        window_->onClose = nullptr;
        window_->setVisible(false);
        if (window_->isOnDesktop())
            window_->removeFromDesktop();
        window_.reset();
        platform::flush();
    }

    bool setParentTo(void*) override { return false; }

    void setTransientTo(void* nativeWindow) override
    {
        platform::setTransientFor(window_->getWindowHandle(), nativeWindow);
    }

    void setTitle(const char* utf8) override
    {
        if (utf8 != nullptr && utf8[0] != '\0')
            window_->setName(juce::String::fromUTF8(utf8));
    }

    void show() override
    {
        window_->setVisible(true);
        window_->toFront(true);
        if (window_->root()->isShowing())
            window_->root()->grabKeyboardFocus();
    }

    void hide() override { window_->setVisible(false); }

    void getSize(uint32_t& width, uint32_t& height) const override
    {
        width = uint32_t(std::max(window_->getWidth(), 0));
        height = uint32_t(std::max(window_->getHeight(), 0));
    }

    bool setSize(uint32_t width, uint32_t height) override
    {
        if (width == 0 || height == 0)
            return false;
        const int w = int(std::min<uint32_t>(width, 1 << 14));
        const int h = int(std::min<uint32_t>(height, 1 << 14));
        window_->setSize(std::max(w, int(kDesignWidth)), std::max(h, int(kDesignHeight)));
        return w >= int(kDesignWidth) && h >= int(kDesignHeight);
    }

    void setCloseCallback(std::function<void()> callback) override
    {
        window_->onClose = std::move(callback);
    }

    void setResizeRequestCallback(std::function<void(uint32_t, uint32_t)>) override {}

    void setHideRequestCallback(std::function<bool()> callback) override
    {
        juce::Component::SafePointer<FloatingDocWindow> window(window_.get());
        window_->root()->onEscapeKey = [window, callback] {
            juce::MessageManager::callAsync([window, callback] {
                if (window == nullptr)
                    return;
                if (callback && callback())
                    return;
                // The host did not hide it: the editor hides itself and tells the host, as its
                // close button does.
                if (window != nullptr && window->isVisible())
                    window->closeButtonPressed();
            });
            return true;
        };
    }

    VeskRootComponent* root() const override { return window_->root(); }

    void minimumSize(uint32_t& width, uint32_t& height) const override
    {
        width = kDesignWidth;
        height = kDesignHeight;
    }

private:
    std::unique_ptr<FloatingDocWindow> window_;
};

// ---------------------------------------------------------------------------------------------
// Helpers of the CLAP functions

template <typename T> const T* hostExtension(const clap_host_t* host, const char* id)
{
    if (host == nullptr || host->get_extension == nullptr)
        return nullptr;
    return static_cast<const T*>(host->get_extension(host, id));
}

bool apiSupported(const VeskPlugin& self, const char* api, bool floating)
{
    bool ok = floating ? (api == nullptr || api[0] == '\0' ||
                          std::strcmp(api, platform::windowApi()) == 0)
                       : (api != nullptr && std::strcmp(api, platform::windowApi()) == 0);
    if (ok && !GuiHostPump::hostCanPump(self.host)) {
        // Without a timer nobody would ever run the editor's events: a frozen window.
        guiLog("gui: the host offers no clap.timer-support; the editor cannot run");
        ok = false;
    }
    guiLog("gui.is_api_supported(api=%s, floating=%d) -> %d", apiName(api), floating ? 1 : 0,
           ok ? 1 : 0);
    return ok;
}

double hostOrDisplayScale(const VeskPlugin& self)
{
    return self.guiHostScale > 0.0 ? self.guiHostScale : guiPrimaryDisplayScale();
}

void destroyWindow(VeskPlugin& self)
{
    if (self.guiWindow != nullptr) {
        delete self.guiWindow;
        self.guiWindow = nullptr;
        platform::endEditorWindow();
    }
    delete self.guiPump;
    self.guiPump = nullptr;
    // No "closed" for a window that no longer exists.
    self.guiClosedPending.store(false, std::memory_order_relaxed);
}

void destroyEditorHook(VeskPlugin& self)
{
    if (self.guiWindow != nullptr || self.guiPump != nullptr) {
        guiLog("instance destroyed with its editor open: closing it");
        destroyWindow(self);
    }
}

void titleChangedHook(VeskPlugin& self)
{
    if (self.guiWindow != nullptr)
        self.guiWindow->setTitle(self.windowTitle().c_str());
}

void logHook(const char* message)
{
    guiLog("%s", message);
}

const clap_plugin_gui_t s_guiTable = {
    VeskPlugin::clapGuiIsApiSupported, VeskPlugin::clapGuiGetPreferredApi,
    VeskPlugin::clapGuiCreate,         VeskPlugin::clapGuiDestroy,
    VeskPlugin::clapGuiSetScale,       VeskPlugin::clapGuiGetSize,
    VeskPlugin::clapGuiCanResize,      VeskPlugin::clapGuiGetResizeHints,
    VeskPlugin::clapGuiAdjustSize,     VeskPlugin::clapGuiSetSize,
    VeskPlugin::clapGuiSetParent,      VeskPlugin::clapGuiSetTransient,
    VeskPlugin::clapGuiSuggestTitle,   VeskPlugin::clapGuiShow,
    VeskPlugin::clapGuiHide,
};

const VeskGuiHooks s_hooks = {
    &s_guiTable,       &GuiHostPump::timerSupport, &GuiHostPump::posixFdSupport,
    destroyEditorHook, titleChangedHook,           juceRuntimeShutdown,
    logHook,
};

} // namespace

const VeskGuiHooks* editorGuiHooks()
{
    return &s_hooks;
}

std::unique_ptr<VeskRootComponent> makeRoot(int width, int height, VeskBackend& backend,
                                            std::function<double()> hostScale)
{
    auto root = std::make_unique<VeskRootComponent>(std::move(hostScale));
    root->setSize(width, height);
    auto editor = std::make_unique<VeskSamplerEditor>(backend);
    VeskSamplerEditor* e = editor.get();
    root->setContent(std::move(editor));
    root->onSpaceKey = [e] {
        e->togglePlayback();
        return true;
    };
    root->onRandomKey = [e] {
        e->triggerRandom();
        return true;
    };
    return root;
}

std::unique_ptr<GuiWindow> createGuiWindow(GuiMode mode, uint32_t width, uint32_t height,
                                           VeskBackend& backend, std::function<double()> hostScale)
{
    if (!juceRuntime::ensureInitialised()) {
        guiLog("createGuiWindow: juce init FAILED");
        return nullptr;
    }
    platform::beginEditorWindow();
    try {
        auto root = makeRoot(int(width), int(height), backend, std::move(hostScale));
        if (mode == GuiMode::Embedded)
            return std::make_unique<EmbeddedWindow>(std::move(root));
        auto window = std::make_unique<FloatingDocWindow>(std::move(root), int(width), int(height));
        return std::make_unique<FloatingWindow>(std::move(window));
    } catch (...) {
        guiLog("createGuiWindow: threw");
        platform::endEditorWindow();
        return nullptr;
    }
}

} // namespace vesk

// ---------------------------------------------------------------------------------------------
// The CLAP GUI functions of the instance

using vesk::guiLog;

bool VeskPlugin::clapGuiIsApiSupported(const clap_plugin_t* plugin, const char* api,
                                       bool isFloating)
{
    const VeskPlugin* self = from(plugin);
    return self != nullptr && vesk::apiSupported(*self, api, isFloating);
}

bool VeskPlugin::clapGuiGetPreferredApi(const clap_plugin_t*, const char** api, bool* isFloating)
{
    if (api == nullptr || isFloating == nullptr)
        return false;
    *api = vesk::platform::windowApi();
    *isFloating = false;
    guiLog("gui.get_preferred_api -> %s, floating=0", *api);
    return true;
}

bool VeskPlugin::clapGuiCreate(const clap_plugin_t* plugin, const char* api, bool isFloating)
{
    VeskPlugin* self = from(plugin);
    guiLog("gui.create(api=%s, floating=%d)", vesk::apiName(api), isFloating ? 1 : 0);
    if (self == nullptr || !vesk::apiSupported(*self, api, isFloating))
        return false;
    if (self->guiWindow != nullptr)
        return true;
    self->guiFloating = isFloating;
    if (!vesk::juceRuntime::ensureInitialised()) {
        guiLog("createGuiWindow: juce init FAILED");
        guiLog("gui.create -> createGuiWindow returned null");
        return false;
    }
    // The host's loop drives JUCE from here on; the window is built with it in place.
    self->guiPump = new vesk::GuiHostPump(self->host);
    auto window =
        vesk::createGuiWindow(isFloating ? vesk::GuiMode::Floating : vesk::GuiMode::Embedded,
                              vesk::gui::layout::kDesignWidth, vesk::gui::layout::kDesignHeight,
                              self->backend, [self] { return self->guiHostScale; });
    if (window == nullptr) {
        guiLog("gui.create -> createGuiWindow returned null");
        delete self->guiPump;
        self->guiPump = nullptr;
        return false;
    }
    const clap_host_t* host = self->host;
    window->setResizeRequestCallback([host](uint32_t w, uint32_t h) {
        const auto* gui = vesk::hostExtension<clap_host_gui_t>(host, CLAP_EXT_GUI);
        if (gui != nullptr && gui->request_resize != nullptr)
            gui->request_resize(host, w, h);
    });
    window->setHideRequestCallback([host] {
        const auto* gui = vesk::hostExtension<clap_host_gui_t>(host, CLAP_EXT_GUI);
        return gui != nullptr && gui->request_hide != nullptr && gui->request_hide(host);
    });
    if (isFloating) {
        window->setCloseCallback([self] {
            self->guiClosedPending.store(true, std::memory_order_release);
            requestMainThreadCallback(self);
        });
        if (self->trackName[0] != '\0')
            window->setTitle(self->windowTitle().c_str());
    }
    self->guiWindow = window.release();
    guiLog("gui.create -> ok (mode=%s)", isFloating ? "floating" : "embedded");
    return true;
}

void VeskPlugin::clapGuiDestroy(const clap_plugin_t* plugin)
{
    VeskPlugin* self = from(plugin);
    guiLog("gui.destroy");
    if (self != nullptr)
        vesk::destroyWindow(*self);
}

bool VeskPlugin::clapGuiSetScale(const clap_plugin_t* plugin, double scale)
{
#if defined(__APPLE__)
    (void)plugin;
    (void)scale;
    return false; // Cocoa works in points; the system scales
#else
    VeskPlugin* self = from(plugin);
    const bool ok = self != nullptr && std::isfinite(scale) && scale >= 0.25 && scale <= 8.0;
    guiLog("gui.set_scale(%.3f) -> %d", scale, ok ? 1 : 0);
    if (!ok)
        return false;
    self->guiHostScale = scale;
    if (self->guiWindow != nullptr)
        if (VeskRootComponent* root = self->guiWindow->root())
            root->refreshScale(false);
    return true;
#endif
}

bool VeskPlugin::clapGuiGetSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height)
{
    const VeskPlugin* self = from(plugin);
    if (self == nullptr || width == nullptr || height == nullptr)
        return false;
    if (self->guiWindow != nullptr) {
        uint32_t w = 0, h = 0;
        self->guiWindow->getSize(w, h);
        if (w != 0 && h != 0) {
            *width = w;
            *height = h;
            return true;
        }
    }
    const double scale = vesk::hostOrDisplayScale(*self);
    *width = uint32_t(scale * vesk::gui::layout::kDesignWidth);
    *height = uint32_t(scale * vesk::gui::layout::kDesignHeight);
    guiLog("gui.get_size -> %ux%u (design, scale=%.2f)", *width, *height, scale);
    return true;
}

bool VeskPlugin::clapGuiCanResize(const clap_plugin_t*)
{
    return true;
}

bool VeskPlugin::clapGuiGetResizeHints(const clap_plugin_t*, clap_gui_resize_hints_t* hints)
{
    if (hints == nullptr)
        return false;
    hints->can_resize_horizontally = true;
    hints->can_resize_vertically = true;
    hints->preserve_aspect_ratio = false;
    hints->aspect_ratio_width = 0;
    hints->aspect_ratio_height = 0;
    return true;
}

bool VeskPlugin::clapGuiAdjustSize(const clap_plugin_t* plugin, uint32_t* width, uint32_t* height)
{
    const VeskPlugin* self = from(plugin);
    if (self == nullptr || width == nullptr || height == nullptr)
        return false;
    uint32_t minW = 0, minH = 0;
    if (self->guiWindow != nullptr) {
        self->guiWindow->minimumSize(minW, minH);
    } else {
        const double scale = vesk::hostOrDisplayScale(*self);
        minW = vesk::scaled(vesk::gui::layout::kDesignWidth, scale);
        minH = vesk::scaled(vesk::gui::layout::kDesignHeight, scale);
    }
    *width = std::max(*width, minW);
    *height = std::max(*height, minH);
    return true;
}

bool VeskPlugin::clapGuiSetSize(const clap_plugin_t* plugin, uint32_t width, uint32_t height)
{
    VeskPlugin* self = from(plugin);
    guiLog("gui.set_size(%ux%u)", width, height);
    return self != nullptr && self->guiWindow != nullptr && self->guiWindow->setSize(width, height);
}

bool VeskPlugin::clapGuiSetParent(const clap_plugin_t* plugin, const clap_window_t* window)
{
    VeskPlugin* self = from(plugin);
    void* handle = nullptr;
    if (window != nullptr) {
#if defined(__APPLE__)
        handle = window->cocoa;
#else
        handle = reinterpret_cast<void*>(uintptr_t(window->x11));
#endif
    }
    guiLog("gui.set_parent(api=%s, handle=%p)",
           window != nullptr ? vesk::apiName(window->api) : "-", handle);
    if (self == nullptr || handle == nullptr || self->guiWindow == nullptr)
        return false;
    const bool ok = self->guiWindow->setParentTo(handle);
    guiLog("gui.set_parent -> %d", ok ? 1 : 0);
    return ok;
}

bool VeskPlugin::clapGuiSetTransient(const clap_plugin_t* plugin, const clap_window_t* window)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr || window == nullptr || self->guiWindow == nullptr || !self->guiFloating)
        return false;
#if defined(__APPLE__)
    self->guiWindow->setTransientTo(window->cocoa);
#else
    self->guiWindow->setTransientTo(reinterpret_cast<void*>(uintptr_t(window->x11)));
#endif
    return true;
}

void VeskPlugin::clapGuiSuggestTitle(const clap_plugin_t* plugin, const char* title)
{
    VeskPlugin* self = from(plugin);
    if (self == nullptr || self->guiWindow == nullptr)
        return;
    if (self->trackName[0] != '\0')
        self->guiWindow->setTitle(self->windowTitle().c_str());
    else
        self->guiWindow->setTitle(title);
}

bool VeskPlugin::clapGuiShow(const clap_plugin_t* plugin)
{
    VeskPlugin* self = from(plugin);
    guiLog("gui.show (window=%p)", self != nullptr ? static_cast<void*>(self->guiWindow) : nullptr);
    if (self == nullptr || self->guiWindow == nullptr)
        return false;
    self->guiWindow->show();
    return true;
}

bool VeskPlugin::clapGuiHide(const clap_plugin_t* plugin)
{
    VeskPlugin* self = from(plugin);
    guiLog("gui.hide");
    if (self == nullptr || self->guiWindow == nullptr)
        return false;
    self->guiWindow->hide();
    return true;
}
