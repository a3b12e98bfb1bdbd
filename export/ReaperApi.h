// The slice of REAPER's extension API the plug-in uses, declared on our side.
//
// REAPER hands a CLAP plug-in its API through the host extension "cockos.reaper_extension": a
// record whose GetFunc looks a function up by name. Only opaque handle types and one
// function-pointer type per function are declared here; nothing is linked against REAPER, and a
// function REAPER does not offer simply comes back null. The stand-in REAPER of vesk-host
// implements exactly these signatures.
#pragma once

namespace vesk::reaper {

// Opaque handles. The plug-in never looks inside them; null means "the current project" where a
// project is asked for.
struct ReaProject;
struct MediaTrack;
struct MediaItem;

inline constexpr const char* kExtensionId = "cockos.reaper_extension";

// The record the host extension points at (REAPER's plug-in info record, in its field order).
struct PluginInfo
{
    int callerVersion;
    void* hwndMain;
    int (*Register)(const char* name, void* info);
    void* (*GetFunc)(const char* name);
};

using ShowConsoleMsgFn = void (*)(const char* message);
using CountTracksFn = int (*)(ReaProject* project);
using GetTrackFn = MediaTrack* (*)(ReaProject* project, int trackIndex);
using TrackFX_GetCountFn = int (*)(MediaTrack* track);
using TrackFX_GetFXNameFn = bool (*)(MediaTrack* track, int fx, char* buffer, int bufferSize);
using InsertTrackAtIndexFn = void (*)(int index, bool wantDefaults);
using GetSetMediaTrackInfo_StringFn = bool (*)(MediaTrack* track, const char* parameter,
                                               char* value, bool setNewValue);
using SetMediaTrackInfo_ValueFn = bool (*)(MediaTrack* track, const char* parameter, double value);
using SetOnlyTrackSelectedFn = void (*)(MediaTrack* track);
using InsertMediaFn = int (*)(const char* file, int mode);
using GetCursorPositionFn = double (*)(); // seconds
using SetEditCurPosFn = void (*)(double seconds, bool moveView, bool seekPlay);
using PreventUIRefreshFn = void (*)(int preventCount);
using Undo_BeginBlock2Fn = void (*)(ReaProject* project);
using Undo_EndBlock2Fn = void (*)(ReaProject* project, const char* description, int flags);
using UpdateArrangeFn = void (*)();
using CSurf_TrackToIDFn = int (*)(MediaTrack* track, bool mixerView); // 1-based, 0 = master
using GetTrackNumMediaItemsFn = int (*)(MediaTrack* track);
using GetTrackMediaItemFn = MediaItem* (*)(MediaTrack* track, int itemIndex);
using GetMediaItemInfo_ValueFn = double (*)(MediaItem* item, const char* parameter);
using SelectAllMediaItemsFn = void (*)(ReaProject* project, bool selected);
using GetMediaTrackInfo_ValueFn = double (*)(MediaTrack* track, const char* parameter);
using ValidatePtr2Fn = bool (*)(ReaProject* project, void* pointer, const char* typeName);
using GetProjectPathExFn = void (*)(ReaProject* project, char* buffer, int bufferSize);
using GetSelectedMediaItemFn = MediaItem* (*)(ReaProject* project, int selectedIndex);
using SetMediaItemSelectedFn = bool (*)(MediaItem* item, bool selected);

// Undo flags of an insertion: track configuration (1) and items (4).
inline constexpr int kUndoTracksAndItems = 5;

} // namespace vesk::reaper
