#include "host/FakeReaper.h"

#include "export/ReaperApi.h"
#include "host/ClapHost.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <type_traits>

namespace vesk::host {

using reaper::MediaItem;
using reaper::MediaTrack;
using reaper::ReaProject;

namespace {

FakeReaper* s_active = nullptr;

std::string fmt(double v)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.10g", v);
    return buffer;
}

std::string str(const char* s)
{
    return s != nullptr ? std::string(s) : std::string("(null)");
}

const char* boolText(bool b)
{
    return b ? "true" : "false";
}

std::string trackTag(const FakeReaper& r, const void* handle)
{
    const int i = r.indexOf(r.track(handle));
    return i >= 0 ? "track" + std::to_string(i) : std::string("?");
}

void copyOut(const std::string& s, char* buffer, int size)
{
    if (buffer == nullptr || size <= 0)
        return;
    const size_t n = std::min(s.size(), size_t(size - 1));
    std::memcpy(buffer, s.data(), n);
    buffer[n] = '\0';
}

// ---- The REAPER functions. ----

void ShowConsoleMsg(const char* message)
{
    if (FakeReaper* r = FakeReaper::active()) {
        r->logCall("ShowConsoleMsg", "");
        r->console += str(message);
    }
}

int CountTracks(ReaProject*)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return 0;
    r->logCall("CountTracks", "");
    return int(r->tracks.size());
}

MediaTrack* GetTrack(ReaProject*, int index)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return nullptr;
    r->logCall("GetTrack", std::to_string(index));
    if (index < 0 || size_t(index) >= r->tracks.size())
        return nullptr;
    return reinterpret_cast<MediaTrack*>(r->tracks[size_t(index)].get());
}

int TrackFX_GetCount(MediaTrack* handle)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return 0;
    r->logCall("TrackFX_GetCount", trackTag(*r, handle));
    const FakeReaper::Track* t = r->track(handle);
    return t != nullptr ? int(t->fx.size()) : 0;
}

bool TrackFX_GetFXName(MediaTrack* handle, int fx, char* buffer, int size)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return false;
    r->logCall("TrackFX_GetFXName",
               trackTag(*r, handle) + "," + std::to_string(fx) + "," + std::to_string(size));
    const FakeReaper::Track* t = r->track(handle);
    if (t == nullptr || fx < 0 || size_t(fx) >= t->fx.size())
        return false;
    copyOut(t->fx[size_t(fx)], buffer, size);
    return true;
}

void InsertTrackAtIndex(int index, bool wantDefaults)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return;
    r->logCall("InsertTrackAtIndex", std::to_string(index) + "," + boolText(wantDefaults));
    const size_t at = size_t(std::clamp<int>(index, 0, int(r->tracks.size())));
    r->tracks.insert(r->tracks.begin() + ptrdiff_t(at), std::make_unique<FakeReaper::Track>());
}

bool GetSetMediaTrackInfo_String(MediaTrack* handle, const char* parameter, char* value,
                                 bool setNewValue)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return false;
    r->logCall("GetSetMediaTrackInfo_String", trackTag(*r, handle) + "," + str(parameter) + "," +
                                                  (setNewValue ? str(value) : "") + "," +
                                                  boolText(setNewValue));
    FakeReaper::Track* t = r->track(handle);
    if (t == nullptr || parameter == nullptr || std::strcmp(parameter, "P_NAME") != 0)
        return false;
    if (setNewValue)
        t->name = str(value);
    else
        copyOut(t->name, value, 256); // REAPER's convention: the caller's buffer is "big"
    return true;
}

bool SetMediaTrackInfo_Value(MediaTrack* handle, const char* parameter, double value)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return false;
    r->logCall("SetMediaTrackInfo_Value",
               trackTag(*r, handle) + "," + str(parameter) + "," + fmt(value));
    FakeReaper::Track* t = r->track(handle);
    if (t == nullptr || parameter == nullptr)
        return false;
    if (std::strcmp(parameter, "I_FOLDERDEPTH") == 0)
        t->folderDepth = int(value);
    else if (std::strcmp(parameter, "B_MUTE") == 0)
        t->muted = value > 0.5;
    else
        return false;
    return true;
}

void SetOnlyTrackSelected(MediaTrack* handle)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return;
    r->logCall("SetOnlyTrackSelected", trackTag(*r, handle));
    for (auto& t : r->tracks)
        t->selected = static_cast<const void*>(t.get()) == handle;
}

int InsertMedia(const char* file, int mode)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return 0;
    r->logCall("InsertMedia", str(file) + "," + std::to_string(mode));
    FakeReaper::Track* target = nullptr;
    for (auto& t : r->tracks)
        if (t->selected) {
            target = t.get();
            break;
        }
    if (target == nullptr || file == nullptr)
        return 0;
    std::ifstream probe(file, std::ios::binary);
    if (!probe)
        return 0;
    for (auto& t : r->tracks)
        for (auto& i : t->items)
            i->selected = false;
    auto item = std::make_unique<FakeReaper::Item>();
    item->file = file;
    item->position = r->cursor;
    item->length = wavFileSeconds(file);
    item->selected = true;
    r->cursor = item->position + item->length;
    target->items.push_back(std::move(item));
    return 1;
}

double GetCursorPosition()
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return 0.0;
    r->logCall("GetCursorPosition", "");
    return r->cursor;
}

void SetEditCurPos(double seconds, bool moveView, bool seekPlay)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return;
    r->logCall("SetEditCurPos", fmt(seconds) + "," + boolText(moveView) + "," + boolText(seekPlay));
    r->cursor = seconds;
}

void PreventUIRefresh(int count)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return;
    r->logCall("PreventUIRefresh", std::to_string(count));
    r->refreshFreeze += count;
}

void Undo_BeginBlock2(ReaProject* project)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return;
    r->logCall("Undo_BeginBlock2", project == nullptr ? "null" : "project");
    ++r->openUndoBlocks;
}

void Undo_EndBlock2(ReaProject* project, const char* description, int flags)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return;
    r->logCall("Undo_EndBlock2", std::string(project == nullptr ? "null" : "project") + "," +
                                     str(description) + "," + std::to_string(flags));
    if (r->openUndoBlocks > 0 && --r->openUndoBlocks == 0)
        r->undoSteps.push_back(str(description));
}

void UpdateArrange()
{
    if (FakeReaper* r = FakeReaper::active()) {
        r->logCall("UpdateArrange", "");
        ++r->arrangeUpdates;
    }
}

int CSurf_TrackToID(MediaTrack* handle, bool mixerView)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return -1;
    r->logCall("CSurf_TrackToID", trackTag(*r, handle) + "," + boolText(mixerView));
    const int i = r->indexOf(r->track(handle));
    return i >= 0 ? i + 1 : -1;
}

int GetTrackNumMediaItems(MediaTrack* handle)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return 0;
    r->logCall("GetTrackNumMediaItems", trackTag(*r, handle));
    const FakeReaper::Track* t = r->track(handle);
    return t != nullptr ? int(t->items.size()) : 0;
}

MediaItem* GetTrackMediaItem(MediaTrack* handle, int index)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return nullptr;
    r->logCall("GetTrackMediaItem", trackTag(*r, handle) + "," + std::to_string(index));
    const FakeReaper::Track* t = r->track(handle);
    if (t == nullptr || index < 0 || size_t(index) >= t->items.size())
        return nullptr;
    return reinterpret_cast<MediaItem*>(t->items[size_t(index)].get());
}

double GetMediaItemInfo_Value(MediaItem* handle, const char* parameter)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return 0.0;
    r->logCall("GetMediaItemInfo_Value", str(parameter));
    const FakeReaper::Item* i = r->item(handle);
    if (i == nullptr || parameter == nullptr)
        return 0.0;
    if (std::strcmp(parameter, "D_POSITION") == 0)
        return i->position;
    if (std::strcmp(parameter, "D_LENGTH") == 0)
        return i->length;
    return 0.0;
}

void SelectAllMediaItems(ReaProject*, bool selected)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return;
    r->logCall("SelectAllMediaItems", std::string("null,") + boolText(selected));
    for (auto& t : r->tracks)
        for (auto& i : t->items)
            i->selected = selected;
}

double GetMediaTrackInfo_Value(MediaTrack* handle, const char* parameter)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return 0.0;
    r->logCall("GetMediaTrackInfo_Value", trackTag(*r, handle) + "," + str(parameter));
    const FakeReaper::Track* t = r->track(handle);
    if (t == nullptr || parameter == nullptr)
        return 0.0;
    if (std::strcmp(parameter, "B_MUTE") == 0)
        return t->muted ? 1.0 : 0.0;
    if (std::strcmp(parameter, "I_FOLDERDEPTH") == 0)
        return double(t->folderDepth);
    return 0.0;
}

bool ValidatePtr2(ReaProject*, void* pointer, const char* typeName)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return false;
    r->logCall("ValidatePtr2", str(typeName));
    if (typeName == nullptr || std::strcmp(typeName, "MediaTrack*") != 0)
        return false;
    return r->indexOf(r->track(pointer)) >= 0;
}

void GetProjectPathEx(ReaProject*, char* buffer, int size)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return;
    r->logCall("GetProjectPathEx", std::to_string(size));
    copyOut(r->projectPath, buffer, size);
}

MediaItem* GetSelectedMediaItem(ReaProject*, int selectedIndex)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return nullptr;
    r->logCall("GetSelectedMediaItem", std::to_string(selectedIndex));
    int seen = 0;
    for (auto& t : r->tracks)
        for (auto& i : t->items)
            if (i->selected && seen++ == selectedIndex)
                return reinterpret_cast<MediaItem*>(i.get());
    return nullptr;
}

bool SetMediaItemSelected(MediaItem* handle, bool selected)
{
    FakeReaper* r = FakeReaper::active();
    if (r == nullptr)
        return false;
    r->logCall("SetMediaItemSelected", boolText(selected));
    FakeReaper::Item* i = r->item(handle);
    if (i == nullptr)
        return false;
    i->selected = selected;
    return true;
}

struct Entry
{
    const char* name;
    void* function;
};

template <typename F> void* asVoid(F f)
{
    return reinterpret_cast<void*>(f);
}

const Entry kFunctions[] = {
    {"ShowConsoleMsg", asVoid(&ShowConsoleMsg)},
    {"CountTracks", asVoid(&CountTracks)},
    {"GetTrack", asVoid(&GetTrack)},
    {"TrackFX_GetCount", asVoid(&TrackFX_GetCount)},
    {"TrackFX_GetFXName", asVoid(&TrackFX_GetFXName)},
    {"InsertTrackAtIndex", asVoid(&InsertTrackAtIndex)},
    {"GetSetMediaTrackInfo_String", asVoid(&GetSetMediaTrackInfo_String)},
    {"SetMediaTrackInfo_Value", asVoid(&SetMediaTrackInfo_Value)},
    {"SetOnlyTrackSelected", asVoid(&SetOnlyTrackSelected)},
    {"InsertMedia", asVoid(&InsertMedia)},
    {"GetCursorPosition", asVoid(&GetCursorPosition)},
    {"SetEditCurPos", asVoid(&SetEditCurPos)},
    {"PreventUIRefresh", asVoid(&PreventUIRefresh)},
    {"Undo_BeginBlock2", asVoid(&Undo_BeginBlock2)},
    {"Undo_EndBlock2", asVoid(&Undo_EndBlock2)},
    {"UpdateArrange", asVoid(&UpdateArrange)},
    {"CSurf_TrackToID", asVoid(&CSurf_TrackToID)},
    {"GetTrackNumMediaItems", asVoid(&GetTrackNumMediaItems)},
    {"GetTrackMediaItem", asVoid(&GetTrackMediaItem)},
    {"GetMediaItemInfo_Value", asVoid(&GetMediaItemInfo_Value)},
    {"SelectAllMediaItems", asVoid(&SelectAllMediaItems)},
    {"GetMediaTrackInfo_Value", asVoid(&GetMediaTrackInfo_Value)},
    {"ValidatePtr2", asVoid(&ValidatePtr2)},
    {"GetProjectPathEx", asVoid(&GetProjectPathEx)},
    {"GetSelectedMediaItem", asVoid(&GetSelectedMediaItem)},
    {"SetMediaItemSelected", asVoid(&SetMediaItemSelected)},
};

// Static checks that the fake answers with exactly the signatures the bridge calls.
static_assert(std::is_same_v<decltype(&GetTrack), reaper::GetTrackFn>);
static_assert(std::is_same_v<decltype(&TrackFX_GetFXName), reaper::TrackFX_GetFXNameFn>);
static_assert(
    std::is_same_v<decltype(&GetSetMediaTrackInfo_String), reaper::GetSetMediaTrackInfo_StringFn>);
static_assert(std::is_same_v<decltype(&Undo_EndBlock2), reaper::Undo_EndBlock2Fn>);
static_assert(std::is_same_v<decltype(&InsertMedia), reaper::InsertMediaFn>);
static_assert(std::is_same_v<decltype(&GetProjectPathEx), reaper::GetProjectPathExFn>);
static_assert(std::is_same_v<decltype(&ValidatePtr2), reaper::ValidatePtr2Fn>);
static_assert(std::is_same_v<decltype(&SetEditCurPos), reaper::SetEditCurPosFn>);
static_assert(std::is_same_v<decltype(&GetSelectedMediaItem), reaper::GetSelectedMediaItemFn>);

uint32_t readU32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

FakeReaper::FakeReaper()
{
    info_.callerVersion = 0x20E;
    info_.hwndMain = nullptr;
    info_.Register = nullptr;
    info_.GetFunc = &FakeReaper::getFunc;
    previous_ = s_active;
    s_active = this;
}

FakeReaper::~FakeReaper()
{
    if (s_active == this)
        s_active = previous_;
}

FakeReaper* FakeReaper::active()
{
    return s_active;
}

void* FakeReaper::getFunc(const char* name)
{
    FakeReaper* r = s_active;
    if (r == nullptr || name == nullptr || r->omitted_.count(name) != 0)
        return nullptr;
    for (const Entry& e : kFunctions)
        if (std::strcmp(e.name, name) == 0)
            return e.function;
    return nullptr;
}

const void* FakeReaper::extension(const char* id) const
{
    static_assert(sizeof(PluginInfoRecord) == sizeof(reaper::PluginInfo));
    if (id != nullptr && std::strcmp(id, reaper::kExtensionId) == 0)
        return &info_;
    return nullptr;
}

int FakeReaper::addTrack(const std::string& name, std::vector<std::string> fx, int folderDepth)
{
    auto t = std::make_unique<Track>();
    t->name = name;
    t->fx = std::move(fx);
    t->folderDepth = folderDepth;
    tracks.push_back(std::move(t));
    return int(tracks.size()) - 1;
}

void FakeReaper::omit(const std::string& function)
{
    omitted_.insert(function);
}

void FakeReaper::restore(const std::string& function)
{
    omitted_.erase(function);
}

void FakeReaper::throwOnCall(const std::string& function, int nthCall)
{
    throwCountdown_[function] = std::max(1, nthCall);
}

void FakeReaper::logCall(const std::string& name, const std::string& args)
{
    calls.push_back(name + "(" + args + ")");
    auto it = throwCountdown_.find(name);
    if (it != throwCountdown_.end() && --it->second == 0) {
        throwCountdown_.erase(it);
        throw std::runtime_error("FakeReaper: " + name + " failed on purpose");
    }
}

int FakeReaper::callCount(const std::string& function) const
{
    int n = 0;
    for (const std::string& c : calls)
        if (c.compare(0, function.size() + 1, function + "(") == 0)
            ++n;
    return n;
}

std::vector<std::string> FakeReaper::callNames() const
{
    std::vector<std::string> names;
    names.reserve(calls.size());
    for (const std::string& c : calls)
        names.push_back(c.substr(0, c.find('(')));
    return names;
}

FakeReaper::Track* FakeReaper::track(const void* handle) const
{
    for (const auto& t : tracks)
        if (static_cast<const void*>(t.get()) == handle)
            return t.get();
    return nullptr;
}

FakeReaper::Item* FakeReaper::item(const void* handle) const
{
    for (const auto& t : tracks)
        for (const auto& i : t->items)
            if (static_cast<const void*>(i.get()) == handle)
                return i.get();
    return nullptr;
}

int FakeReaper::indexOf(const Track* t) const
{
    for (size_t i = 0; i < tracks.size(); ++i)
        if (tracks[i].get() == t && t != nullptr)
            return int(i);
    return -1;
}

int FakeReaper::parentOf(int trackIndex) const
{
    // Walk the tracks keeping the stack of open folders.
    std::vector<int> open;
    for (int i = 0; i < int(tracks.size()); ++i) {
        if (i == trackIndex)
            return open.empty() ? -1 : open.back();
        const int d = tracks[size_t(i)]->folderDepth;
        if (d > 0) {
            open.push_back(i);
        } else {
            for (int k = 0; k < -d && !open.empty(); ++k)
                open.pop_back();
        }
    }
    return -1;
}

std::string FakeReaper::json() const
{
    std::ostringstream o;
    o << "{\n  \"project_path\": " << jsonString(projectPath) << ",\n  \"cursor\": " << fmt(cursor)
      << ",\n  \"tracks\": [";
    for (size_t i = 0; i < tracks.size(); ++i) {
        const Track& t = *tracks[i];
        o << (i ? "," : "") << "\n    {\"index\": " << i << ", \"name\": " << jsonString(t.name)
          << ", \"folder_depth\": " << t.folderDepth << ", \"parent\": " << parentOf(int(i))
          << ", \"mute\": " << boolText(t.muted) << ", \"fx\": [";
        for (size_t f = 0; f < t.fx.size(); ++f)
            o << (f ? ", " : "") << jsonString(t.fx[f]);
        o << "], \"items\": [";
        for (size_t k = 0; k < t.items.size(); ++k) {
            const Item& it = *t.items[k];
            o << (k ? ", " : "") << "{\"file\": " << jsonString(it.file)
              << ", \"position\": " << fmt(it.position) << ", \"length\": " << fmt(it.length)
              << ", \"selected\": " << boolText(it.selected) << "}";
        }
        o << "]}";
    }
    o << "\n  ],\n  \"undo\": [";
    for (size_t i = 0; i < undoSteps.size(); ++i)
        o << (i ? ", " : "") << jsonString(undoSteps[i]);
    o << "],\n  \"open_undo_blocks\": " << openUndoBlocks
      << ",\n  \"refresh_freeze\": " << refreshFreeze << ",\n  \"console\": " << jsonString(console)
      << ",\n  \"calls\": [";
    for (size_t i = 0; i < calls.size(); ++i)
        o << (i ? ", " : "") << jsonString(calls[i]);
    o << "]\n}\n";
    return o.str();
}

double wavFileSeconds(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    unsigned char head[12];
    if (!in.read(reinterpret_cast<char*>(head), 12) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, "WAVE", 4) != 0)
        return 0.0;
    uint32_t rate = 0, blockAlign = 0;
    unsigned char chunk[8];
    while (in.read(reinterpret_cast<char*>(chunk), 8)) {
        const uint32_t size = readU32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
            unsigned char f[16];
            if (!in.read(reinterpret_cast<char*>(f), 16))
                return 0.0;
            rate = readU32(f + 4);
            blockAlign = uint32_t(f[12]) | uint32_t(f[13]) << 8;
            in.seekg(std::streamoff(size - 16 + (size & 1)), std::ios::cur);
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (rate == 0 || blockAlign == 0)
                return 0.0;
            return double(size / blockAlign) / double(rate);
        } else {
            in.seekg(std::streamoff(size + (size & 1)), std::ios::cur);
        }
    }
    return 0.0;
}

} // namespace vesk::host
