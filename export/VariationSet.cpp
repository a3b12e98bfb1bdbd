#include "export/VariationSet.h"

#include "engine/TriggerSeed.h"
#include "export/BackgroundPriority.h"

#include <ebur128.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <map>
#include <new>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace vesk {
namespace {

constexpr size_t kMaxRequestBytes = 64 * 1024;
constexpr size_t kMaxTemplateBytes = 512;
constexpr size_t kMaxPathBytes = 4096;
constexpr size_t kMaxNameBytes = 200;
constexpr int kMaxFolderAttempts = 1000;

// ---- Text helpers (locale-independent: hosts may run with a decimal comma) ----

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool parseInt(std::string_view s, long long& out)
{
    s = trim(s);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

bool parseU64(std::string_view s, uint64_t& out)
{
    s = trim(s);
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        s.remove_prefix(2);
        base = 16;
    }
    const auto r = std::from_chars(s.data(), s.data() + s.size(), out, base);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty();
}

bool parseDouble(std::string_view s, double& out)
{
    s = trim(s);
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty() && std::isfinite(out);
}

std::string fixed(double v, int digits)
{
    char buffer[64];
    const auto r =
        std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed, digits);
    return r.ec == std::errc() ? std::string(buffer, r.ptr) : std::string("0");
}

std::string number(double v)
{
    char buffer[64];
    const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
    return r.ec == std::errc() ? std::string(buffer, r.ptr) : std::string("0");
}

std::string hex64(uint64_t v)
{
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%llX", static_cast<unsigned long long>(v));
    return buffer;
}

// The first characters of untrusted text, printable, for an error message.
std::string shown(std::string_view s)
{
    std::string out;
    for (char c : s.substr(0, 60))
        out += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
    if (s.size() > 60)
        out += "...";
    return out;
}

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

bool endsWithWav(std::string_view s)
{
    return s.size() >= 4 && lowered(s.substr(s.size() - 4)) == ".wav";
}

const char* whatText(SetWhat w)
{
    return w == SetWhat::Mix ? "mix" : w == SetWhat::Stems ? "stems" : "both";
}

const char* formatText(SetFormat f)
{
    return f == SetFormat::Float32 ? "f32" : f == SetFormat::Pcm24 ? "24" : "16";
}

std::string dateOf(std::time_t t)
{
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr)
        return "00000000";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    return buffer;
}

std::string errnoText(int e)
{
    return std::strerror(e);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Requests

bool validateSetRequest(const VariationSetRequest& r, std::string& error)
{
    if (r.count < 1 || r.count > kMaxSetCount) {
        error = "count must be between 1 and 1000 (got " + std::to_string(r.count) + ")";
        return false;
    }
    if (r.shardCount < 1 || r.shardCount > kMaxSetCount || r.shardIndex < 1 ||
        r.shardIndex > r.shardCount) {
        error = "shard must be I/N with 1 <= I <= N <= 1000 (got " + std::to_string(r.shardIndex) +
                "/" + std::to_string(r.shardCount) + ")";
        return false;
    }
    if (r.threads < 1 || r.threads > kMaxSetThreads) {
        error = "threads must be 1 or 2";
        return false;
    }
    if (!(r.loudnessLufs >= -70.0 && r.loudnessLufs <= 0.0)) {
        error = "the loudness target must be between -70 and 0 LUFS";
        return false;
    }
    if (!(r.peakDbfs >= -60.0 && r.peakDbfs <= 0.0)) {
        error = "the peak target must be between -60 and 0 dBFS";
        return false;
    }
    if (!(r.ceilingDbtp >= -20.0 && r.ceilingDbtp <= 0.0)) {
        error = "the true-peak ceiling must be between -20 and 0 dBTP";
        return false;
    }
    if (r.outFolder.size() > kMaxPathBytes || r.outFolder.find('\0') != std::string::npos) {
        error = "the output folder's path is too long or holds a zero byte";
        return false;
    }
    NameTemplate tmpl;
    return parseNameTemplate(r.nameTemplate, tmpl, error);
}

bool parseSetRequest(std::string_view text, VariationSetRequest& out, std::string& error)
{
    if (text.size() > kMaxRequestBytes) {
        error = "the set request is too long";
        return false;
    }
    bool sawLoudness = false, sawPeak = false;
    size_t pos = 0;
    int lineNumber = 0;
    while (pos <= text.size()) {
        const size_t end = std::min(text.find('\n', pos), text.size());
        const std::string_view line = trim(text.substr(pos, end - pos));
        pos = end + 1;
        ++lineNumber;
        if (line.empty() || line.front() == '#')
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            error = "line " + std::to_string(lineNumber) +
                    " of the set request has no '=': " + shown(line);
            return false;
        }
        const std::string key = lowered(trim(line.substr(0, eq)));
        const std::string_view value = trim(line.substr(eq + 1));
        long long i = 0;
        double d = 0.0;
        if (key == "count") {
            if (!parseInt(value, i)) {
                error = "count is not a whole number: " + shown(value);
                return false;
            }
            if (i < 1 || i > kMaxSetCount) {
                error = "count must be between 1 and 1000 (got " + shown(value) + ")";
                return false;
            }
            out.count = int(i);
        } else if (key == "what") {
            const std::string v = lowered(value);
            if (v == "mix")
                out.what = SetWhat::Mix;
            else if (v == "stems")
                out.what = SetWhat::Stems;
            else if (v == "both")
                out.what = SetWhat::Both;
            else {
                error = "what must be mix, stems or both (got " + shown(value) + ")";
                return false;
            }
        } else if (key == "name") {
            NameTemplate tmpl;
            if (!parseNameTemplate(value, tmpl, error))
                return false;
            out.nameTemplate = std::string(value);
        } else if (key == "format") {
            const std::string v = lowered(value);
            if (v == "f32" || v == "float" || v == "32")
                out.format = SetFormat::Float32;
            else if (v == "24")
                out.format = SetFormat::Pcm24;
            else if (v == "16")
                out.format = SetFormat::Pcm16;
            else {
                error = "format must be f32, 24 or 16 (got " + shown(value) + ")";
                return false;
            }
        } else if (key == "loudness") {
            if (lowered(value) == "none" || lowered(value) == "off") {
                if (out.level == SetLevel::Loudness)
                    out.level = SetLevel::None;
                continue;
            }
            if (!parseDouble(value, d) || d < -70.0 || d > 0.0) {
                error = "loudness must be a target between -70 and 0 LUFS, or none (got " +
                        shown(value) + ")";
                return false;
            }
            out.level = SetLevel::Loudness;
            out.loudnessLufs = d;
            sawLoudness = true;
        } else if (key == "peak") {
            if (!parseDouble(value, d) || d < -60.0 || d > 0.0) {
                error = "peak must be a target between -60 and 0 dBFS (got " + shown(value) + ")";
                return false;
            }
            out.level = SetLevel::Peak;
            out.peakDbfs = d;
            sawPeak = true;
        } else if (key == "ceiling") {
            if (!parseDouble(value, d) || d < -20.0 || d > 0.0) {
                error = "ceiling must be between -20 and 0 dBTP (got " + shown(value) + ")";
                return false;
            }
            out.ceilingDbtp = d;
        } else if (key == "seed") {
            uint64_t s = 0;
            if (!parseU64(value, s)) {
                error = "seed must be a whole number from 0 to 2^64-1, decimal or 0x hex (got " +
                        shown(value) + ")";
                return false;
            }
            out.baseSeed = s;
            out.hasSeed = true;
        } else if (key == "out") {
            if (value.size() > kMaxPathBytes) {
                error = "the output folder's path is too long";
                return false;
            }
            out.outFolder = std::string(value);
        } else if (key == "shard") {
            const size_t slash = value.find('/');
            long long a = 0, b = 0;
            if (slash == std::string_view::npos || !parseInt(value.substr(0, slash), a) ||
                !parseInt(value.substr(slash + 1), b) || b < 1 || b > kMaxSetCount || a < 1 ||
                a > b) {
                error = "shard must be I/N with 1 <= I <= N <= 1000 (got " + shown(value) + ")";
                return false;
            }
            out.shardIndex = int(a);
            out.shardCount = int(b);
        } else if (key == "threads") {
            if (!parseInt(value, i) || i < 1 || i > kMaxSetThreads) {
                error = "threads must be 1 or 2 (got " + shown(value) + ")";
                return false;
            }
            out.threads = int(i);
        } else if (key == "priority") {
            const std::string v = lowered(value);
            if (v != "low" && v != "normal") {
                error = "priority must be low or normal (got " + shown(value) + ")";
                return false;
            }
            out.background = v == "low";
        } else if (key == "time") {
            if (!parseInt(value, i) || i < 0) {
                error = "time must be seconds since 1970 (got " + shown(value) + ")";
                return false;
            }
            out.timeStamp = std::time_t(i);
        } else {
            error = "unknown setting \"" + shown(key) + "\" in the set request";
            return false;
        }
    }
    if (sawLoudness && sawPeak) {
        error = "loudness and peak normalisation exclude each other; give one of them";
        return false;
    }
    return true;
}

std::string formatSetRequest(const VariationSetRequest& r)
{
    std::string s;
    s += "count=" + std::to_string(r.count) + "\n";
    s += std::string("what=") + whatText(r.what) + "\n";
    s += "name=" + r.nameTemplate + "\n";
    s += std::string("format=") + formatText(r.format) + "\n";
    if (r.level == SetLevel::Loudness)
        s += "loudness=" + number(r.loudnessLufs) + "\n";
    if (r.level == SetLevel::Peak)
        s += "peak=" + number(r.peakDbfs) + "\n";
    s += "ceiling=" + number(r.ceilingDbtp) + "\n";
    if (r.hasSeed)
        s += "seed=" + std::to_string(r.baseSeed) + "\n";
    if (!r.outFolder.empty())
        s += "out=" + r.outFolder + "\n";
    s += "shard=" + std::to_string(r.shardIndex) + "/" + std::to_string(r.shardCount) + "\n";
    s += "threads=" + std::to_string(r.threads) + "\n";
    s += std::string("priority=") + (r.background ? "low" : "normal") + "\n";
    if (r.timeStamp >= 0)
        s += "time=" + std::to_string(static_cast<long long>(r.timeStamp)) + "\n";
    return s;
}

// ---------------------------------------------------------------------------------------------
// Names

bool parseNameTemplate(std::string_view text, NameTemplate& out, std::string& error)
{
    out = NameTemplate{};
    if (trim(text).empty()) {
        error = "the name template is empty";
        return false;
    }
    if (text.size() > kMaxTemplateBytes) {
        error = "the name template is longer than 512 bytes";
        return false;
    }
    if (endsWithWav(text))
        text.remove_suffix(4);
    std::string literal;
    auto flush = [&] {
        if (!literal.empty()) {
            NameTemplate::Part p;
            p.text = std::move(literal);
            out.parts.push_back(std::move(p));
            literal.clear();
        }
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '}') {
            error = "unmatched } in the name template";
            return false;
        }
        if (c != '{') {
            literal += c;
            continue;
        }
        const size_t close = text.find('}', i + 1);
        if (close == std::string_view::npos) {
            error = "unclosed { in the name template";
            return false;
        }
        const std::string_view token = text.substr(i + 1, close - i - 1);
        NameTemplate::Part p;
        if (token == "kit") {
            p.token = NameTemplate::Token::Kit;
        } else if (token == "n") {
            p.token = NameTemplate::Token::Number;
        } else if (token.size() >= 3 && token.substr(0, 2) == "n:" &&
                   std::all_of(token.begin() + 2, token.end(),
                               [](char d) { return d >= '0' && d <= '9'; }) &&
                   token.size() <= 4) {
            long long w = 0;
            parseInt(token.substr(2), w);
            if (w < 1 || w > 9) {
                error = "the padding of {" + shown(token) + "} must be 1 to 9 digits";
                return false;
            }
            p.token = NameTemplate::Token::Number;
            p.width = int(w);
        } else if (token == "pool") {
            p.token = NameTemplate::Token::Pool;
            out.hasPool = true;
        } else if (token == "seed") {
            p.token = NameTemplate::Token::Seed;
        } else if (token == "date") {
            p.token = NameTemplate::Token::Date;
        } else {
            error = "unknown token {" + shown(token) +
                    "} in the name template (known: {kit} {n} {n:03} {pool} {seed} {date})";
            return false;
        }
        if (p.token == NameTemplate::Token::Number || p.token == NameTemplate::Token::Seed)
            out.hasNumberOrSeed = true;
        flush();
        out.parts.push_back(std::move(p));
        i = close;
    }
    flush();
    return true;
}

namespace {

// Length of the valid UTF-8 sequence starting at s[i], or 0 when it is not one.
size_t utf8Length(std::string_view s, size_t i)
{
    const auto b = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    uint32_t cp = 0;
    if (b < 0x80)
        return 1;
    if ((b & 0xE0) == 0xC0) {
        n = 2;
        cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        n = 3;
        cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        n = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size())
        return 0;
    for (size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    const uint32_t minimum = n == 2 ? 0x80 : n == 3 ? 0x800 : 0x10000;
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

bool isReservedDeviceName(std::string_view name)
{
    const std::string base = lowered(name.substr(0, name.find('.')));
    static const char* kReserved[] = {"con", "prn", "aux", "nul"};
    for (const char* r : kReserved)
        if (base == r)
            return true;
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

} // namespace

std::string sanitizeFileName(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const size_t n = utf8Length(name, i);
        if (n == 0) {
            out += '_';
            ++i;
            continue;
        }
        if (n == 1) {
            const char c = name[i];
            const bool bad = static_cast<unsigned char>(c) < 0x20 || c == 0x7F ||
                             std::strchr("/\\:*?\"<>|", c) != nullptr;
            out += bad ? '_' : c;
        } else {
            out.append(name.substr(i, n));
        }
        i += n;
    }
    if (isReservedDeviceName(out))
        out.insert(out.begin(), '_');
    // Cut to the longest name file systems agree on, on a character boundary.
    if (out.size() > kMaxNameBytes) {
        size_t cut = kMaxNameBytes;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut;
        out.resize(cut);
    }
    while (!out.empty() && (out.front() == ' '))
        out.erase(out.begin());
    while (!out.empty() && (out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    if (!out.empty() && out.front() == '.')
        out.front() = '_';
    if (out.empty())
        out = "Vesk";
    if (isReservedDeviceName(out)) // a reserved stem the trimming left
        out.front() = '_';
    return out;
}

std::string expandName(const NameTemplate& tmpl, const NameFields& f)
{
    std::string s;
    for (const NameTemplate::Part& p : tmpl.parts) {
        switch (p.token) {
        case NameTemplate::Token::Text:
            s += p.text;
            break;
        case NameTemplate::Token::Kit:
            s += f.kit;
            break;
        case NameTemplate::Token::Number: {
            std::string digits = std::to_string(f.n);
            if (int(digits.size()) < p.width)
                digits.insert(0, size_t(p.width) - digits.size(), '0');
            s += digits;
            break;
        }
        case NameTemplate::Token::Pool:
            s += f.pool == 0 ? std::string("Mix") : std::to_string(f.pool);
            break;
        case NameTemplate::Token::Seed:
            s += hex64(f.seed);
            break;
        case NameTemplate::Token::Date:
            s += f.date;
            break;
        }
    }
    std::string name = sanitizeFileName(s);
    if (f.pool != 0 && !tmpl.hasPool) {
        // Room for the pool, so a long name never loses it.
        if (name.size() > kMaxNameBytes - 4) {
            size_t cut = kMaxNameBytes - 4;
            while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
                --cut;
            name.resize(cut);
        }
        name += "_" + std::to_string(f.pool);
    }
    return name + ".wav";
}

uint64_t variationSeed(uint64_t baseSeed, int n)
{
    return mix64(baseSeed + uint64_t(uint32_t(n)) * kGoldenGamma);
}

void shardRange(int count, int shardIndex, int shardCount, int& first, int& last)
{
    if (count < 1 || shardCount < 1 || shardIndex < 1 || shardIndex > shardCount) {
        first = 1;
        last = 0;
        return;
    }
    first = int((long long)(shardIndex - 1) * count / shardCount) + 1;
    last = int((long long)shardIndex * count / shardCount);
}

// ---------------------------------------------------------------------------------------------
// The engine copy

namespace {

void copyRandomizerSettings(const ParamRandomizer& from, ParamRandomizer& to)
{
    to.base = from.base;
    to.range = from.range;
    to.enabled = from.enabled;
}

} // namespace

void captureVariationSetSettings(const Sampler& sampler, VariationSetSource& out)
{
    for (int i = 0; i < kNumPools; ++i) {
        const SamplePool& from = sampler.pools[i];
        SamplePool& to = out.pools[size_t(i)];
        to.samples = from.samples;
        std::memcpy(to.name, from.name, sizeof to.name);
        to.outputRoute = from.outputRoute;
        to.volumeEnv = from.volumeEnv;
        to.panEnv = from.panEnv;
        to.pitchEnv = from.pitchEnv;
        to.hpfEnv = from.hpfEnv;
        to.lpfEnv = from.lpfEnv;
        to.fadeIn = from.fadeIn;
        to.fadeOut = from.fadeOut;
        to.pitchTrack = from.pitchTrack;
        to.grainCloud = from.grainCloud;
    }
}

void captureVariationSetDraws(const Sampler& sampler, const FXLane& bus1, const FXLane& bus2,
                              bool bus1ToMaster, const MasterFXState& master, uint64_t salt,
                              VariationSetSource& out)
{
    for (int i = 0; i < kNumPools; ++i) {
        const SamplePool& from = sampler.pools[i];
        SamplePool& to = out.pools[size_t(i)];
        // The knobs a host modulates: the audio thread puts its modulation on them while it
        // renders, so they are read here, where it cannot.
        copyRandomizerSettings(from.pitch, to.pitch);
        copyRandomizerSettings(from.volume, to.volume);
        copyRandomizerSettings(from.pan, to.pan);
        copyRandomizerSettings(from.delay, to.delay);
        copyRandomizerSettings(from.start, to.start);
        to.reverseChance = from.reverseChance;
        to.hpfHz = from.hpfHz;
        to.lpfHz = from.lpfHz;
        to.lastPick = from.lastPick;
        to.prevPick = from.prevPick;
        to.pitch.lastQuadrant = from.pitch.lastQuadrant;
        to.volume.lastQuadrant = from.volume.lastQuadrant;
        to.pan.lastQuadrant = from.pan.lastQuadrant;
        to.delay.lastQuadrant = from.delay.lastQuadrant;
        to.start.lastQuadrant = from.start.lastQuadrant;
        out.lastParams[size_t(i)] = sampler.lastParams[i];
        out.frozenParams[size_t(i)] = sampler.frozenParams[i];
        out.walks[size_t(i)] = sampler.walks[i];
        out.stealCursor[size_t(i)] = sampler.stealCursor[i];
    }
    out.freezeMask = sampler.freezeMask;
    out.soloMask = sampler.soloMask;
    out.muteMask = sampler.muteMask;
    out.retriggerMode = sampler.retriggerMode;
    out.rate = sampler.sampleRate;
    out.salt = salt;
    out.lanes[0] = captureLaneFX(bus1);
    out.lanes[1] = captureLaneFX(bus2);
    out.bus1ToMaster = bus1ToMaster;
    out.master = master;
}

void captureVariationSetSource(const Sampler& sampler, const FXLane& bus1, const FXLane& bus2,
                               bool bus1ToMaster, const MasterFXState& master, uint64_t salt,
                               VariationSetSource& out)
{
    captureVariationSetSettings(sampler, out);
    captureVariationSetDraws(sampler, bus1, bus2, bus1ToMaster, master, salt, out);
}

std::string missingSampleFiles(const VariationSetSource& source)
{
    std::vector<std::string> names;
    size_t total = 0;
    for (const SamplePool& pool : source.pools)
        for (const SampleData& s : pool.samples)
            if (s.audio == nullptr || s.audio->left.empty() || s.audio->channels == 0) {
                ++total;
                const std::string path = s.audio != nullptr ? s.audio->path : std::string("?");
                if (names.size() < 5 && std::find(names.begin(), names.end(), path) == names.end())
                    names.push_back(path);
            }
    std::string out;
    for (const std::string& n : names)
        out += (out.empty() ? "" : ", ") + n;
    if (total > names.size())
        out += " and " + std::to_string(total - names.size()) + " more";
    return out;
}

namespace {

bool poolHasSamples(const VariationSetSource& s, int i)
{
    return !s.pools[size_t(i)].samples.empty();
}

bool poolAudible(const VariationSetSource& s, int i)
{
    const unsigned bit = 1u << i;
    return (s.muteMask & bit) == 0 && (s.soloMask == 0 || (s.soloMask & bit) != 0);
}

bool raised(const std::atomic<bool>* flag)
{
    return flag != nullptr && flag->load(std::memory_order_relaxed);
}

// Adds src into dst from frame 0, growing dst with zeros when src is longer (as the mix job).
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

// The export's run through a bus or the master chain with its tail (processLaneWithTail), block
// for block the same, looking at `cancel` between blocks so a cancelled set stops at once even
// inside a 30-second tail. False when cancelled.
template <typename Process>
bool processWithTail(Process&& process, std::vector<float>& left, std::vector<float>& right,
                     double rate, const std::atomic<bool>* cancel)
{
    if (right.size() != left.size())
        right.resize(left.size(), 0.0f);
    const size_t n = left.size();
    for (size_t pos = 0; pos < n; pos += kOfflineBlockFrames) {
        if (raised(cancel))
            return false;
        const size_t len = std::min<size_t>(kOfflineBlockFrames, n - pos);
        process(left.data() + pos, right.data() + pos, unsigned(len));
    }
    const double t = std::trunc(rate * kMaxTailSeconds);
    const size_t limit = t > 0.0 ? size_t(t) : 0;
    size_t done = 0;
    int quiet = 0;
    while (done < limit) {
        if (raised(cancel))
            return false;
        const size_t len = std::min<size_t>(kOfflineBlockFrames, limit - done);
        const size_t at = left.size();
        left.resize(at + len, 0.0f);
        right.resize(at + len, 0.0f);
        process(left.data() + at, right.data() + at, unsigned(len));
        done += len;
        float peak = 0.0f;
        for (size_t i = at; i < at + len; ++i)
            peak = std::max({peak, std::abs(left[i]), std::abs(right[i])});
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
    return true;
}

bool laneWithTail(const LaneFXSnapshot& snapshot, ModuleLookup lookup, std::vector<float>& left,
                  std::vector<float>& right, double rate, const std::atomic<bool>* cancel)
{
    auto lane = std::make_unique<FXLane>();
    buildOfflineLane(snapshot, *lane, rate, lookup);
    return processWithTail(
        [&](float* l, float* r, unsigned frames) { lane->processInternal(l, r, frames, nullptr); },
        left, right, rate, cancel);
}

} // namespace

VariationRenderer::VariationRenderer() : sampler_(std::make_unique<Sampler>()) {}
VariationRenderer::~VariationRenderer() = default;

bool VariationRenderer::render(const VariationSetSource& source, uint64_t seed, SetWhat what,
                               RenderedVariation& out, const std::atomic<bool>* cancel)
{
    out.mixLeft.clear();
    out.mixRight.clear();
    for (auto& s : out.stems)
        s = Sampler::PoolRenderResult{};

    // The instance as it was when the set started, then one Random with this seed.
    Sampler& s = *sampler_;
    s.cut();
    if (s.sampleRate != source.rate)
        s.setSampleRate(source.rate);
    for (int i = 0; i < kNumPools; ++i) {
        s.pools[i] = source.pools[size_t(i)];
        s.lastParams[i] = source.lastParams[size_t(i)];
        s.frozenParams[i] = source.frozenParams[size_t(i)];
        s.walks[i] = source.walks[size_t(i)];
        s.stealCursor[i] = source.stealCursor[size_t(i)];
    }
    s.freezeMask = source.freezeMask;
    s.soloMask = source.soloMask;
    s.muteMask = source.muteMask;
    s.retriggerMode = source.retriggerMode;
    s.triggerSalted(source.salt, seed, 60);

    // From here on exactly what an export of that trigger does.
    std::array<VoiceParams, kNumPools> plan{};
    s.captureOfflineRenderPlan(plan);
    std::array<Sampler::PoolRenderResult, kNumPools> dry;
    s.renderAllPoolsOffline(plan, dry, source.rate);
    s.cut();
    if (raised(cancel))
        return false;

    const double rate = source.rate;
    if (what != SetWhat::Stems) {
        size_t length = 0;
        for (const auto& stem : dry)
            if (stem.hasAudio)
                length = std::max(length, stem.left.size());
        if (length > 0) {
            std::vector<float> busL[2], busR[2], masterL(length, 0.0f), masterR(length, 0.0f);
            for (int b = 0; b < 2; ++b) {
                busL[b].assign(length, 0.0f);
                busR[b].assign(length, 0.0f);
            }
            for (int i = 0; i < kNumPools; ++i) {
                const Sampler::PoolRenderResult& stem = dry[size_t(i)];
                if (!stem.hasAudio)
                    continue;
                const PoolRoute route = source.pools[size_t(i)].outputRoute;
                if (route == PoolRoute::Master)
                    addInto(masterL, masterR, stem.left, stem.right);
                else {
                    const int b = route == PoolRoute::Bus2 ? 1 : 0;
                    addInto(busL[b], busR[b], stem.left, stem.right);
                }
            }
            if (!laneWithTail(source.lanes[0], source.moduleLookup, busL[0], busR[0], rate, cancel))
                return false;
            if (source.bus1ToMaster)
                addInto(masterL, masterR, busL[0], busR[0]);
            else
                addInto(busL[1], busR[1], busL[0], busR[0]);
            if (!laneWithTail(source.lanes[1], source.moduleLookup, busL[1], busR[1], rate, cancel))
                return false;
            addInto(masterL, masterR, busL[1], busR[1]);
            auto master = std::make_unique<MasterFX>();
            master->setSampleRate(rate);
            master->applyState(source.master);
            if (!processWithTail(
                    [&](float* l, float* r, unsigned frames) { master->process(l, r, frames); },
                    masterL, masterR, rate, cancel))
                return false;
            const size_t latency = size_t(std::max(0, master->getLatencySamples()));
            const size_t drop = std::min(latency, masterL.size());
            masterL.erase(masterL.begin(), masterL.begin() + ptrdiff_t(drop));
            masterR.erase(masterR.begin(), masterR.begin() + ptrdiff_t(drop));
            out.mixLeft = std::move(masterL);
            out.mixRight = std::move(masterR);
        }
    }
    if (what != SetWhat::Mix) {
        for (int i = 0; i < kNumPools; ++i) {
            Sampler::PoolRenderResult& stem = dry[size_t(i)];
            if (!stem.hasAudio || stem.left.empty())
                continue;
            const PoolRoute route = source.pools[size_t(i)].outputRoute;
            if ((route == PoolRoute::Bus1 || route == PoolRoute::Bus2) &&
                !laneWithTail(source.lanes[route == PoolRoute::Bus2 ? 1 : 0], source.moduleLookup,
                              stem.left, stem.right, rate, cancel))
                return false;
            out.stems[size_t(i)] = std::move(stem);
        }
    }
    return !raised(cancel);
}

// ---------------------------------------------------------------------------------------------
// Levels and files

namespace {

struct Measure
{
    double loudness = -HUGE_VAL;   // LUFS
    double truePeak = -HUGE_VAL;   // dBTP
    double samplePeak = -HUGE_VAL; // dBFS
};

double toDb(double linear)
{
    return linear > 0.0 ? 20.0 * std::log10(linear) : -HUGE_VAL;
}

// Integrated loudness and true peak (EBU R 128). A sound shorter than one 400 ms gating block
// has no integrated loudness; it is measured over its whole length, ungated.
bool measure(const std::vector<float>& left, const std::vector<float>& right, double rate,
             Measure& m)
{
    const size_t frames = left.size();
    const unsigned long sr = (unsigned long)std::max(1.0, std::trunc(rate));
    const unsigned long ms = (unsigned long)(double(frames) * 1000.0 / double(sr));
    const bool shortSound = ms < 400;
    int mode = EBUR128_MODE_TRUE_PEAK | EBUR128_MODE_SAMPLE_PEAK |
               (shortSound ? EBUR128_MODE_M : EBUR128_MODE_I);
    ebur128_state* st = ebur128_init(2, sr, mode);
    if (st == nullptr)
        return false;
    bool ok = true;
    if (shortSound && ms > 0)
        ok = ebur128_set_max_window(st, ms) == EBUR128_SUCCESS;
    std::vector<float> interleaved;
    constexpr size_t kChunk = 8192;
    interleaved.resize(kChunk * 2);
    for (size_t pos = 0; ok && pos < frames; pos += kChunk) {
        const size_t n = std::min(kChunk, frames - pos);
        for (size_t i = 0; i < n; ++i) {
            interleaved[2 * i] = left[pos + i];
            interleaved[2 * i + 1] = right.size() == frames ? right[pos + i] : left[pos + i];
        }
        ok = ebur128_add_frames_float(st, interleaved.data(), n) == EBUR128_SUCCESS;
    }
    double lufs = -HUGE_VAL;
    if (ok) {
        if (shortSound)
            ok = ms == 0 || ebur128_loudness_window(st, ms, &lufs) == EBUR128_SUCCESS;
        else
            ok = ebur128_loudness_global(st, &lufs) == EBUR128_SUCCESS;
    }
    double tp = 0.0, sp = 0.0;
    for (unsigned c = 0; ok && c < 2; ++c) {
        double t = 0.0, p = 0.0;
        ok = ebur128_true_peak(st, c, &t) == EBUR128_SUCCESS &&
             ebur128_sample_peak(st, c, &p) == EBUR128_SUCCESS;
        tp = std::max(tp, t);
        sp = std::max(sp, p);
    }
    ebur128_destroy(&st);
    if (!ok)
        return false;
    m.loudness = std::isfinite(lufs) && lufs > -200.0 ? lufs : -HUGE_VAL;
    m.truePeak = toDb(tp);
    m.samplePeak = toDb(sp);
    return true;
}

// The gain a file gets; sets atCeiling when the true-peak ceiling held the loudness back.
double levelGain(const VariationSetRequest& r, const Measure& m, bool& atCeiling)
{
    atCeiling = false;
    if (r.level == SetLevel::Loudness) {
        if (!std::isfinite(m.loudness))
            return 0.0;
        double g = r.loudnessLufs - m.loudness;
        if (std::isfinite(m.truePeak) && m.truePeak + g > r.ceilingDbtp) {
            g = r.ceilingDbtp - m.truePeak;
            atCeiling = true;
        }
        return g;
    }
    if (r.level == SetLevel::Peak)
        return std::isfinite(m.samplePeak) ? r.peakDbfs - m.samplePeak : 0.0;
    return 0.0;
}

// Triangular-PDF dither: the sum of two uniform values, -1..1 LSB, from a generator seeded by the
// file, so a file is made again bit for bit.
struct Dither
{
    uint64_t state;
    explicit Dither(uint64_t seed) : state(seed) {}
    double uniform() { return double(nextFreshSeed(state) >> 11) * (1.0 / 9007199254740992.0); }
    double next() { return uniform() + uniform() - 1.0; }
};

struct FileToWrite
{
    std::string folder;
    std::string name;
    const std::vector<float>* left = nullptr;
    const std::vector<float>* right = nullptr;
    double rate = 48000.0;
    double gainDb = 0.0;
    SetFormat format = SetFormat::Float32;
    uint64_t ditherSeed = 0;
    std::string description;                           // bext description, at most 255 bytes
    std::string seedText;                              // bext originator reference
    std::time_t when = -1;                             // origination time; -1: none
    double loudness = -HUGE_VAL, truePeak = -HUGE_VAL; // after gain, for the bext loudness fields
};

void copyField(char* dst, size_t size, const std::string& s)
{
    std::memset(dst, 0, size);
    std::memcpy(dst, s.data(), std::min(size, s.size()));
}

int16_t bextLevel(double v)
{
    if (!std::isfinite(v))
        return int16_t(0x7FFF); // "not given"
    return int16_t(std::clamp(std::lround(v * 100.0), -32767L, 32766L));
}

// Writes under a hidden temporary name, then links the complete file into place without ever
// replacing an existing one. Returns "" on success, else the reason; nothing is left behind then.
std::string writeSetFile(const FileToWrite& f)
{
    const std::string finalPath = f.folder + "/" + f.name;
    const std::string tmpPath = f.folder + "/." + f.name + ".part";
    const int fd = ::open(tmpPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return "cannot create " + finalPath + ": " + errnoText(errno);

    SF_INFO info{};
    info.samplerate = int(std::clamp(std::trunc(f.rate), 1.0, 2147483647.0));
    info.channels = 2;
    info.format = SF_FORMAT_WAV | (f.format == SetFormat::Float32 ? SF_FORMAT_FLOAT
                                   : f.format == SetFormat::Pcm24 ? SF_FORMAT_PCM_24
                                                                  : SF_FORMAT_PCM_16);
    SNDFILE* sf = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (sf == nullptr) {
        ::close(fd);
        ::unlink(tmpPath.c_str());
        return "cannot write " + finalPath + ": " + sf_strerror(nullptr);
    }
    std::string failure;
    sf_command(sf, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);

    SF_BROADCAST_INFO bext{};
    copyField(bext.description, sizeof bext.description, f.description.substr(0, 255));
    copyField(bext.originator, sizeof bext.originator, "Halvoren Vesk");
    copyField(bext.originator_reference, sizeof bext.originator_reference, f.seedText);
    // The origination time only when the request fixed it: otherwise a set rendered twice, or
    // in shards at different times, would differ in these bytes.
    std::tm local{};
    if (f.when >= 0 && ::localtime_r(&f.when, &local) != nullptr) {
        char date[64], time[64];
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", local.tm_year + 1900,
                      (local.tm_mon + 1) % 100, local.tm_mday % 100);
        std::snprintf(time, sizeof time, "%02d:%02d:%02d", local.tm_hour % 100, local.tm_min % 100,
                      local.tm_sec % 100);
        std::memcpy(bext.origination_date, date, 10);
        std::memcpy(bext.origination_time, time, 8);
    }
    bext.version = 2;
    bext.loudness_value = bextLevel(f.loudness);
    bext.loudness_range = int16_t(0x7FFF);
    bext.max_true_peak_level = bextLevel(f.truePeak);
    bext.max_momentary_loudness = int16_t(0x7FFF);
    bext.max_shortterm_loudness = int16_t(0x7FFF);
    const std::string history = std::string("A=") +
                                (f.format == SetFormat::Float32 ? "PCM_FLOAT" : "PCM") +
                                ",F=" + std::to_string(info.samplerate) + ",W=" +
                                (f.format == SetFormat::Float32 ? "32"
                                 : f.format == SetFormat::Pcm24 ? "24"
                                                                : "16") +
                                ",M=stereo,T=Halvoren Vesk\r\n";
    copyField(bext.coding_history, sizeof bext.coding_history, history);
    bext.coding_history_size = uint32_t(std::min(history.size(), sizeof bext.coding_history));
    if (sf_command(sf, SFC_SET_BROADCAST_INFO, &bext, sizeof bext) != SF_TRUE)
        failure = "cannot write the broadcast info of " + finalPath;

    const std::vector<float>& L = *f.left;
    const std::vector<float>& R = *f.right;
    const size_t frames = L.size();
    const float gain = float(std::pow(10.0, f.gainDb / 20.0));
    Dither dither(f.ditherSeed);
    constexpr size_t kChunk = 4096;
    std::vector<float> fbuf;
    std::vector<int> ibuf;
    std::vector<short> sbuf;
    for (size_t pos = 0; failure.empty() && pos < frames; pos += kChunk) {
        const size_t n = std::min(kChunk, frames - pos);
        sf_count_t wrote = 0;
        if (f.format == SetFormat::Float32) {
            fbuf.resize(2 * n);
            for (size_t i = 0; i < n; ++i) {
                fbuf[2 * i] = L[pos + i] * gain;
                fbuf[2 * i + 1] = (R.size() == frames ? R[pos + i] : L[pos + i]) * gain;
            }
            wrote = sf_writef_float(sf, fbuf.data(), sf_count_t(n));
        } else if (f.format == SetFormat::Pcm24) {
            ibuf.resize(2 * n);
            for (size_t i = 0; i < 2 * n; ++i) {
                const float x =
                    ((i & 1) == 0 || R.size() != frames ? L[pos + i / 2] : R[pos + i / 2]) * gain;
                const double q =
                    std::clamp(std::nearbyint(double(x) * 8388607.0), -8388608.0, 8388607.0);
                ibuf[i] = int(q) * 256; // left-justified 32-bit
            }
            wrote = sf_writef_int(sf, ibuf.data(), sf_count_t(n));
        } else {
            sbuf.resize(2 * n);
            for (size_t i = 0; i < 2 * n; ++i) {
                const float x =
                    ((i & 1) == 0 || R.size() != frames ? L[pos + i / 2] : R[pos + i / 2]) * gain;
                const double q = std::clamp(std::floor(double(x) * 32767.0 + dither.next() + 0.5),
                                            -32768.0, 32767.0);
                sbuf[i] = short(q);
            }
            wrote = sf_writef_short(sf, sbuf.data(), sf_count_t(n));
        }
        if (wrote != sf_count_t(n)) {
            const int e = errno;
            failure = "cannot write " + finalPath + ": " +
                      (e == ENOSPC  ? std::string("the disk is full")
                       : e == EFBIG ? std::string("the file is too large for the disk")
                                    : std::string(sf_strerror(sf)));
        }
    }
    if (sf_close(sf) != 0 && failure.empty())
        failure = "cannot finish " + finalPath + ": the disk may be full";
    if (::close(fd) != 0 && failure.empty())
        failure = "cannot finish " + finalPath + ": " + errnoText(errno);
    if (failure.empty()) {
        struct stat st
        {};
        if (::stat(tmpPath.c_str(), &st) != 0 || st.st_size < 44)
            failure = "cannot finish " + finalPath;
    }
    if (!failure.empty()) {
        ::unlink(tmpPath.c_str());
        return failure;
    }
    // Into place, never over another file.
    if (::link(tmpPath.c_str(), finalPath.c_str()) != 0) {
        const int e = errno;
        if (e == EEXIST) {
            ::unlink(tmpPath.c_str());
            return finalPath + " appeared while the set was rendering; it was left as it was";
        }
        // File systems without hard links: rename, the name having been checked free.
        struct stat st
        {};
        if (::lstat(finalPath.c_str(), &st) == 0 ||
            ::rename(tmpPath.c_str(), finalPath.c_str()) != 0) {
            ::unlink(tmpPath.c_str());
            return "cannot place " + finalPath + ": " + errnoText(e);
        }
        return {};
    }
    ::unlink(tmpPath.c_str());
    return {};
}

bool exists(const std::string& path)
{
    struct stat st
    {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string stripSlashes(std::string s)
{
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

std::string csvField(const std::string& s)
{
    if (s.find_first_of(",\"\n\r") == std::string::npos)
        return s;
    std::string out = "\"";
    for (char c : s)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string jsonString(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
            out += buffer;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string levelOrNull(double v, bool json)
{
    if (!std::isfinite(v))
        return json ? "null" : "-inf";
    return fixed(v, 2);
}

// Writes a small text file under a temporary name and moves it into place (the name was checked
// free, or is this set's own from an earlier write).
std::string writeText(const std::string& folder, const std::string& name, const std::string& text)
{
    const std::string finalPath = folder + "/" + name;
    const std::string tmpPath = folder + "/." + name + ".part";
    const int fd = ::open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return "cannot write " + finalPath + ": " + errnoText(errno);
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int e = errno;
            ::close(fd);
            ::unlink(tmpPath.c_str());
            return "cannot write " + finalPath + ": " + errnoText(e);
        }
        done += size_t(n);
    }
    if (::close(fd) != 0 || ::rename(tmpPath.c_str(), finalPath.c_str()) != 0) {
        const int e = errno;
        ::unlink(tmpPath.c_str());
        return "cannot write " + finalPath + ": " + errnoText(e);
    }
    return {};
}

std::string levelText(const VariationSetRequest& r)
{
    if (r.level == SetLevel::Loudness)
        return fixed(r.loudnessLufs, 1) + " LUFS, ceiling " + fixed(r.ceilingDbtp, 1) + " dBTP";
    if (r.level == SetLevel::Peak)
        return "peak " + fixed(r.peakDbfs, 1) + " dBFS";
    return "none";
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The set

VariationSetResult renderVariationSet(const VariationSetSource& source,
                                      const VariationSetRequest& request, SetProgress* progress,
                                      const std::atomic<bool>* cancel)
{
    VariationSetResult result;
    std::string error;
    if (!validateSetRequest(request, error)) {
        result.error = error;
        return result;
    }
    NameTemplate tmpl;
    parseNameTemplate(request.nameTemplate, tmpl, error);

    const std::string missing = missingSampleFiles(source);
    if (!missing.empty()) {
        result.error = "the kit's sample files are missing: " + missing;
        return result;
    }
    bool anySamples = false;
    for (int i = 0; i < kNumPools; ++i)
        anySamples = anySamples || (poolHasSamples(source, i) && poolAudible(source, i));
    if (!anySamples) {
        result.error = "the kit has no audible pool with samples; nothing to render";
        return result;
    }
    if (!(source.rate >= 1.0) || !std::isfinite(source.rate)) {
        result.error = "the engine rate is not valid";
        return result;
    }

    uint64_t base = request.baseSeed;
    if (!request.hasSeed) {
        std::random_device rd;
        base = (uint64_t(rd()) << 32) ^ uint64_t(rd());
    }
    result.baseSeed = base;
    const std::time_t when = request.timeStamp >= 0 ? request.timeStamp : std::time(nullptr);
    const std::string date = dateOf(when);
    const std::string kit = source.kitName.empty() ? std::string("Vesk") : source.kitName;
    const bool wantMix = request.what != SetWhat::Stems;
    const bool wantStems = request.what != SetWhat::Mix;

    // Every name of the whole set, so shards of one set agree on what clashes.
    std::map<std::string, std::pair<int, int>> seen; // lower-cased name -> (n, pool)
    auto nameOf = [&](int n, int pool) {
        NameFields f;
        f.kit = kit;
        f.n = n;
        f.pool = pool;
        f.seed = variationSeed(base, n);
        f.date = date;
        return expandName(tmpl, f);
    };
    for (int n = 1; n <= request.count; ++n) {
        for (int pool = 0; pool <= kNumPools; ++pool) {
            if (pool == 0 ? !wantMix
                          : (!wantStems || !poolHasSamples(source, pool - 1) ||
                             !poolAudible(source, pool - 1)))
                continue;
            const std::string name = nameOf(n, pool);
            const auto [it, fresh] = seen.emplace(lowered(name), std::make_pair(n, pool));
            if (!fresh) {
                result.error = "the name template gives two files the same name \"" + name +
                               "\" (variations " + std::to_string(it->second.first) + " and " +
                               std::to_string(n) + "); add {n} or {seed}";
                return result;
            }
        }
    }

    int first = 1, last = 0;
    shardRange(request.count, request.shardIndex, request.shardCount, first, last);
    const bool sharded = request.shardCount > 1;
    const std::string manifestBase = sharded ? "manifest-" + std::to_string(request.shardIndex) +
                                                   "of" + std::to_string(request.shardCount)
                                             : std::string("manifest");

    // The folder: the one asked for, or a new one for the set under the export folder.
    std::string folder;
    if (!request.outFolder.empty()) {
        folder = stripSlashes(request.outFolder);
        if (!makeFolders(folder)) {
            result.error = "cannot create the folder " + folder + ": " + errnoText(errno);
            return result;
        }
    } else {
        const std::string root =
            stripSlashes(!source.exportRoot.empty() ? source.exportRoot : defaultExportFolder());
        if (root.empty()) {
            result.error = "no export folder is known (no project folder and no home folder); "
                           "choose a folder";
            return result;
        }
        if (!makeFolders(root)) {
            result.error = "cannot create the folder " + root + ": " + errnoText(errno);
            return result;
        }
        char stamp[96];
        std::tm local{};
        ::localtime_r(&when, &local);
        std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", local.tm_year + 1900,
                      (local.tm_mon + 1) % 100, local.tm_mday % 100, local.tm_hour % 100,
                      local.tm_min % 100, local.tm_sec % 100);
        const std::string name = sanitizeFileName(kit + " Set " + stamp);
        for (int attempt = 1; attempt <= kMaxFolderAttempts && folder.empty(); ++attempt) {
            const std::string candidate =
                root + "/" + name + (attempt == 1 ? "" : "-" + std::to_string(attempt));
            if (::mkdir(candidate.c_str(), 0755) == 0)
                folder = candidate;
            else if (errno != EEXIST) {
                result.error = "cannot create the folder " + candidate + ": " + errnoText(errno);
                return result;
            }
        }
        if (folder.empty()) {
            result.error = "cannot find a free name for the set's folder in " + root;
            return result;
        }
    }
    result.folder = folder;

    // Writable at all?
    {
        const std::string probe = folder + "/.vesk-write-test-" + std::to_string(::getpid());
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            result.error = "cannot write into the folder " + folder + ": " + errnoText(errno);
            return result;
        }
        ::close(fd);
        ::unlink(probe.c_str());
    }
    // Nothing this run writes may exist already.
    for (const std::string& m : {manifestBase + ".csv", manifestBase + ".json"})
        if (exists(folder + "/" + m)) {
            result.error = m + " already exists in " + folder +
                           "; a set never writes over files (choose another folder)";
            return result;
        }
    for (int n = first; n <= last; ++n)
        for (int pool = 0; pool <= kNumPools; ++pool) {
            if (pool == 0 ? !wantMix
                          : (!wantStems || !poolHasSamples(source, pool - 1) ||
                             !poolAudible(source, pool - 1)))
                continue;
            const std::string name = nameOf(n, pool);
            if (exists(folder + "/" + name)) {
                result.error = name + " already exists in " + folder +
                               "; a set never writes over files (choose another folder or "
                               "template)";
                return result;
            }
        }

    const int total = std::max(0, last - first + 1);
    result.variationsTotal = total;
    if (progress != nullptr) {
        progress->total.store(total, std::memory_order_relaxed);
        progress->done.store(0, std::memory_order_relaxed);
    }

    std::atomic<int> next{first};
    std::atomic<int> done{0};
    std::atomic<bool> stop{false};
    std::mutex mutex; // records and the first error
    std::string firstError;
    std::vector<SetFileRecord> records;
    const std::string baseText = hex64(base);

    auto fail = [&](const std::string& why) {
        std::lock_guard<std::mutex> lock(mutex);
        if (firstError.empty())
            firstError = why;
        stop.store(true, std::memory_order_relaxed);
    };

    auto work = [&]() {
        try {
            VariationRenderer renderer;
            RenderedVariation v;
            for (;;) {
                if (stop.load(std::memory_order_relaxed) || raised(cancel))
                    return;
                const int n = next.fetch_add(1, std::memory_order_relaxed);
                if (n > last)
                    return;
                const uint64_t seed = variationSeed(base, n);
                if (!renderer.render(source, seed, request.what, v, cancel))
                    return;
                for (int pool = 0; pool <= kNumPools; ++pool) {
                    const std::vector<float>* L = nullptr;
                    const std::vector<float>* R = nullptr;
                    if (pool == 0) {
                        if (!wantMix || v.mixLeft.empty())
                            continue;
                        L = &v.mixLeft;
                        R = &v.mixRight;
                    } else {
                        const auto& stem = v.stems[size_t(pool - 1)];
                        if (!wantStems || !stem.hasAudio || stem.left.empty())
                            continue;
                        L = &stem.left;
                        R = &stem.right;
                    }
                    if (stop.load(std::memory_order_relaxed) || raised(cancel))
                        return;
                    Measure m;
                    if (!measure(*L, *R, source.rate, m)) {
                        fail("cannot measure the loudness of variation " + std::to_string(n));
                        return;
                    }
                    SetFileRecord rec;
                    rec.n = n;
                    rec.pool = pool;
                    rec.seed = seed;
                    rec.frames = L->size();
                    rec.seconds = double(L->size()) / source.rate;
                    rec.gainDb = levelGain(request, m, rec.atCeiling);
                    rec.loudnessLufs = m.loudness + rec.gainDb;
                    rec.truePeakDbtp = m.truePeak + rec.gainDb;
                    rec.file = nameOf(n, pool);

                    FileToWrite f;
                    f.folder = folder;
                    f.name = rec.file;
                    f.left = L;
                    f.right = R;
                    f.rate = source.rate;
                    f.gainDb = rec.gainDb;
                    f.format = request.format;
                    f.ditherSeed = mix64(seed ^ (uint64_t(pool) * kGoldenGamma));
                    f.seedText = hex64(seed);
                    f.when = request.timeStamp;
                    f.loudness = rec.loudnessLufs;
                    f.truePeak = rec.truePeakDbtp;
                    f.description =
                        "Vesk variation " + std::to_string(n) + " of " +
                        std::to_string(request.count) + "; seed " + hex64(seed) + "; base seed " +
                        baseText + "; " +
                        (pool == 0 ? std::string("mix") : "stem of pool " + std::to_string(pool)) +
                        "; kit " + kit.substr(0, 40) + "; format " + formatText(request.format) +
                        (request.format == SetFormat::Pcm16 ? " TPDF dither" : "") + "; level " +
                        levelText(request) + "; gain " + fixed(rec.gainDb, 2) + " dB" +
                        (rec.atCeiling ? " (at ceiling)" : "");
                    const std::string why = writeSetFile(f);
                    if (!why.empty()) {
                        fail(why);
                        return;
                    }
                    std::lock_guard<std::mutex> lock(mutex);
                    records.push_back(std::move(rec));
                }
                done.fetch_add(1, std::memory_order_relaxed);
                if (progress != nullptr)
                    progress->done.fetch_add(1, std::memory_order_relaxed);
            }
        } catch (const std::bad_alloc&) {
            fail("out of memory while rendering the set");
        } catch (const std::exception& e) {
            fail(std::string("the set stopped: ") + e.what());
        }
    };

    // Render threads of the set's own, so a lowered priority never stays with the caller.
    const int threads = std::max(1, std::min(request.threads, total));
    std::vector<std::thread> pool;
    try {
        for (int t = 0; t < threads; ++t)
            pool.emplace_back([&] {
                if (request.background)
                    lowerThisThreadsPriority();
                work();
            });
    } catch (const std::exception&) {
        // Fewer threads; none at all: the calling thread renders.
    }
    if (pool.empty())
        work();
    for (std::thread& t : pool)
        t.join();

    std::sort(records.begin(), records.end(), [](const SetFileRecord& a, const SetFileRecord& b) {
        return a.n != b.n ? a.n < b.n : a.pool < b.pool;
    });
    result.variationsDone = done.load();
    result.cancelled = raised(cancel) && firstError.empty();
    result.files = std::move(records);

    // The manifest: always, saying what was written.
    const bool complete = firstError.empty() && !result.cancelled;
    std::string csv = "file,variation,seed,pool,frames,seconds,integrated_lufs,true_peak_dbtp,gain_"
                      "db,at_ceiling\n";
    std::string json =
        "{\n  \"kit\": " + jsonString(kit) + ",\n  \"baseSeed\": \"" + baseText +
        "\",\n  \"count\": " + std::to_string(request.count) + ",\n  \"shard\": \"" +
        std::to_string(request.shardIndex) + "/" + std::to_string(request.shardCount) +
        "\",\n  \"what\": \"" + whatText(request.what) + "\",\n  \"format\": \"" +
        formatText(request.format) + "\",\n  \"level\": " + jsonString(levelText(request)) +
        ",\n  \"template\": " + jsonString(request.nameTemplate) +
        ",\n  \"rate\": " + number(source.rate) + ",\n  \"date\": \"" + date +
        "\",\n  \"complete\": " + (complete ? "true" : "false") + ",\n  \"files\": [";
    bool firstFile = true;
    for (const SetFileRecord& r : result.files) {
        const std::string pool = r.pool == 0 ? std::string("mix") : std::to_string(r.pool);
        csv += csvField(r.file) + "," + std::to_string(r.n) + "," + hex64(r.seed) + "," + pool +
               "," + std::to_string(r.frames) + "," + fixed(r.seconds, 6) + "," +
               levelOrNull(r.loudnessLufs, false) + "," + levelOrNull(r.truePeakDbtp, false) + "," +
               fixed(r.gainDb, 2) + "," + (r.atCeiling ? "yes" : "no") + "\n";
        json += std::string(firstFile ? "\n" : ",\n") + "    {\"file\": " + jsonString(r.file) +
                ", \"variation\": " + std::to_string(r.n) + ", \"seed\": \"" + hex64(r.seed) +
                "\", \"pool\": \"" + pool + "\", \"frames\": " + std::to_string(r.frames) +
                ", \"seconds\": " + fixed(r.seconds, 6) +
                ", \"integratedLufs\": " + levelOrNull(r.loudnessLufs, true) +
                ", \"truePeakDbtp\": " + levelOrNull(r.truePeakDbtp, true) +
                ", \"gainDb\": " + fixed(r.gainDb, 2) +
                ", \"atCeiling\": " + (r.atCeiling ? "true" : "false") + "}";
        firstFile = false;
    }
    json += std::string(firstFile ? "]" : "\n  ]") + "\n}\n";
    std::string manifestError = writeText(folder, manifestBase + ".csv", csv);
    if (manifestError.empty())
        result.manifestCsv = folder + "/" + manifestBase + ".csv";
    const std::string jsonError = writeText(folder, manifestBase + ".json", json);
    if (jsonError.empty())
        result.manifestJson = folder + "/" + manifestBase + ".json";
    else if (manifestError.empty())
        manifestError = jsonError;

    if (!firstError.empty())
        result.error = firstError;
    else if (!result.cancelled && !manifestError.empty())
        result.error = manifestError;
    result.ok = result.error.empty() && !result.cancelled;
    return result;
}

// ---------------------------------------------------------------------------------------------
// The editor's handle

VariationSetRunner::~VariationSetRunner()
{
    cancel();
    if (thread_.joinable())
        thread_.join();
}

bool VariationSetRunner::start(std::shared_ptr<const VariationSetSource> source,
                               VariationSetRequest request, std::string& error)
{
    if (running()) {
        error = "a set is already being rendered";
        return false;
    }
    if (thread_.joinable())
        thread_.join();
    if (source == nullptr) {
        error = "nothing to render";
        return false;
    }
    if (!validateSetRequest(request, error))
        return false;
    const std::string missing = missingSampleFiles(*source);
    if (!missing.empty()) {
        error = "the kit's sample files are missing: " + missing;
        return false;
    }
    cancel_.store(false, std::memory_order_relaxed);
    progress_.done.store(0, std::memory_order_relaxed);
    progress_.total.store(0, std::memory_order_relaxed);
    result_ = VariationSetResult{};
    outcome_.store(Outcome::Running, std::memory_order_release);
    running_.store(true, std::memory_order_release);
    try {
        thread_ = std::thread([this, source = std::move(source), request = std::move(request)] {
            VariationSetResult r = renderVariationSet(*source, request, &progress_, &cancel_);
            const Outcome o = r.ok          ? Outcome::Finished
                              : r.cancelled ? Outcome::Cancelled
                                            : Outcome::Failed;
            result_ = std::move(r);
            outcome_.store(o, std::memory_order_release);
            running_.store(false, std::memory_order_release);
        });
    } catch (const std::exception&) {
        running_.store(false, std::memory_order_release);
        error = "cannot start the set's thread";
        return false;
    }
    return true;
}

const VariationSetResult& VariationSetRunner::result()
{
    if (!running() && thread_.joinable())
        thread_.join();
    return result_;
}

} // namespace vesk
