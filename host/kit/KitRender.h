// `vesk-kit render`: a variation set of a kit (JSON) or a plug-in state file, rendered through the
// real plug-in file: the kit becomes a state, the state is loaded into an instance of the .clap,
// and the instance renders the set through its private variation-set extension.
#pragma once

#include <string>

namespace vesk::kit {

// Runs the command (argv[0] is the program, argv[1] "render"); returns the exit code. Prints a
// progress bar on a terminal and plain lines otherwise, and one line with the reason on failure.
int renderCommand(int argc, char** argv);

// Usage lines of the command, for the program's help.
extern const char* kRenderUsage;

} // namespace vesk::kit
