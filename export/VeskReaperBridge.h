// The one place that talks to REAPER.
//
// Design: REAPER offers its API to a CLAP plug-in through the host extension
// "cockos.reaper_extension"; the bridge looks a fixed set of functions up by name once and keeps
// them as plain function pointers (null where REAPER does not offer one). It holds no other
// state: track handles are never kept here, callers look the own track up when they need it.
// Outside REAPER the bridge never becomes initialised and every operation does nothing, so
// rendered files simply stay on disk.
//
// Both insert operations are one undo step each and close what they opened on every path: once
// the undo block and the refresh freeze are open, they are closed again even when something in
// between throws. They never let an exception out (they are called from the host's main-thread
// callback, which must not unwind into the host).
//
// Threads: every function here runs on the host's main thread, as REAPER requires.
#pragma once

#include "export/ReaperApi.h"
#include "export/RenderResult.h"
#include "plugin/clap/Clap12.h"

#include <string>
#include <vector>

class VeskReaperBridge
{
public:
    using MediaTrack = vesk::reaper::MediaTrack;

    // [main thread] Looks every function up; true when all required ones are there (now or from
    // an earlier call). A failed attempt is retried whole at the next call.
    bool initialize(const clap_host* host);

    // [main thread] The one track that holds an FX whose name contains "Vesk" (and, with a track
    // name, whose name equals it exactly). Null when there is none, or more than one.
    MediaTrack* findOwnTrack(const char* trackName) const;

    // [main thread] 0-based index of a track (CSurf_TrackToID − 1), or −1 when it has none.
    int trackIndexOf(MediaTrack* track) const;

    // [main thread] Places stems on the tracks "Pool1" … "Pool8" below the own track at
    // trackIndex (creating them in a folder under it when they are not there yet). files[i] is
    // pool i + 1's file, "" where none was written. Nothing happens, and no undo step is made,
    // when no entry names a file. Returns true when an undo step was made.
    bool insertRenderedFiles(int trackIndex, const std::vector<std::string>& files);

    // [main thread] Places the mix on the own track at trackIndex. Returns true when an undo
    // step was made.
    bool insertMixFile(int trackIndex, const std::string& path);

    // [main thread] The main-thread pass's handling of one finished render: initialises the
    // bridge if needed, finds the own track by the instance's track name and inserts the files;
    // when the track cannot be identified, prints the console message and inserts nothing.
    // Results not meant for the project are ignored. Returns true when something was inserted.
    bool placeRenderResult(const clap_host* host, const char* trackName,
                           const vesk::RenderResult& result);

    // [main thread] The current project's folder without trailing separators; "" when REAPER
    // does not say.
    std::string projectPath() const;

    // [main thread] Whether REAPER confirms that a cached track handle is still a track of the
    // project (false when it cannot tell: look the track up again).
    bool trackStillValid(MediaTrack* track) const;

    // [main thread] The track's mute switch; false when it cannot be read.
    bool trackMuted(MediaTrack* track) const;

    // [main thread] Writes to REAPER's console when it has one.
    void consoleMessage(const char* text) const;

    static constexpr const char* kTrackNotFoundMessage =
        "Vesk: 无法确定本实例所在的轨道，Render 结果没有插入。\n"
        "CLAP 只能按轨道名反查，请给含 Vesk 的轨道起一个唯一的名字后重试。\n";
    static constexpr const char* kStemsUndoName = "Vesk: Insert Rendered Samples";
    static constexpr const char* kMixUndoName = "Vesk: Insert Mix";

    bool initialized = false;

    // One pointer per REAPER function, null when REAPER does not offer it. Marked: required.
    vesk::reaper::ShowConsoleMsgFn ShowConsoleMsg = nullptr;
    vesk::reaper::CountTracksFn CountTracks = nullptr;               // required
    vesk::reaper::GetTrackFn GetTrack = nullptr;                     // required
    vesk::reaper::TrackFX_GetCountFn TrackFX_GetCount = nullptr;     // required
    vesk::reaper::TrackFX_GetFXNameFn TrackFX_GetFXName = nullptr;   // required
    vesk::reaper::InsertTrackAtIndexFn InsertTrackAtIndex = nullptr; // required
    vesk::reaper::GetSetMediaTrackInfo_StringFn GetSetMediaTrackInfo_String = nullptr;
    vesk::reaper::SetMediaTrackInfo_ValueFn SetMediaTrackInfo_Value = nullptr; // required
    vesk::reaper::SetOnlyTrackSelectedFn SetOnlyTrackSelected = nullptr;       // required
    vesk::reaper::InsertMediaFn InsertMedia = nullptr;                         // required
    vesk::reaper::GetCursorPositionFn GetCursorPosition = nullptr;             // required
    vesk::reaper::SetEditCurPosFn SetEditCurPos = nullptr;                     // required
    vesk::reaper::PreventUIRefreshFn PreventUIRefresh = nullptr;
    vesk::reaper::Undo_BeginBlock2Fn Undo_BeginBlock2 = nullptr; // required
    vesk::reaper::Undo_EndBlock2Fn Undo_EndBlock2 = nullptr;     // required
    vesk::reaper::UpdateArrangeFn UpdateArrange = nullptr;
    vesk::reaper::CSurf_TrackToIDFn CSurf_TrackToID = nullptr;
    vesk::reaper::GetTrackNumMediaItemsFn GetTrackNumMediaItems = nullptr;
    vesk::reaper::GetTrackMediaItemFn GetTrackMediaItem = nullptr;
    vesk::reaper::GetMediaItemInfo_ValueFn GetMediaItemInfo_Value = nullptr;
    vesk::reaper::SelectAllMediaItemsFn SelectAllMediaItems = nullptr;
    vesk::reaper::GetMediaTrackInfo_ValueFn GetMediaTrackInfo_Value = nullptr;
    vesk::reaper::ValidatePtr2Fn ValidatePtr2 = nullptr;
    vesk::reaper::GetProjectPathExFn GetProjectPathEx = nullptr;
    vesk::reaper::GetSelectedMediaItemFn GetSelectedMediaItem = nullptr;
    vesk::reaper::SetMediaItemSelectedFn SetMediaItemSelected = nullptr;

private:
    bool trackQualifies(MediaTrack* track) const;
    bool trackNameIs(MediaTrack* track, const char* name) const;
    double placementPosition(int trackIndex) const;
    bool poolTracksPresent(int trackIndex) const;
    void createPoolTracks(int trackIndex, MediaTrack* own);
};
