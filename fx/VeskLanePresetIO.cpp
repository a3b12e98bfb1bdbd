#include "fx/VeskLanePresetIO.h"

#include "fx/FXModule.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace vesk {

namespace {

const char* const kErrNameEmpty = "Preset name is empty.";
const char* const kErrDirUnavailable = "VeskFxChain directory unavailable.";
const char* const kErrWriteTemp = "Failed to write temp preset file.";
const char* const kErrCommit = "Failed to commit preset file.";
const char* const kErrNotFound = "Preset file not found.";
const char* const kErrCorrupt = "Preset file is corrupt or empty.";

// Deepest bracket nesting a preset has is 5 (root, lanes, lane, slots, slot, mods, binding);
// anything much deeper is not a preset and would only make the parser recurse.
constexpr int kMaxJsonDepth = 32;

const char* const kReserved[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                 "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                 "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};

// A JSON object (JUCE also calls arrays objects).
bool isJsonObject(const juce::var& v)
{
    return v.getDynamicObject() != nullptr;
}

void setError(juce::String* error, const char* text)
{
    if (error != nullptr) {
        *error = text;
    }
}

void clearImages(FXLaneState (&lanes)[2])
{
    lanes[0] = FXLaneState{};
    lanes[1] = FXLaneState{};
}

// Decodes UTF-8 into code points; every invalid or truncated sequence becomes U+FFFD.
std::u32string decodeUtf8(const unsigned char* p, size_t n)
{
    std::u32string out;
    out.reserve(n);
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        uint32_t cp = 0;
        size_t len = 0;
        uint32_t minimum = 0;
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            len = 2;
            minimum = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            len = 3;
            minimum = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            len = 4;
            minimum = 0x10000;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k < len && i + k < n && (p[i + k] & 0xC0) == 0x80; ++k) {
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (k < len || cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);
            i += k; // skip the lead byte and the continuation bytes that were consumed
            continue;
        }
        out.push_back(cp);
        i += len;
    }
    return out;
}

juce::String fromCodePoints(const std::u32string& cps)
{
    juce::String s;
    s.preallocateBytes(cps.size() * 4);
    for (char32_t c : cps) {
        s += juce::String::charToString(static_cast<juce::juce_wchar>(c));
    }
    return s;
}

// Valid UTF-8 text from untrusted bytes, so JUCE's string code never sees a broken sequence.
juce::String textFromBytes(const void* data, size_t size)
{
    auto* p = static_cast<const unsigned char*>(data);
    if (size >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        p += 3;
        size -= 3;
    }
    return fromCodePoints(decodeUtf8(p, size));
}

// Largest nesting of [ and { outside string literals.
int jsonDepth(const juce::String& text)
{
    int depth = 0, deepest = 0;
    bool inString = false, escaped = false;
    for (auto p = text.getCharPointer(); !p.isEmpty(); ++p) {
        const juce::juce_wchar c = *p;
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
            if (deepest > kMaxJsonDepth) {
                return deepest;
            }
        } else if (c == ']' || c == '}') {
            depth = std::max(0, depth - 1);
        }
    }
    return deepest;
}

const FXModuleInfo* findModuleByName(const juce::String& name)
{
    for (const FXModuleInfo& info : detail::kRegistry) {
        if (info.name != nullptr && name == juce::String::fromUTF8(info.name)) {
            return &info;
        }
    }
    return nullptr;
}

int knobIndex(const FXModuleInfo& info, const juce::String& name)
{
    const uint32_t n = std::min<uint32_t>(info.paramCount, kMaxFXParams);
    for (uint32_t k = 0; k < n; ++k) {
        if (info.paramNames[k] != nullptr && info.paramNames[k][0] != '\0' &&
            name == juce::String::fromUTF8(info.paramNames[k])) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

// A JSON number (or anything JUCE converts to one) as a double, NaN when it is none.
double numberOf(const juce::var& v)
{
    if (v.isInt() || v.isInt64() || v.isDouble() || v.isBool() || v.isString()) {
        return static_cast<double>(v);
    }
    return std::nan("");
}

juce::var buildLaneObject(const FXLaneState& lane)
{
    juce::Array<juce::var> slots;
    const int count = std::min<int>(lane.slotCount, kMaxSlots);
    for (int i = 0; i < count; ++i) {
        const FXSlotState& slot = lane.slots[i];
        const FXModuleInfo* info = slot.type != 0 ? getFXModuleInfo(uint32_t(slot.type)) : nullptr;
        if (info == nullptr || info->name == nullptr) {
            continue;
        }
        auto* object = new juce::DynamicObject();
        object->setProperty("fx", juce::String::fromUTF8(info->name));
        object->setProperty("bypass", slot.bypassed != 0);
        auto* params = new juce::DynamicObject();
        auto* mods = new juce::DynamicObject();
        const uint32_t n = std::min<uint32_t>(info->paramCount, kMaxFXParams);
        for (uint32_t k = 0; k < n; ++k) {
            const char* name = info->paramNames[k];
            if (name == nullptr || name[0] == '\0') {
                continue;
            }
            const juce::Identifier key(juce::String::fromUTF8(name));
            // A value JSON cannot carry is written as the knob's default.
            const float value =
                std::isfinite(slot.params[k]) ? slot.params[k] : info->paramDefaults[k];
            params->setProperty(key, static_cast<double>(value));
            if (slot.modSource[k] != 0) {
                auto* binding = new juce::DynamicObject();
                const float depth = slot.modDepth[k];
                binding->setProperty("source", static_cast<int>(slot.modSource[k]));
                binding->setProperty("depth",
                                     std::isfinite(depth)
                                         ? static_cast<double>(std::clamp(depth, -1.0f, 1.0f))
                                         : 0.0);
                mods->setProperty(key, juce::var(binding));
            }
        }
        object->setProperty("params", juce::var(params));
        if (!mods->getProperties().isEmpty()) {
            object->setProperty("mods", juce::var(mods));
        } else {
            delete mods;
        }
        slots.add(juce::var(object));
    }
    auto* laneObject = new juce::DynamicObject();
    laneObject->setProperty("slots", slots);
    return juce::var(laneObject);
}

void readSlot(const juce::var& item, const FXModuleInfo& info, FXSlotState& slot)
{
    slot = FXSlotState{};
    slot.type = static_cast<uint8_t>(info.type);
    slot.bypassed = static_cast<bool>(item.getProperty("bypass", false)) ? 1 : 0;
    const uint32_t n = std::min<uint32_t>(info.paramCount, kMaxFXParams);
    std::copy(info.paramDefaults, info.paramDefaults + n, slot.params);

    if (auto* params = item.getProperty("params", juce::var()).getDynamicObject()) {
        for (const auto& member : params->getProperties()) {
            const int k = knobIndex(info, member.name.toString());
            if (k < 0) {
                continue;
            }
            const double v = numberOf(member.value);
            if (std::isnan(v)) {
                continue;
            }
            const double clamped =
                std::clamp(v, double(info.paramMin[k]), double(info.paramMax[k]));
            slot.params[k] = static_cast<float>(clamped);
        }
    }
    if (auto* mods = item.getProperty("mods", juce::var()).getDynamicObject()) {
        for (const auto& member : mods->getProperties()) {
            const int k = knobIndex(info, member.name.toString());
            if (k < 0 || !isJsonObject(member.value)) {
                continue;
            }
            const double s = numberOf(member.value.getProperty("source", juce::var()));
            const double d = numberOf(member.value.getProperty("depth", juce::var()));
            // Only the modulation bus's sources 1..4 bind; anything else is dropped.
            const bool bound = std::isfinite(s) && s >= 1.0 && s < double(kModBusSize);
            slot.modSource[k] = bound ? static_cast<uint8_t>(s) : 0;
            slot.modDepth[k] = bound && !std::isnan(d) ? float(std::clamp(d, -1.0, 1.0)) : 0.0f;
        }
    }
}

juce::File presetFile(const juce::String& sanitisedName)
{
    return getVeskFxChainDir().getChildFile(sanitisedName + kVeskFxChainExtension);
}

} // namespace

juce::var laneChainToJsonVar(const FXLaneState (&lanes)[2])
{
    auto* root = new juce::DynamicObject();
    root->setProperty("schema", 1);
    juce::Array<juce::var> laneArray;
    laneArray.add(buildLaneObject(lanes[0]));
    laneArray.add(buildLaneObject(lanes[1]));
    root->setProperty("lanes", laneArray);
    return juce::var(root);
}

juce::String laneChainToJsonString(const FXLaneState (&lanes)[2])
{
    return juce::JSON::toString(laneChainToJsonVar(lanes), false, 15);
}

bool laneChainFromJsonVar(const juce::var& root, FXLaneState (&lanes)[2])
{
    clearImages(lanes);
    if (!isJsonObject(root)) {
        return false;
    }
    const juce::var laneArray = root.getProperty("lanes", juce::var());
    if (!laneArray.isArray()) {
        return false;
    }
    for (int l = 0; l < 2 && l < laneArray.size(); ++l) {
        const juce::var& entry = laneArray[l];
        FXLaneState& lane = lanes[l];
        const juce::var slots =
            isJsonObject(entry) ? entry.getProperty("slots", juce::var()) : juce::var();
        if (!slots.isArray()) {
            continue;
        }
        for (int i = 0; i < slots.size() && lane.slotCount < kMaxSlots; ++i) {
            const juce::var& item = slots[i];
            if (!isJsonObject(item)) {
                continue;
            }
            const juce::String fx = item.getProperty("fx", juce::var()).toString();
            const FXModuleInfo* info = fx.isEmpty() ? nullptr : findModuleByName(fx);
            if (info == nullptr) {
                continue;
            }
            readSlot(item, *info, lane.slots[lane.slotCount]);
            ++lane.slotCount;
        }
    }
    return true;
}

bool laneChainFromJsonString(const juce::String& text, FXLaneState (&lanes)[2])
{
    clearImages(lanes);
    if (jsonDepth(text) > kMaxJsonDepth) {
        return false;
    }
    juce::var parsed;
    if (juce::JSON::parse(text, parsed).failed()) {
        clearImages(lanes);
        return false;
    }
    return laneChainFromJsonVar(parsed, lanes);
}

bool laneChainFromJsonBytes(const void* data, size_t size, FXLaneState (&lanes)[2])
{
    clearImages(lanes);
    if (data == nullptr || size == 0 || size > kMaxPresetFileBytes) {
        return false;
    }
    return laneChainFromJsonString(textFromBytes(data, size), lanes);
}

juce::String sanitizeVeskFxChainName(const juce::String& name)
{
    const char* raw = name.toRawUTF8();
    std::u32string cps = decodeUtf8(reinterpret_cast<const unsigned char*>(raw), std::strlen(raw));
    for (char32_t& c : cps) {
        if (c < 32 || c == '"' || c == '*' || c == '/' || c == ':' || c == '<' || c == '>' ||
            c == '?' || c == '\\' || c == '|') {
            c = U'_';
        }
    }
    auto trim = [](std::u32string& s) {
        while (!s.empty() && (s.back() == U'.' || s.back() == U' ')) {
            s.pop_back();
        }
        size_t start = 0;
        while (start < s.size() && (s[start] == U'.' || s[start] == U' ')) {
            ++start;
        }
        s.erase(0, start);
    };
    trim(cps);
    juce::String result = fromCodePoints(cps);
    // Cut overly long names at a character boundary.
    if (result.getNumBytesAsUTF8() > kMaxPresetNameBytes) {
        std::u32string cut;
        size_t bytes = 0;
        for (char32_t c : cps) {
            const size_t len = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
            if (bytes + len > kMaxPresetNameBytes) {
                break;
            }
            bytes += len;
            cut.push_back(c);
        }
        trim(cut);
        result = fromCodePoints(cut);
    }
    for (const char* reserved : kReserved) {
        if (result.equalsIgnoreCase(reserved)) {
            return "_" + result;
        }
    }
    return result;
}

juce::File getVeskFxChainDir()
{
    const juce::File dir = juce::File::getSpecialLocation(juce::File::userDocumentsDirectory)
                               .getChildFile("Halvoren Vesk")
                               .getChildFile("FX Chains");
    if (!dir.isDirectory()) {
        dir.createDirectory();
    }
    return dir;
}

std::vector<juce::String> listVeskFxChainPresets()
{
    std::vector<juce::String> names;
    const juce::File dir = getVeskFxChainDir();
    if (!dir.isDirectory()) {
        return names;
    }
    for (const juce::File& f : dir.findChildFiles(juce::File::findFiles, false, "*")) {
        const juce::String fileName = f.getFileName();
        if (!fileName.endsWith(kVeskFxChainExtension)) {
            continue;
        }
        const juce::String name =
            fileName.dropLastCharacters(static_cast<int>(std::strlen(kVeskFxChainExtension)));
        if (name.isNotEmpty()) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end(), [](const juce::String& a, const juce::String& b) {
        return a.compareIgnoreCase(b) < 0;
    });
    return names;
}

bool veskFxChainPresetExists(const juce::String& name)
{
    const juce::String clean = sanitizeVeskFxChainName(name);
    if (clean.isEmpty() || !getVeskFxChainDir().isDirectory()) {
        return false;
    }
    return presetFile(clean).existsAsFile();
}

bool saveVeskFxChainPreset(const juce::String& name, const FXLaneState (&lanes)[2],
                           juce::String* error)
{
    if (error != nullptr) {
        error->clear();
    }
    const juce::String clean = sanitizeVeskFxChainName(name);
    if (clean.isEmpty()) {
        setError(error, kErrNameEmpty);
        return false;
    }
    if (!getVeskFxChainDir().isDirectory()) {
        setError(error, kErrDirUnavailable);
        return false;
    }
    const juce::File target = presetFile(clean);
    const juce::String text = laneChainToJsonString(lanes);
    juce::TemporaryFile temp(target);
    if (!temp.getFile().replaceWithText(text, false, false, "\r\n")) {
        setError(error, kErrWriteTemp);
        return false;
    }
    if (!temp.overwriteTargetFileWithTemporary()) {
        setError(error, kErrCommit);
        return false;
    }
    return true;
}

bool loadVeskFxChainPreset(const juce::String& name, FXLaneState (&lanes)[2], juce::String* error)
{
    if (error != nullptr) {
        error->clear();
    }
    clearImages(lanes);
    const juce::String clean = sanitizeVeskFxChainName(name);
    if (clean.isEmpty()) {
        setError(error, kErrNameEmpty);
        return false;
    }
    if (!getVeskFxChainDir().isDirectory()) {
        setError(error, kErrDirUnavailable);
        return false;
    }
    const juce::File file = presetFile(clean);
    if (!file.existsAsFile()) {
        setError(error, kErrNotFound);
        return false;
    }
    const juce::int64 size = file.getSize();
    juce::MemoryBlock bytes;
    if (size <= 0 || size > juce::int64(kMaxPresetFileBytes) || !file.loadFileAsData(bytes) ||
        !laneChainFromJsonBytes(bytes.getData(), bytes.getSize(), lanes)) {
        clearImages(lanes);
        setError(error, kErrCorrupt);
        return false;
    }
    return true;
}

bool deleteVeskFxChainPreset(const juce::String& name)
{
    const juce::String clean = sanitizeVeskFxChainName(name);
    if (clean.isEmpty() || !getVeskFxChainDir().isDirectory()) {
        return false;
    }
    const juce::File file = presetFile(clean);
    if (!file.existsAsFile()) {
        return false;
    }
    return file.deleteFile();
}

} // namespace vesk
