// The process-wide JUCE runtime of the editor.
//
// Every instance in the process shares one JUCE: it starts on the first editor (or the first
// size query that needs the display) and shuts down only at clap_entry.deinit, never while an
// instance might still open an editor. Scanning hosts load hundreds of plug-ins: nothing here runs
// at load time, so loading the plug-in opens no display and starts no thread.
#pragma once

namespace vesk {

namespace juceRuntime {
// [main thread] Starts JUCE's GUI subsystem on the calling thread and installs the editor's
// look-and-feel; true at once when already running. False (and nothing left running) when it
// cannot start, for instance without a display.
bool ensureInitialised();
bool isInitialised();
// [main thread] Shuts JUCE down and restores what it changed in the process.
void shutdown();
} // namespace juceRuntime

void juceRuntimeShutdown();

// The primary display's scale from the platform: on Linux the desktop settings (Xft.dpi / 96,
// else GDK_SCALE), on macOS JUCE's display; 1.0 when nothing says otherwise.
double guiPrimaryDisplayScale();

} // namespace vesk
