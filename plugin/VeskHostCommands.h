// A private extension for our own tools: vesk-host sends editor messages into an instance
// through it, down the same rings the editor writes. Hosts never ask for this id.
#pragma once

#include "plugin/clap/Clap12.h"

#include <stdint.h>

static const char VESK_EXT_HOST_COMMANDS[] = "com.halvoren.vesk.host-commands/1";

typedef struct vesk_plugin_host_commands
{
    // [main thread] One message (id and packed payload) as the editor would send it; false when
    // it was not delivered (full ring or oversized payload, counted as dropped).
    bool(CLAP_ABI* send)(const clap_plugin_t* plugin, uint8_t type, const void* payload,
                         uint32_t size);
} vesk_plugin_host_commands_t;
