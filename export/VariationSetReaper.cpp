#include "export/VariationSetReaper.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace vesk {
namespace {

std::string baseName(const std::string& folder)
{
    std::string f = folder;
    while (f.size() > 1 && f.back() == '/')
        f.pop_back();
    const size_t slash = f.find_last_of('/');
    return slash == std::string::npos ? f : f.substr(slash + 1);
}

} // namespace

bool insertVariationSet(VeskReaperBridge& bridge, const clap_host* host, const char* trackName,
                        const VariationSetResult& result)
{
    if (result.files.empty() || result.folder.empty())
        return false;
    try {
        if (!bridge.initialize(host))
            return false;
        const int own = bridge.trackIndexOf(bridge.findOwnTrack(trackName));
        if (own < 0) {
            bridge.consoleMessage(VeskReaperBridge::kTrackNotFoundMessage);
            return false;
        }
        // One lane per kind of file: the mixes (pool 0), then each pool's stems.
        std::map<int, std::vector<const SetFileRecord*>> lanes;
        for (const SetFileRecord& f : result.files)
            if (f.pool >= 0 && f.pool <= kNumPools)
                lanes[f.pool].push_back(&f);
        for (auto& [pool, files] : lanes)
            std::stable_sort(
                files.begin(), files.end(),
                [](const SetFileRecord* a, const SetFileRecord* b) { return a->n < b->n; });
        const std::string name = baseName(result.folder);
        const double start = bridge.GetCursorPosition();

        bridge.Undo_BeginBlock2(nullptr);
        bool refreshFrozen = false;
        auto close = [&] {
            try {
                bridge.SetEditCurPos(start, false, false);
            } catch (...) {
            }
            if (refreshFrozen) {
                try {
                    bridge.PreventUIRefresh(-1);
                } catch (...) {
                }
            }
            try {
                bridge.Undo_EndBlock2(nullptr, kSetUndoName, reaper::kUndoTracksAndItems);
            } catch (...) {
            }
            if (bridge.UpdateArrange != nullptr) {
                try {
                    bridge.UpdateArrange();
                } catch (...) {
                }
            }
        };
        try {
            if (bridge.PreventUIRefresh != nullptr) {
                bridge.PreventUIRefresh(1);
                refreshFrozen = true;
            }
            if (bridge.SelectAllMediaItems != nullptr)
                bridge.SelectAllMediaItems(nullptr, false);
            int at = own + 1;
            for (const auto& [pool, files] : lanes) {
                bridge.InsertTrackAtIndex(at, true);
                reaper::MediaTrack* track = bridge.GetTrack(nullptr, at);
                ++at;
                if (track == nullptr)
                    continue;
                if (bridge.GetSetMediaTrackInfo_String != nullptr) {
                    std::string title = pool == 0 ? name : name + " Pool " + std::to_string(pool);
                    std::vector<char> buffer(title.begin(), title.end());
                    buffer.push_back('\0');
                    bridge.GetSetMediaTrackInfo_String(track, "P_NAME", buffer.data(), true);
                }
                bridge.SetOnlyTrackSelected(track);
                double position = start;
                for (const SetFileRecord* f : files) {
                    bridge.SetEditCurPos(position, false, false);
                    bridge.InsertMedia((result.folder + "/" + f->file).c_str(), 0);
                    position += f->seconds + kSetItemGapSeconds;
                }
            }
        } catch (...) {
            close();
            return true;
        }
        close();
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace vesk
