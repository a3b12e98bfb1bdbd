// A private extension for our own tools: vesk-kit renders variation sets of an instance through
// it (export/VariationSet.h). Hosts never ask for this id.
//
// A set renders from a copy of the instance taken when it starts, on threads of its own; the
// instance plays on untouched. Jobs are numbered per process; a job belongs to the instance
// that started it.
#pragma once

#include "plugin/clap/Clap12.h"

#include <stdint.h>

static const char VESK_EXT_VARIATION_SET[] = "com.halvoren.vesk.variation-set/1";

enum
{
    VESK_SET_RUNNING = 0,
    VESK_SET_FINISHED = 1,
    VESK_SET_FAILED = 2,
    VESK_SET_CANCELLED = 3,
    VESK_SET_UNKNOWN = -1,
};

typedef struct vesk_plugin_variation_set
{
    // [main thread] Starts a set of the instance as it is now. request: the set's settings, one
    // "key=value" per line (count, what, name, format, loudness, peak, ceiling, seed, out, shard,
    // threads, time). Returns the job's number, or 0 with a one-line reason in error (always
    // zero-terminated when errorSize > 0).
    uint32_t(CLAP_ABI* start)(const clap_plugin_t* plugin, const char* request, char* error,
                              uint32_t errorSize);
    // [any thread] The job's state (VESK_SET_...) and its progress, done of total variations.
    int32_t(CLAP_ABI* progress)(const clap_plugin_t* plugin, uint32_t job, uint32_t* done,
                                uint32_t* total);
    // [any thread] Asks the job to stop; only complete files stay.
    void(CLAP_ABI* cancel)(const clap_plugin_t* plugin, uint32_t job);
    // [main thread] Once the job is no longer running: its outcome as "key=value" lines (folder,
    // files, variations, total, seed, manifest, error), zero-terminated and cut to size. Returns
    // the size the whole text needs, including the zero; 0 for an unknown or running job.
    uint32_t(CLAP_ABI* result)(const clap_plugin_t* plugin, uint32_t job, char* text,
                               uint32_t size);
    // [main thread] Forgets the job, cancelling it and waiting for it when it still runs.
    void(CLAP_ABI* release)(const clap_plugin_t* plugin, uint32_t job);
} vesk_plugin_variation_set_t;
