// The editor's diagnostic log: one line per call, appended to "halvoren_vesk_gui.log" in the
// temporary directory, written only while HVN_VESK_GUI_LOG is set (and not "0..."). Hosts load
// plug-ins in processes we cannot debug, so the GUI entry points and the windows say here what
// the host asked and what we answered.
#pragma once

namespace vesk {

// [main thread] printf-style; lines longer than 1024 bytes are cut.
void guiLog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The log file's path: $TEMP, else $TMPDIR, else ".", plus "/halvoren_vesk_gui.log".
const char* guiLogPath();

} // namespace vesk
