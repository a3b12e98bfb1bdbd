// What the editor needs from the window system beyond JUCE, one small file per platform
// (VeskGuiPlatformX11.cpp, VeskGuiPlatformMac.mm).
#pragma once

namespace vesk::platform {

// The CLAP window API the editor embeds into: "x11" on Linux, "cocoa" on macOS.
const char* windowApi();

// [main thread] Before JUCE opens its display: makes sure the window system is ready for it
// (on X11: the atoms JUCE only looks up exist, even without a window manager) and remembers the
// process's own error handlers. False when there is no display to open.
bool prepareWindowSystem();
// [main thread] Right after JUCE opened its display: errors on the editor's own connection are
// ignored (windows the host already destroyed), everything else goes to the process's handlers.
void adoptWindowSystem();
// [main thread] After JUCE shut down: the process's handlers as they were before.
void releaseWindowSystem();

// The display's scale from the desktop settings (X11: Xft.dpi / 96, else GDK_SCALE), or 0 when
// the platform leaves it to JUCE. Opens no connection of its own once JUCE runs.
double desktopScale();

// [main thread] Sends what is queued on the editor's connection to the server.
void flush();
// [main thread] Keeps a floating window above the host window it belongs to.
bool setTransientFor(void* editorWindow, void* hostWindow);

} // namespace vesk::platform
