// The records of the plug-in state stream below the instance: pools, envelopes, FX lanes, the
// master settings and the frozen draws, plus the project-relative sample paths.
//
// Each serializeX function transfers one record in either direction (see StateSerializer). When
// reading, every value goes through the same checks the editor's commands apply (non-finite
// values replaced by the default, ranges clamped, modulation sources outside the bus become
// None), so a damaged project can never make the engine produce NaN, index out of bounds or
// hang a render. Values written by this program pass those checks unchanged, so a save of what
// was loaded gives the same bytes.
//
// [main thread] everything here; the caller holds the instance's state mutex where it transfers
// into live engine objects.
#pragma once

#include "audio_files/WavLoader.h"
#include "engine/SamplePool.h"
#include "engine/VoiceParams.h"
#include "fx/FXLane.h"
#include "persistence/StateSerializer.h"

#include <cmath>
#include <string>

namespace vesk {

// Prefix of a sample path stored relative to the project folder.
inline constexpr const char* kProjectPathPrefix = "$PROJECT/";

// The decode rate a state may carry, Hz; anything else makes the body unreadable.
inline constexpr double kMinStateRateHz = 8000.0;
inline constexpr double kMaxStateRateHz = 768000.0;
bool isSaneStateRate(double rateHz);

// The form a sample path is stored in: "$PROJECT/" + the rest when the path lies under the
// project root (separator '/' or '\\' right after the root), else the path unchanged.
std::string storedSamplePath(const std::string& path, const std::string& projectRoot);

// The file a stored path refers to: for "$PROJECT/rel", currentRoot/rel and then storedRoot/rel
// (roots that are empty are skipped), the first that exists; a plain path when it exists.
// Empty when nothing is found.
using FileExistsFunction = bool (*)(const std::string& path);
std::string resolveStoredSamplePath(const std::string& stored, const std::string& currentRoot,
                                    const std::string& storedRoot,
                                    FileExistsFunction exists = &fileExists);

// The longest prefix of at most maxBytes bytes that does not end inside a UTF-8 sequence.
std::string utf8Prefix(const std::string& text, size_t maxBytes);

// uint32 count; bool enabled; count x (float x, float y). Reading keeps the first 64 points,
// consumes all of them, clamps x into 0..1 and non-decreasing, and replaces non-finite y by 0.
bool serializeEnvelope(StateSerializer& s, EnvelopeData& env);

// The pool's settings after its sample list (randomizers .. grainCloud), with the checks above.
bool serializePoolSettings(StateSerializer& s, SamplePool& pool);

// One FX lane: flags, slot count, and per slot type, bypass, k values and k (source, depth)
// pairs. Reading empties the lane first and rebuilds its modules; slots beyond 40 and values
// beyond 16 are read and dropped.
bool serializeLane(StateSerializer& s, FXLane& lane);

// One frozen draw: bool valid, then (only when valid) sampleIndex, pitchRatio, gain, pan,
// delayMs, startPercent, reverse. Reading derives the voice's deviations from the pool's current
// centre values, so a locked pool sounds the same after reopening.
bool serializeFrozenParams(StateSerializer& s, VoiceParams& params, const SamplePool& pool);

// ---- Tagged chunks after the version-1 body ----
//
// The body ends with the eight frozen draws; every build ignores what follows its last field. Data
// added since travel there, as tagged chunks one after another, so a stream loads both ways: an
// older build ignores the chunks, and this build reads a stream without them as before.
//
//   offset  size  field
//   0       4     tag: four ASCII bytes (read as a little-endian uint32)
//   4       4     payload length L, uint32
//   8       L     payload
//
// Chunks written today:
//   "SALT"  L = 8  uint64: the instance's seed salt (plugin/SeedSalt.h)
//
// Reading looks at the chunks only after the whole body has been read, so a damaged chunk never
// costs the body. A chunk with an unknown tag, and a "SALT" chunk whose length is not 8, are
// skipped by their length; a header cut short, or a length that runs past the end of the stream,
// ends the reading (the rest is ignored, as bytes after the body always were). The first
// well-formed "SALT" chunk counts. No length read here sizes anything.
inline constexpr uint32_t kSaltChunkTag = 0x544C4153; // bytes "S", "A", "L", "T"
inline constexpr uint32_t kSaltChunkBytes = 4 + 4 + 8;

// Appends the salt chunk (writing only).
bool writeSaltChunk(StateSerializer& s, uint64_t salt);

// Reads the chunks from the reader's position to its end; true, with the salt, when a
// well-formed salt chunk is among them.
bool readSaltChunk(StateSerializer& s, uint64_t& salt);

// Non-finite → fallback, then clamped into lo..hi.
inline float sanitizeFloat(float v, float lo, float hi, float fallback)
{
    if (!std::isfinite(v)) {
        return fallback;
    }
    return v < lo ? lo : (v > hi ? hi : v);
}

// The master record, in stream order, for any settings structure with the master chain's field
// names. Reading clamps every value into the range the editor offers (non-finite → default).
template <typename Master> bool serializeMasterRecord(StateSerializer& s, Master& m)
{
    bool ok = s.ioBool(m.bypassed) && s.io(m.outputGainDb) && s.io(m.eqLow) && s.io(m.eqMid) &&
              s.io(m.eqHigh) && s.ioBool(m.eqBypass) && s.io(m.enhanceDrive) &&
              s.io(m.enhanceAmount) && s.io(m.enhanceShape) && s.ioBool(m.enhanceMulti) &&
              s.ioBool(m.enhanceBypass) && s.io(m.reverbSize) && s.io(m.reverbDamp) &&
              s.io(m.reverbDecay) && s.io(m.reverbMix) && s.io(m.reverbWidth) &&
              s.io(m.reverbEarly) && s.ioBool(m.reverbBypass) && s.io(m.limiterThreshold) &&
              s.io(m.limiterCeiling) && s.io(m.limiterRelease) && s.ioBool(m.limiterBypass);
    if (!s.writing) {
        // Whatever was read before a failure is made safe too.
        m.outputGainDb = sanitizeFloat(m.outputGainDb, -48.0f, 6.0f, 0.0f);
        m.eqLow = sanitizeFloat(m.eqLow, -12.0f, 12.0f, 0.0f);
        m.eqMid = sanitizeFloat(m.eqMid, -12.0f, 12.0f, 0.0f);
        m.eqHigh = sanitizeFloat(m.eqHigh, -12.0f, 12.0f, 0.0f);
        m.enhanceDrive = sanitizeFloat(m.enhanceDrive, -12.0f, 12.0f, 0.0f);
        m.enhanceAmount = sanitizeFloat(m.enhanceAmount, 0.0f, 100.0f, 0.0f);
        m.enhanceShape = sanitizeFloat(m.enhanceShape, -50.0f, 50.0f, 0.0f);
        m.reverbSize = sanitizeFloat(m.reverbSize, 0.0f, 1.0f, 0.2f);
        m.reverbDamp = sanitizeFloat(m.reverbDamp, 0.0f, 1.0f, 0.7f);
        m.reverbDecay = sanitizeFloat(m.reverbDecay, 0.3f, 5.0f, 1.5f);
        m.reverbMix = sanitizeFloat(m.reverbMix, 0.0f, 1.0f, 0.15f);
        m.reverbWidth = sanitizeFloat(m.reverbWidth, -1.0f, 1.0f, 0.8f);
        m.reverbEarly = sanitizeFloat(m.reverbEarly, 0.0f, 2.0f, 1.0f);
        m.limiterThreshold = sanitizeFloat(m.limiterThreshold, -30.0f, 0.0f, -3.0f);
        m.limiterCeiling = sanitizeFloat(m.limiterCeiling, -12.0f, 0.0f, -0.1f);
        m.limiterRelease = sanitizeFloat(m.limiterRelease, 10.0f, 500.0f, 100.0f);
    }
    return ok;
}

} // namespace vesk
