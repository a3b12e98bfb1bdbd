// What a finished render hands back to the main thread.
#pragma once

#include <string>
#include <vector>

namespace vesk {

struct RenderResult
{
    std::vector<std::string> stemFiles; // one entry per pool: the file written for it, or ""
    std::string mixFile;                // the mix file, or ""
    bool isMix = false;                 // the result of "Export Mix"
    // The files are to be placed into the host project. Set only when at least one file was
    // written into the project folder; exports outside REAPER stay files on disk.
    bool insertIntoProject = false;
    std::string outputFolder; // where the files went
    int soundingPools = 0;    // pools that had a sound to write (0: nothing to export)
    std::string failure;      // why a file could not be written; "" when every file was
};

} // namespace vesk
