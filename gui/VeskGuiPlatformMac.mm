// macOS: JUCE runs on the host's Cocoa run loop and knows the display's scale itself.
#include "VeskGuiPlatform.h"

#import <Cocoa/Cocoa.h>

namespace vesk::platform {

const char* windowApi()
{
    return "cocoa";
}

bool prepareWindowSystem()
{
    return true;
}

void adoptWindowSystem() {}

void releaseWindowSystem() {}

double desktopScale()
{
    return 0.0;
}

void flush() {}

bool setTransientFor(void* editorWindow, void* hostWindow)
{
    // Both are NSView handles; the editor's window becomes a child of the host's.
    NSView* editor = (__bridge NSView*)editorWindow;
    NSView* host = (__bridge NSView*)hostWindow;
    if (editor == nil || host == nil || [editor window] == nil || [host window] == nil)
        return false;
    [[host window] addChildWindow:[editor window] ordered:NSWindowAbove];
    return true;
}

} // namespace vesk::platform
