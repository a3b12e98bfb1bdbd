#if defined(__linux__) || defined(__FreeBSD__)
#define JUCE_GUI_BASICS_INCLUDE_XHEADERS 1
#endif
#include "VeskJuceRuntime.h"

#include "VeskFonts.h"
#include "VeskGuiLog.h"
#include "VeskGuiPlatform.h"
#include "VeskLookAndFeel.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace vesk {

namespace {

struct Runtime
{
    bool initialised = false;
    std::unique_ptr<VeskLookAndFeel> lookAndFeel;
};

Runtime& runtime()
{
    static Runtime r;
    return r;
}

} // namespace

bool juceRuntime::ensureInitialised()
{
    Runtime& r = runtime();
    if (r.initialised)
        return true;
    try {
        if (!platform::prepareWindowSystem()) {
            guiLog("juceRuntime: no display");
            return false;
        }
        juce::initialiseJuce_GUI();
        juce::MessageManager::getInstance()->setCurrentThreadAsMessageThread();
#if JUCE_LINUX || JUCE_BSD
        // Opens JUCE's display now, so its error handlers can be wrapped before any window.
        if (!juce::XWindowSystem::getInstance()->isX11Available()) {
            guiLog("juceRuntime: JUCE could not open the display");
            juce::shutdownJuce_GUI();
            platform::releaseWindowSystem();
            return false;
        }
#endif
        platform::adoptWindowSystem();
        r.lookAndFeel = std::make_unique<VeskLookAndFeel>();
        r.lookAndFeel->setDefaultSansSerifTypefaceName(
            fonts::embedded() ? juce::String(fonts::kInterfaceName) : ".AppleSystemUIFont");
        juce::LookAndFeel::setDefaultLookAndFeel(r.lookAndFeel.get());
        r.initialised = true;
        guiLog("juceRuntime: initialised");
        return true;
    } catch (...) {
        guiLog("juceRuntime: initialisation threw");
        return false;
    }
}

bool juceRuntime::isInitialised()
{
    return runtime().initialised;
}

void juceRuntime::shutdown()
{
    Runtime& r = runtime();
    if (!r.initialised)
        return;
    juce::LookAndFeel::setDefaultLookAndFeel(nullptr);
    // Typefaces hold JUCE's font library: let go of every one before JUCE goes.
    fonts::releaseTypefaces();
    juce::Typeface::clearTypefaceCache();
    juce::shutdownJuce_GUI();
    r.lookAndFeel.reset();
    platform::releaseWindowSystem();
    r.initialised = false;
    guiLog("juceRuntime: shut down");
}

void juceRuntimeShutdown()
{
    juceRuntime::shutdown();
}

double guiPrimaryDisplayScale()
{
    const double desktop = platform::desktopScale();
    if (desktop > 0.0)
        return desktop;
    if (juceRuntime::isInitialised()) {
        if (const auto* display = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay())
            if (display->scale > 0.0)
                return display->scale;
    }
    return 1.0;
}

} // namespace vesk
