#include "export/OfflineRender.h"

#include "audio_files/WavWriter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace vesk {
namespace {

constexpr int kMaxNameChars = 255;
// Distinct names tried for one file before the export gives up on it.
constexpr int kMaxNameAttempts = 1000;

size_t tailLimitFrames(double rate)
{
    const double t = std::trunc(rate * kMaxTailSeconds);
    return t > 0.0 ? size_t(t) : 0;
}

float blockPeak(const float* left, const float* right, size_t n)
{
    float peak = 0.0f;
    for (size_t i = 0; i < n; ++i) {
        peak = std::max(peak, std::abs(left[i]));
        peak = std::max(peak, std::abs(right[i]));
    }
    return peak;
}

// Runs `process(left, right, frames)` over the buffers in blocks, then over silence until the
// output has stayed quiet for four blocks or 30 s have passed, and trims the silent end (never
// below the input's length).
template <typename Process>
void processWithTail(Process&& process, std::vector<float>& left, std::vector<float>& right,
                     double rate)
{
    if (right.size() != left.size())
        right.resize(left.size(), 0.0f);
    const size_t n = left.size();
    for (size_t pos = 0; pos < n; pos += kOfflineBlockFrames) {
        const size_t len = std::min<size_t>(kOfflineBlockFrames, n - pos);
        process(left.data() + pos, right.data() + pos, unsigned(len));
    }

    const size_t limit = tailLimitFrames(rate);
    size_t done = 0;
    int quiet = 0;
    while (done < limit) {
        const size_t len = std::min<size_t>(kOfflineBlockFrames, limit - done);
        const size_t at = left.size();
        left.resize(at + len, 0.0f);
        right.resize(at + len, 0.0f);
        process(left.data() + at, right.data() + at, unsigned(len));
        done += len;
        const float peak = blockPeak(left.data() + at, right.data() + at, len);
        quiet = peak < kTailSilence ? quiet + 1 : 0;
        if (quiet >= kQuietTailBlocks)
            break;
    }

    size_t end = left.size();
    while (end > n && std::abs(left[end - 1]) < kTailSilence &&
           std::abs(right[end - 1]) < kTailSilence)
        --end;
    left.resize(end);
    right.resize(end);
}

// Adds src into dst from frame 0, growing dst with zeros when src is longer.
void addInto(std::vector<float>& dstL, std::vector<float>& dstR, const std::vector<float>& srcL,
             const std::vector<float>& srcR)
{
    if (dstL.size() < srcL.size()) {
        dstL.resize(srcL.size(), 0.0f);
        dstR.resize(srcL.size(), 0.0f);
    }
    for (size_t i = 0; i < srcL.size(); ++i) {
        dstL[i] += srcL[i];
        dstR[i] += i < srcR.size() ? srcR[i] : 0.0f;
    }
}

std::string jobStamp(const RenderJob& job)
{
    return formatTimeStamp(job.timeStamp >= 0 ? job.timeStamp : std::time(nullptr));
}

const LaneFXSnapshot& laneFor(const RenderJob& job, PoolRoute route)
{
    return job.lanes[route == PoolRoute::Bus2 ? 1 : 0];
}

} // namespace

namespace {

bool makeFolder(const std::string& path)
{
    if (path.empty())
        return false;
    if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
        struct stat st
        {};
        return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    return false;
}

} // namespace

bool makeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        makeFolder(path.substr(0, slash));
    return makeFolder(path);
}

LaneFXSnapshot captureLaneFX(const FXLane& lane)
{
    LaneFXSnapshot s;
    s.bypassed = lane.bypassed ? 1 : 0;
    s.slotCount = std::clamp<int32_t>(lane.slotCount, 0, kMaxSlots);
    for (int i = 0; i < s.slotCount; ++i) {
        s.slots[i].type = lane.slots[i].type;
        s.slots[i].bypassed = lane.slots[i].bypassed ? 1 : 0;
        std::copy(std::begin(lane.slots[i].params), std::end(lane.slots[i].params),
                  s.slots[i].params);
    }
    return s;
}

void buildOfflineLane(const LaneFXSnapshot& snapshot, FXLane& lane, double rate,
                      ModuleLookup lookup)
{
    lane.setSampleRate(rate);
    lane.bypassed = snapshot.bypassed != 0;
    const int count = std::clamp<int32_t>(snapshot.slotCount, 0, kMaxSlots);
    for (int i = 0; i < count; ++i) {
        const LaneFXSnapshot::Slot& s = snapshot.slots[i];
        const FXModuleInfo* info = lookup != nullptr ? lookup(s.type) : getFXModuleInfo(s.type);
        if (s.type < 1 || s.type > kNumFXTypes || info == nullptr || info->vtable == nullptr)
            continue;
        const uint32_t knobs = std::min<uint32_t>(info->paramCount, kMaxFXParams);
        const int at =
            lane.appendSlot(info->type, info->vtable, info->paramMin, info->paramMax, knobs);
        if (at < 0)
            break;
        FXSlot& slot = lane.slots[at];
        slot.bypassed = s.bypassed != 0;
        for (int k = 0; k < kMaxFXParams; ++k) {
            const float fallback = size_t(k) < knobs ? info->paramDefaults[k] : 0.0f;
            slot.params[k] = std::isfinite(s.params[k]) ? s.params[k] : fallback;
        }
    }
}

void processLaneWithTail(FXLane& lane, std::vector<float>& left, std::vector<float>& right,
                         double rate)
{
    processWithTail([&](float* l, float* r, unsigned n) { lane.processInternal(l, r, n, nullptr); },
                    left, right, rate);
}

void processMasterWithTail(MasterFX& master, std::vector<float>& left, std::vector<float>& right,
                           double rate)
{
    processWithTail([&](float* l, float* r, unsigned n) { master.process(l, r, n); }, left, right,
                    rate);
}

void captureRender(RenderKind kind, const Sampler& sampler, const FXLane& bus1, const FXLane& bus2,
                   bool bus1ToMaster, const MasterFXState& master, RenderCapture& out)
{
    out.kind = kind;
    sampler.captureOfflineRenderPlan(out.plan);
    for (int i = 0; i < kNumPools; ++i)
        out.routes[size_t(i)] = sampler.pools[i].outputRoute;
    out.lanes[0] = captureLaneFX(bus1);
    out.lanes[1] = captureLaneFX(bus2);
    out.bus1ToMaster = bus1ToMaster;
    out.master = master;
    out.rate = sampler.sampleRate;
    out.id = sampler.lastSeed;
}

std::string formatTimeStamp(std::time_t t)
{
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr)
        return "00000000000000";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return buffer;
}

std::string stemFileName(const std::string& stamp, int poolNumber, uint64_t id)
{
    char name[kMaxNameChars + 1];
    std::snprintf(name, sizeof name, "Vesk_%s_%d_%llX.wav", stamp.c_str(), poolNumber,
                  static_cast<unsigned long long>(id));
    return name;
}

std::string mixFileName(const std::string& stamp, uint64_t id)
{
    char name[kMaxNameChars + 1];
    std::snprintf(name, sizeof name, "Vesk_Mix_%s_%llX.wav", stamp.c_str(),
                  static_cast<unsigned long long>(id));
    return name;
}

std::string writeNewWav(const std::string& folder, const std::string& name,
                        const std::vector<float>& left, const std::vector<float>& right,
                        double rate, std::string* why)
{
    auto failed = [why](int error) {
        if (why != nullptr)
            *why = error == ENOSPC   ? "the disk is full"
                   : error == EDQUOT ? "the disk quota is used up"
                   : error != 0      ? std::generic_category().message(error)
                                     : "the file could not be written";
        return std::string();
    };
    if (folder.empty())
        return failed(ENOENT);
    if (left.empty())
        return {};
    const size_t dot = name.rfind(".wav");
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        const std::string candidate =
            attempt == 1 ? name : stem + "-" + std::to_string(attempt) + ".wav";
        const std::string path = folder + "/" + candidate;
        // Claim the name first, so no existing file is ever replaced.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return failed(errno);
        }
        ::close(fd);
        errno = 0;
        if (writeWav(path, left, right, rate))
            return path;
        const int error = errno;
        ::unlink(path.c_str());
        return failed(error);
    }
    return failed(EEXIST);
}

RenderResult runStemsJob(RenderJob& job)
{
    RenderResult result;
    result.isMix = false;
    result.stemFiles.assign(kNumPools, std::string());
    result.outputFolder = job.outputFolder;
    if (job.createFolder)
        makeFolders(job.outputFolder);
    const std::string stamp = jobStamp(job);
    bool anyWritten = false;
    for (int i = 0; i < kNumPools; ++i) {
        Sampler::PoolRenderResult& stem = job.pools[size_t(i)];
        if (!stem.hasAudio || stem.left.empty())
            continue;
        ++result.soundingPools;
        const PoolRoute route = job.routes[size_t(i)];
        if (route == PoolRoute::Bus1 || route == PoolRoute::Bus2) {
            auto lane = std::make_unique<FXLane>();
            buildOfflineLane(laneFor(job, route), *lane, job.rate, job.moduleLookup);
            processLaneWithTail(*lane, stem.left, stem.right, job.rate);
        }
        std::string why;
        const std::string path = writeNewWav(job.outputFolder, stemFileName(stamp, i + 1, job.id),
                                             stem.left, stem.right, job.rate, &why);
        if (path.empty() && result.failure.empty())
            result.failure = why;
        // The stem's audio is no longer needed; free it before the next pool's tail grows.
        std::vector<float>().swap(stem.left);
        std::vector<float>().swap(stem.right);
        if (!path.empty()) {
            result.stemFiles[size_t(i)] = path;
            anyWritten = true;
        }
    }
    result.insertIntoProject = job.insertIntoProject && anyWritten;
    return result;
}

RenderResult runMixJob(RenderJob& job)
{
    RenderResult result;
    result.isMix = true;
    result.outputFolder = job.outputFolder;

    size_t length = 0;
    for (const auto& stem : job.pools)
        if (stem.hasAudio)
            length = std::max(length, stem.left.size());
    if (length == 0)
        return result;
    for (const auto& stem : job.pools)
        result.soundingPools += stem.hasAudio ? 1 : 0;

    std::vector<float> busL[2], busR[2], masterL(length, 0.0f), masterR(length, 0.0f);
    for (int b = 0; b < 2; ++b) {
        busL[b].assign(length, 0.0f);
        busR[b].assign(length, 0.0f);
    }
    for (int i = 0; i < kNumPools; ++i) {
        Sampler::PoolRenderResult& stem = job.pools[size_t(i)];
        if (!stem.hasAudio)
            continue;
        const PoolRoute route = job.routes[size_t(i)];
        if (route == PoolRoute::Master)
            addInto(masterL, masterR, stem.left, stem.right);
        else
            addInto(busL[route == PoolRoute::Bus2 ? 1 : 0], busR[route == PoolRoute::Bus2 ? 1 : 0],
                    stem.left, stem.right);
        std::vector<float>().swap(stem.left);
        std::vector<float>().swap(stem.right);
    }

    {
        auto lane = std::make_unique<FXLane>();
        buildOfflineLane(job.lanes[0], *lane, job.rate, job.moduleLookup);
        processLaneWithTail(*lane, busL[0], busR[0], job.rate);
    }
    if (job.bus1ToMaster)
        addInto(masterL, masterR, busL[0], busR[0]);
    else
        addInto(busL[1], busR[1], busL[0], busR[0]);
    std::vector<float>().swap(busL[0]);
    std::vector<float>().swap(busR[0]);
    {
        auto lane = std::make_unique<FXLane>();
        buildOfflineLane(job.lanes[1], *lane, job.rate, job.moduleLookup);
        processLaneWithTail(*lane, busL[1], busR[1], job.rate);
    }
    addInto(masterL, masterR, busL[1], busR[1]);
    std::vector<float>().swap(busL[1]);
    std::vector<float>().swap(busR[1]);

    auto master = std::make_unique<MasterFX>();
    master->setSampleRate(job.rate);
    master->applyState(job.master);
    processMasterWithTail(*master, masterL, masterR, job.rate);

    // The master's look-ahead delays everything; drop it so the mix lines up with the stems.
    const size_t latency = size_t(std::max(0, master->getLatencySamples()));
    const size_t drop = std::min(latency, masterL.size());
    masterL.erase(masterL.begin(), masterL.begin() + ptrdiff_t(drop));
    masterR.erase(masterR.begin(), masterR.begin() + ptrdiff_t(drop));

    if (job.createFolder)
        makeFolders(job.outputFolder);
    const std::string path = writeNewWav(job.outputFolder, mixFileName(jobStamp(job), job.id),
                                         masterL, masterR, job.rate, &result.failure);
    if (!path.empty()) {
        result.mixFile = path;
        result.insertIntoProject = job.insertIntoProject;
    }
    return result;
}

RenderResult runRenderJob(RenderJob& job)
{
    return job.kind == RenderKind::Mix ? runMixJob(job) : runStemsJob(job);
}

std::string defaultExportFolder()
{
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0')
        return {};
    std::string base(home);
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    return base + "/Documents/Halvoren Vesk/Exports";
}

bool startRender(const Sampler& sampler, const RenderCapture& capture,
                 const std::string& projectRoot,
                 const std::function<void(std::function<void()>)>& post,
                 std::function<void(RenderResult)> deliver, std::string* why)
{
    try {
        auto job = std::make_shared<RenderJob>();
        job->kind = capture.kind;
        job->routes = capture.routes;
        job->lanes[0] = capture.lanes[0];
        job->lanes[1] = capture.lanes[1];
        job->bus1ToMaster = capture.bus1ToMaster;
        job->master = capture.master;
        job->rate = capture.rate;
        job->id = capture.id;
        if (!projectRoot.empty()) {
            job->outputFolder = projectRoot;
            job->insertIntoProject = true;
        } else {
            job->outputFolder = defaultExportFolder();
            job->createFolder = true;
            job->insertIntoProject = false;
        }
        if (job->outputFolder.empty()) {
            if (why != nullptr)
                *why = "no folder to write to (HOME is not set)";
            return false;
        }
        sampler.renderAllPoolsOffline(capture.plan, job->pools, capture.rate);
        post([job, deliver = std::move(deliver)]() {
            RenderResult result = runRenderJob(*job);
            job->pools = {};
            if (deliver)
                deliver(std::move(result));
        });
        return true;
    } catch (const std::bad_alloc&) {
        if (why != nullptr)
            *why = "not enough memory";
        return false;
    }
}

} // namespace vesk
