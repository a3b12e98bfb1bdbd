#include "VeskGuiLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vesk {

namespace {

bool loggingEnabled()
{
    static const bool enabled = [] {
        const char* v = std::getenv("HVN_VESK_GUI_LOG");
        return v != nullptr && v[0] != '\0' && v[0] != '0';
    }();
    return enabled;
}

} // namespace

const char* guiLogPath()
{
    static const std::string path = [] {
        std::string dir = ".";
        for (const char* name : {"TEMP", "TMPDIR"}) {
            const char* v = std::getenv(name);
            if (v != nullptr && v[0] != '\0') {
                dir = v;
                break;
            }
        }
        return dir + "/halvoren_vesk_gui.log";
    }();
    return path.c_str();
}

void guiLog(const char* format, ...)
{
    if (!loggingEnabled())
        return;
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (std::FILE* f = std::fopen(guiLogPath(), "a")) {
        std::fputs(line, f);
        std::fputc('\n', f);
        std::fclose(f);
    }
}

} // namespace vesk
