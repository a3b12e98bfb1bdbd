// CLAP 1.2 records that the CLAP 1.1.1 headers we build against do not have, declared byte for
// byte as CLAP 1.2 defines them (same names, same field order and types), plus the version this
// plug-in announces. Include this instead of <clap/clap.h>.
#pragma once

#include <clap/entry.h>
#include <clap/events.h>
#include <clap/host.h>
#include <clap/plugin.h>
#include <clap/plugin-factory.h>
#include <clap/process.h>
#include <clap/stream.h>
#include <clap/string-sizes.h>
#include <clap/ext/audio-ports.h>
#include <clap/ext/gui.h>
#include <clap/ext/latency.h>
#include <clap/ext/note-ports.h>
#include <clap/ext/state.h>
#include <clap/ext/thread-check.h>
#include <clap/ext/timer-support.h>

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The CLAP version this plug-in speaks.
#define VESK_CLAP_VERSION_INIT {1, 2, 0}

// --- clap.log (ext/log.h) ---------------------------------------------------------------------
#ifndef CLAP_EXT_LOG_DECLARED
#define CLAP_EXT_LOG_DECLARED
static const CLAP_CONSTEXPR char CLAP_EXT_LOG[] = "clap.log";
enum
{
    CLAP_LOG_DEBUG = 0,
    CLAP_LOG_INFO = 1,
    CLAP_LOG_WARNING = 2,
    CLAP_LOG_ERROR = 3,
    CLAP_LOG_FATAL = 4,
    CLAP_LOG_HOST_MISBEHAVING = 5,
    CLAP_LOG_PLUGIN_MISBEHAVING = 6,
};
typedef int32_t clap_log_severity;
typedef struct clap_host_log
{
    void(CLAP_ABI* log)(const clap_host_t* host, clap_log_severity severity, const char* msg);
} clap_host_log_t;
#endif

// --- clap.render (ext/render.h) ---------------------------------------------------------------
static const CLAP_CONSTEXPR char CLAP_EXT_RENDER[] = "clap.render";
enum
{
    CLAP_RENDER_REALTIME = 0,
    CLAP_RENDER_OFFLINE = 1,
};
typedef int32_t clap_plugin_render_mode;
typedef struct clap_plugin_render
{
    bool(CLAP_ABI* has_hard_realtime_requirement)(const clap_plugin_t* plugin);
    bool(CLAP_ABI* set)(const clap_plugin_t* plugin, clap_plugin_render_mode mode);
} clap_plugin_render_t;

// --- color.h ----------------------------------------------------------------------------------
typedef struct clap_color
{
    uint8_t alpha;
    uint8_t red;
    uint8_t green;
    uint8_t blue;
} clap_color_t;

// --- clap.track-info/1 (ext/track-info.h) -----------------------------------------------------
static const CLAP_CONSTEXPR char CLAP_EXT_TRACK_INFO[] = "clap.track-info/1";
static const CLAP_CONSTEXPR char CLAP_EXT_TRACK_INFO_COMPAT[] = "clap.track-info.draft/1";
enum
{
    CLAP_TRACK_INFO_HAS_TRACK_NAME = (1 << 0),
    CLAP_TRACK_INFO_HAS_TRACK_COLOR = (1 << 1),
    CLAP_TRACK_INFO_HAS_AUDIO_CHANNEL = (1 << 2),
    CLAP_TRACK_INFO_IS_FOR_RETURN_TRACK = (1 << 3),
    CLAP_TRACK_INFO_IS_FOR_BUS = (1 << 4),
    CLAP_TRACK_INFO_IS_FOR_MASTER = (1 << 5),
};
typedef struct clap_track_info
{
    uint64_t flags;
    char name[CLAP_NAME_SIZE];
    clap_color_t color;
    int32_t audio_channel_count;
    const char* audio_port_type;
} clap_track_info_t;
typedef struct clap_plugin_track_info
{
    void(CLAP_ABI* changed)(const clap_plugin_t* plugin);
} clap_plugin_track_info_t;
typedef struct clap_host_track_info
{
    bool(CLAP_ABI* get)(const clap_host_t* host, clap_track_info_t* info);
} clap_host_track_info_t;

// --- clap.posix-fd-support (ext/posix-fd-support.h) -------------------------------------------
static const CLAP_CONSTEXPR char CLAP_EXT_POSIX_FD_SUPPORT[] = "clap.posix-fd-support";
enum
{
    CLAP_POSIX_FD_READ = 1 << 0,
    CLAP_POSIX_FD_WRITE = 1 << 1,
    CLAP_POSIX_FD_ERROR = 1 << 2,
};
typedef uint32_t clap_posix_fd_flags_t;
typedef struct clap_plugin_posix_fd_support
{
    void(CLAP_ABI* on_fd)(const clap_plugin_t* plugin, int fd, clap_posix_fd_flags_t flags);
} clap_plugin_posix_fd_support_t;
typedef struct clap_host_posix_fd_support
{
    bool(CLAP_ABI* register_fd)(const clap_host_t* host, int fd, clap_posix_fd_flags_t flags);
    bool(CLAP_ABI* modify_fd)(const clap_host_t* host, int fd, clap_posix_fd_flags_t flags);
    bool(CLAP_ABI* unregister_fd)(const clap_host_t* host, int fd);
} clap_host_posix_fd_support_t;

#ifdef __cplusplus
}

static_assert(sizeof(clap_color_t) == 4);
static_assert(sizeof(clap_track_info_t) == 8 + CLAP_NAME_SIZE + 4 + 4 + sizeof(void*));
static_assert(offsetof(clap_track_info_t, audio_port_type) == 8 + CLAP_NAME_SIZE + 8);
static_assert(sizeof(clap_plugin_render_t) == 2 * sizeof(void*));
#endif
