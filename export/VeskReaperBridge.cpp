#include "export/VeskReaperBridge.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

using vesk::reaper::MediaItem;

namespace {

constexpr int kNameBufferSize = 256;
constexpr int kPathBufferSize = 4096;
constexpr int kPoolTracks = 8;
// The own track and the eight pool track places: new material goes after the last item on them.
constexpr int kPlacementTracks = 9;
constexpr double kGapAfterLastItemSeconds = 2.0;

template <typename Fn> void lookUp(void* (*getFunc)(const char*), const char* name, Fn& out)
{
    out = reinterpret_cast<Fn>(getFunc(name));
}

} // namespace

bool VeskReaperBridge::initialize(const clap_host* host)
{
    if (initialized)
        return true;
    if (host == nullptr || host->get_extension == nullptr)
        return false;
    const auto* info = static_cast<const vesk::reaper::PluginInfo*>(
        host->get_extension(host, vesk::reaper::kExtensionId));
    if (info == nullptr || info->GetFunc == nullptr)
        return false;
    auto* get = info->GetFunc;
    lookUp(get, "ShowConsoleMsg", ShowConsoleMsg);
    lookUp(get, "CountTracks", CountTracks);
    lookUp(get, "GetTrack", GetTrack);
    lookUp(get, "TrackFX_GetCount", TrackFX_GetCount);
    lookUp(get, "TrackFX_GetFXName", TrackFX_GetFXName);
    lookUp(get, "InsertTrackAtIndex", InsertTrackAtIndex);
    lookUp(get, "GetSetMediaTrackInfo_String", GetSetMediaTrackInfo_String);
    lookUp(get, "SetMediaTrackInfo_Value", SetMediaTrackInfo_Value);
    lookUp(get, "SetOnlyTrackSelected", SetOnlyTrackSelected);
    lookUp(get, "InsertMedia", InsertMedia);
    lookUp(get, "GetCursorPosition", GetCursorPosition);
    lookUp(get, "SetEditCurPos", SetEditCurPos);
    lookUp(get, "PreventUIRefresh", PreventUIRefresh);
    lookUp(get, "Undo_BeginBlock2", Undo_BeginBlock2);
    lookUp(get, "Undo_EndBlock2", Undo_EndBlock2);
    lookUp(get, "UpdateArrange", UpdateArrange);
    lookUp(get, "CSurf_TrackToID", CSurf_TrackToID);
    lookUp(get, "GetTrackNumMediaItems", GetTrackNumMediaItems);
    lookUp(get, "GetTrackMediaItem", GetTrackMediaItem);
    lookUp(get, "GetMediaItemInfo_Value", GetMediaItemInfo_Value);
    lookUp(get, "SelectAllMediaItems", SelectAllMediaItems);
    lookUp(get, "GetMediaTrackInfo_Value", GetMediaTrackInfo_Value);
    lookUp(get, "ValidatePtr2", ValidatePtr2);
    lookUp(get, "GetProjectPathEx", GetProjectPathEx);
    lookUp(get, "GetSelectedMediaItem", GetSelectedMediaItem);
    lookUp(get, "SetMediaItemSelected", SetMediaItemSelected);

    initialized = CountTracks != nullptr && GetTrack != nullptr && TrackFX_GetCount != nullptr &&
                  TrackFX_GetFXName != nullptr && InsertTrackAtIndex != nullptr &&
                  SetMediaTrackInfo_Value != nullptr && SetOnlyTrackSelected != nullptr &&
                  InsertMedia != nullptr && GetCursorPosition != nullptr &&
                  SetEditCurPos != nullptr && Undo_BeginBlock2 != nullptr &&
                  Undo_EndBlock2 != nullptr;
    return initialized;
}

bool VeskReaperBridge::trackQualifies(MediaTrack* track) const
{
    const int count = TrackFX_GetCount(track);
    for (int fx = 0; fx < count; ++fx) {
        char name[kNameBufferSize] = {};
        if (!TrackFX_GetFXName(track, fx, name, kNameBufferSize))
            continue;
        name[kNameBufferSize - 1] = '\0';
        if (std::strstr(name, "Vesk") != nullptr)
            return true;
    }
    return false;
}

bool VeskReaperBridge::trackNameIs(MediaTrack* track, const char* wanted) const
{
    char name[kNameBufferSize] = {};
    GetSetMediaTrackInfo_String(track, "P_NAME", name, false);
    name[kNameBufferSize - 1] = '\0';
    return std::strcmp(name, wanted) == 0;
}

VeskReaperBridge::MediaTrack* VeskReaperBridge::findOwnTrack(const char* trackName) const
{
    if (!initialized)
        return nullptr;
    const bool byName = trackName != nullptr && trackName[0] != '\0';
    if (byName && GetSetMediaTrackInfo_String == nullptr)
        return nullptr;
    MediaTrack* found = nullptr;
    const int count = CountTracks(nullptr);
    for (int i = 0; i < count; ++i) {
        MediaTrack* track = GetTrack(nullptr, i);
        if (track == nullptr)
            continue;
        if (byName && !trackNameIs(track, trackName))
            continue;
        if (!trackQualifies(track))
            continue;
        if (found != nullptr)
            return nullptr; // a second candidate: this instance cannot tell which one it is
        found = track;
    }
    return found;
}

int VeskReaperBridge::trackIndexOf(MediaTrack* track) const
{
    if (!initialized || track == nullptr)
        return -1;
    if (CSurf_TrackToID != nullptr) {
        const int number = CSurf_TrackToID(track, false);
        return number >= 1 ? number - 1 : -1;
    }
    const int count = CountTracks(nullptr);
    for (int i = 0; i < count; ++i)
        if (GetTrack(nullptr, i) == track)
            return i;
    return -1;
}

double VeskReaperBridge::placementPosition(int trackIndex) const
{
    const double cursor = GetCursorPosition();
    double end = -1.0;
    if (GetTrackNumMediaItems != nullptr && GetTrackMediaItem != nullptr &&
        GetMediaItemInfo_Value != nullptr) {
        for (int t = trackIndex; t < trackIndex + kPlacementTracks; ++t) {
            MediaTrack* track = GetTrack(nullptr, t);
            if (track == nullptr)
                continue;
            const int items = GetTrackNumMediaItems(track);
            for (int i = 0; i < items; ++i) {
                MediaItem* item = GetTrackMediaItem(track, i);
                if (item == nullptr)
                    continue;
                const double itemEnd = GetMediaItemInfo_Value(item, "D_POSITION") +
                                       GetMediaItemInfo_Value(item, "D_LENGTH");
                if (std::isfinite(itemEnd) && itemEnd > end)
                    end = itemEnd;
            }
        }
    }
    return end > 0.0 ? end + kGapAfterLastItemSeconds : cursor;
}

bool VeskReaperBridge::poolTracksPresent(int trackIndex) const
{
    if (GetSetMediaTrackInfo_String == nullptr)
        return false;
    for (int k = 1; k <= kPoolTracks; ++k) {
        MediaTrack* track = GetTrack(nullptr, trackIndex + k);
        if (track == nullptr)
            return false;
        char expected[16];
        std::snprintf(expected, sizeof expected, "Pool%d", k);
        if (!trackNameIs(track, expected))
            return false;
    }
    return true;
}

void VeskReaperBridge::createPoolTracks(int trackIndex, MediaTrack* own)
{
    // The own track may already close a folder it sits in (negative depth) or open one of its
    // own (positive): the last pool track carries that change on, so the tracks around keep
    // their places in the folder structure.
    double previousDepth = 0.0;
    if (GetMediaTrackInfo_Value != nullptr) {
        const double d = GetMediaTrackInfo_Value(own, "I_FOLDERDEPTH");
        if (std::isfinite(d) && std::abs(d) < 1.0e6)
            previousDepth = std::round(d);
    }
    SetMediaTrackInfo_Value(own, "I_FOLDERDEPTH", 1.0);
    MediaTrack* last = nullptr;
    for (int k = 1; k <= kPoolTracks; ++k) {
        InsertTrackAtIndex(trackIndex + k, false);
        MediaTrack* track = GetTrack(nullptr, trackIndex + k);
        if (track != nullptr && GetSetMediaTrackInfo_String != nullptr) {
            char name[16];
            std::snprintf(name, sizeof name, "Pool%d", k);
            GetSetMediaTrackInfo_String(track, "P_NAME", name, true);
        }
        last = track;
    }
    if (last != nullptr)
        SetMediaTrackInfo_Value(last, "I_FOLDERDEPTH", previousDepth - 1.0);
}

namespace {

// Closes an insertion's undo block and refresh freeze whatever happened in between. REAPER's
// functions are not expected to throw; a stand-in might, and nothing may stay open then.
struct OpenEdit
{
    const VeskReaperBridge& bridge;
    const char* undoName;
    bool refreshFrozen = false;

    void close() const
    {
        if (refreshFrozen) {
            try {
                bridge.PreventUIRefresh(-1);
            } catch (...) {
            }
        }
        try {
            bridge.Undo_EndBlock2(nullptr, undoName, vesk::reaper::kUndoTracksAndItems);
        } catch (...) {
        }
        if (bridge.UpdateArrange != nullptr) {
            try {
                bridge.UpdateArrange();
            } catch (...) {
            }
        }
    }
};

} // namespace

bool VeskReaperBridge::insertRenderedFiles(int trackIndex, const std::vector<std::string>& files)
{
    if (trackIndex < 0 || !initialized)
        return false;
    bool anyFile = false;
    for (size_t i = 0; i < files.size() && i < size_t(kPoolTracks); ++i)
        anyFile = anyFile || !files[i].empty();
    if (!anyFile)
        return false;
    try {
        MediaTrack* own = GetTrack(nullptr, trackIndex);
        if (own == nullptr)
            return false;
        const double position = placementPosition(trackIndex);
        Undo_BeginBlock2(nullptr);
        OpenEdit edit{*this, kStemsUndoName};
        try {
            if (PreventUIRefresh != nullptr) {
                PreventUIRefresh(1);
                edit.refreshFrozen = true;
            }
            if (!poolTracksPresent(trackIndex))
                createPoolTracks(trackIndex, own);
            if (SelectAllMediaItems != nullptr)
                SelectAllMediaItems(nullptr, false);
            std::array<MediaItem*, kPoolTracks> inserted{};
            int insertedCount = 0;
            for (int i = 0; i < kPoolTracks && size_t(i) < files.size(); ++i) {
                if (files[size_t(i)].empty())
                    continue;
                MediaTrack* track = GetTrack(nullptr, trackIndex + 1 + i);
                if (track == nullptr)
                    continue;
                SetOnlyTrackSelected(track);
                SetEditCurPos(position, false, false);
                InsertMedia(files[size_t(i)].c_str(), 0);
                if (GetSelectedMediaItem != nullptr) {
                    if (MediaItem* item = GetSelectedMediaItem(nullptr, 0))
                        inserted[size_t(insertedCount++)] = item;
                }
            }
            if (SetMediaItemSelected != nullptr)
                for (int i = 0; i < insertedCount; ++i)
                    SetMediaItemSelected(inserted[size_t(i)], true);
        } catch (...) {
            edit.close();
            return false;
        }
        edit.close();
        return true;
    } catch (...) {
        return false;
    }
}

bool VeskReaperBridge::insertMixFile(int trackIndex, const std::string& path)
{
    if (trackIndex < 0 || !initialized || path.empty())
        return false;
    try {
        MediaTrack* track = GetTrack(nullptr, trackIndex);
        if (track == nullptr)
            return false;
        const double position = placementPosition(trackIndex);
        Undo_BeginBlock2(nullptr);
        OpenEdit edit{*this, kMixUndoName};
        try {
            if (PreventUIRefresh != nullptr) {
                PreventUIRefresh(1);
                edit.refreshFrozen = true;
            }
            if (SelectAllMediaItems != nullptr)
                SelectAllMediaItems(nullptr, false);
            SetOnlyTrackSelected(track);
            SetEditCurPos(position, false, false);
            InsertMedia(path.c_str(), 0);
        } catch (...) {
            edit.close();
            return false;
        }
        edit.close();
        return true;
    } catch (...) {
        return false;
    }
}

bool VeskReaperBridge::placeRenderResult(const clap_host* host, const char* trackName,
                                         const vesk::RenderResult& result)
{
    if (!result.insertIntoProject)
        return false;
    if (!initialize(host))
        return false;
    int index = -1;
    try {
        index = trackIndexOf(findOwnTrack(trackName));
    } catch (...) {
        index = -1;
    }
    if (index < 0) {
        consoleMessage(kTrackNotFoundMessage);
        return false;
    }
    return result.isMix ? insertMixFile(index, result.mixFile)
                        : insertRenderedFiles(index, result.stemFiles);
}

std::string VeskReaperBridge::projectPath() const
{
    if (!initialized || GetProjectPathEx == nullptr)
        return {};
    char buffer[kPathBufferSize] = {};
    GetProjectPathEx(nullptr, buffer, kPathBufferSize);
    buffer[kPathBufferSize - 1] = '\0';
    std::string path(buffer);
    while (!path.empty() && (path.back() == '/' || path.back() == '\\'))
        path.pop_back();
    return path;
}

bool VeskReaperBridge::trackStillValid(MediaTrack* track) const
{
    if (track == nullptr || !initialized)
        return false;
    return ValidatePtr2 != nullptr && ValidatePtr2(nullptr, track, "MediaTrack*");
}

bool VeskReaperBridge::trackMuted(MediaTrack* track) const
{
    if (track == nullptr || !initialized || GetMediaTrackInfo_Value == nullptr)
        return false;
    return GetMediaTrackInfo_Value(track, "B_MUTE") > 0.5;
}

void VeskReaperBridge::consoleMessage(const char* text) const
{
    if (initialized && ShowConsoleMsg != nullptr && text != nullptr)
        ShowConsoleMsg(text);
}
