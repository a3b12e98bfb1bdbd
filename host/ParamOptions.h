// vesk-host's parameter options: host automation (values, ramps), modulation and flushes sent to
// the plug-in through clap.params, and its parameter list printed as JSON.
#pragma once

#include "host/ClapHost.h"

#include <functional>
#include <string>
#include <vector>

namespace vesk::host {

struct ParamOptions
{
    // What the options asked for.
    std::vector<TimedEvent> flushes; // sent through flush after the render, in order
    bool listParams = false;         // print the list (after any state load) and exit

    static const char* usage();

    // Takes `arg` when it is one of the parameter options (reading its value with `value`) and
    // adds its events to `events`; false for any other option. A bad value sets `error`.
    bool parse(const std::string& arg, const std::function<std::string()>& value,
               std::vector<TimedEvent>& events, std::string& error);
};

} // namespace vesk::host
