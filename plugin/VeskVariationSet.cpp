// Jobs live in a process-wide table rather than in the instance: a job owns everything it
// renders from, so it may outlive the instance that started it, and the table's destruction when
// the plug-in file is unloaded cancels and joins whatever still runs.
#include "VeskVariationSet.h"

#include "VeskPlugin.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

namespace vesk {
namespace {

struct Job
{
    const void* owner = nullptr;
    std::unique_ptr<VariationSetRunner> runner;
};

struct JobTable
{
    std::mutex mutex;
    std::map<uint32_t, std::shared_ptr<Job>> jobs;
    uint32_t nextId = 1;
};

JobTable& table()
{
    static JobTable t;
    return t;
}

std::shared_ptr<Job> findJob(const clap_plugin_t* plugin, uint32_t id)
{
    JobTable& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    const auto it = t.jobs.find(id);
    if (it == t.jobs.end() || plugin == nullptr || it->second->owner != plugin->plugin_data)
        return nullptr;
    return it->second;
}

void copyOut(const std::string& text, char* out, uint32_t size)
{
    if (out == nullptr || size == 0)
        return;
    const size_t n = std::min<size_t>(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

uint32_t CLAP_ABI extStart(const clap_plugin_t* plugin, const char* request, char* error,
                           uint32_t errorSize)
{
    copyOut("", error, errorSize);
    VeskPlugin* self = VeskPlugin::from(plugin);
    if (self == nullptr || request == nullptr) {
        copyOut("no instance or no request", error, errorSize);
        return 0;
    }
    std::string why;
    VariationSetRequest r;
    if (!parseSetRequest(request, r, why) || !validateSetRequest(r, why)) {
        copyOut(why, error, errorSize);
        return 0;
    }
    try {
        std::shared_ptr<VariationSetSource> source = captureVariationSet(*self, why);
        auto job = std::make_shared<Job>();
        job->owner = self;
        job->runner = std::make_unique<VariationSetRunner>();
        if (source == nullptr || !job->runner->start(std::move(source), r, why)) {
            copyOut(why, error, errorSize);
            return 0;
        }
        JobTable& t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        const uint32_t id = t.nextId++;
        if (t.nextId == 0)
            t.nextId = 1;
        t.jobs[id] = std::move(job);
        return id;
    } catch (const std::bad_alloc&) {
        copyOut("out of memory", error, errorSize);
        return 0;
    }
}

int32_t CLAP_ABI extProgress(const clap_plugin_t* plugin, uint32_t id, uint32_t* done,
                             uint32_t* total)
{
    const std::shared_ptr<Job> job = findJob(plugin, id);
    if (job == nullptr)
        return VESK_SET_UNKNOWN;
    VariationSetRunner& r = *job->runner;
    if (done != nullptr)
        *done = uint32_t(std::max(0, r.done()));
    if (total != nullptr)
        *total = uint32_t(std::max(0, r.total()));
    switch (r.outcome()) {
    case VariationSetRunner::Outcome::Finished:
        return VESK_SET_FINISHED;
    case VariationSetRunner::Outcome::Failed:
        return VESK_SET_FAILED;
    case VariationSetRunner::Outcome::Cancelled:
        return VESK_SET_CANCELLED;
    case VariationSetRunner::Outcome::Running:
        break;
    }
    return VESK_SET_RUNNING;
}

void CLAP_ABI extCancel(const clap_plugin_t* plugin, uint32_t id)
{
    if (const std::shared_ptr<Job> job = findJob(plugin, id))
        job->runner->cancel();
}

uint32_t CLAP_ABI extResult(const clap_plugin_t* plugin, uint32_t id, char* text, uint32_t size)
{
    const std::shared_ptr<Job> job = findJob(plugin, id);
    if (job == nullptr || job->runner->running())
        return 0;
    const VariationSetResult& r = job->runner->result();
    char seed[24];
    std::snprintf(seed, sizeof seed, "%llu", static_cast<unsigned long long>(r.baseSeed));
    std::string out;
    out += "folder=" + r.folder + "\n";
    out += "files=" + std::to_string(r.files.size()) + "\n";
    out += "variations=" + std::to_string(r.variationsDone) + "\n";
    out += "total=" + std::to_string(r.variationsTotal) + "\n";
    out += std::string("seed=") + seed + "\n";
    out += "manifest=" + r.manifestCsv + "\n";
    out += std::string("cancelled=") + (r.cancelled ? "1" : "0") + "\n";
    std::string error = r.error;
    std::replace(error.begin(), error.end(), '\n', ' ');
    out += "error=" + error + "\n";
    copyOut(out, text, size);
    return uint32_t(std::min<size_t>(out.size() + 1, UINT32_MAX));
}

void CLAP_ABI extRelease(const clap_plugin_t* plugin, uint32_t id)
{
    std::shared_ptr<Job> job = findJob(plugin, id);
    if (job == nullptr)
        return;
    {
        JobTable& t = table();
        std::lock_guard<std::mutex> lock(t.mutex);
        t.jobs.erase(id);
    }
    job->runner->cancel();
    job.reset(); // joins the set's thread
}

} // namespace

std::shared_ptr<VariationSetSource> captureVariationSet(VeskPlugin& plugin, std::string& error)
{
    auto source = std::make_shared<VariationSetSource>();
    // The lists and settings first, without the lock (only this thread changes them), so the
    // audio thread waits for nothing but a few plain copies.
    captureVariationSetSettings(plugin.sampler, *source);
    {
        std::lock_guard<std::mutex> lock(plugin.stateMutex);
        MasterFXState master;
        plugin.masterFx.exportState(master);
        captureVariationSetDraws(plugin.sampler, plugin.lanes[0], plugin.lanes[1],
                                 plugin.bus1ToMaster, master, plugin.seedSalt, *source);
    }
    const size_t nameLength = strnlen(plugin.trackName, sizeof plugin.trackName);
    source->kitName = nameLength > 0 ? std::string(plugin.trackName, nameLength) : "Vesk";
    source->exportRoot = plugin.currentProjectRoot();
    const std::string missing = missingSampleFiles(*source);
    if (!missing.empty()) {
        error = "the kit's sample files are missing: " + missing;
        return nullptr;
    }
    return source;
}

const vesk_plugin_variation_set_t kVariationSetExtension = {extStart, extProgress, extCancel,
                                                            extResult, extRelease};

} // namespace vesk
