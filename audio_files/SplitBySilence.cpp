#include "SplitBySilence.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace vesk {
namespace {

constexpr double kHighPassRcSeconds = 0.005305164769729845; // 1 / (2 pi 30 Hz)
constexpr int kMinPauseFrames = 6;
constexpr int kMinPieceFrames = 5;
constexpr int kLastCutMargin = 4;
constexpr double kSmoothingFall = 0.2;
constexpr double kQuietPieceFraction = 0.05;

SampleData wholeRegion(const SampleData& region, uint64_t length)
{
    SampleData out;
    out.audio = region.audio;
    out.offset = regionStart(region);
    out.length = length;
    return out;
}

} // namespace

std::vector<SampleData> splitBySilence(const SampleData& region)
{
    const uint64_t length = playableLength(region);
    if (length == 0)
        return {};
    const RawAudioData& audio = *region.audio;
    const int64_t offset = regionStart(region);
    const int64_t L = int64_t(length);

    // Analysis hop: 10 ms of the audio's own rate.
    const double rate = std::isfinite(audio.sampleRate) ? audio.sampleRate : 0.0;
    const int64_t h =
        std::max<int64_t>(1, rate > 0.0 ? int64_t(std::min(rate * 10.0 * 0.001, 1e12)) : 1);
    const int64_t frames = (L + h - 1) / h;
    if (frames <= 1 || frames > INT32_MAX)
        return {wholeRegion(region, length)};
    const int32_t n = int32_t(frames);

    // Loudness per hop after a 30 Hz high-pass; stereo takes the louder channel at each position.
    std::vector<double> env(size_t(n), 0.0);
    {
        const double a = kHighPassRcSeconds / (kHighPassRcSeconds + 1.0 / std::max(rate, 1.0));
        const bool stereo = audio.channels == 2;
        const int64_t sizeL = int64_t(audio.left.size());
        const int64_t sizeR = int64_t(audio.right.size());
        double xl = 0.0, yl = 0.0, xr = 0.0, yr = 0.0;
        for (int32_t i = 0; i < n; ++i) {
            const int64_t from = int64_t(i) * h;
            const int64_t to = std::min(from + h, L);
            double sum = 0.0;
            for (int64_t p = from; p < to; ++p) {
                const int64_t idx = offset + p;
                const double x = idx < sizeL ? double(audio.left[size_t(idx)]) : 0.0;
                yl = a * (yl + x - xl);
                xl = x;
                if (stereo) {
                    const double r = idx < sizeR ? double(audio.right[size_t(idx)]) : 0.0;
                    yr = a * (yr + r - xr);
                    xr = r;
                    sum += std::max(yl * yl, yr * yr);
                } else {
                    sum += yl * yl;
                }
            }
            env[size_t(i)] = std::sqrt(sum / double(to - from));
        }
    }

    // Instant rise, slow fall.
    for (int32_t i = 1; i < n; ++i) {
        const double prev = env[size_t(i - 1)];
        const double e = env[size_t(i)];
        if (!(e > prev))
            env[size_t(i)] = prev + kSmoothingFall * (e - prev);
    }

    // Thresholds from the noise floor (middle of the quietest tenth) and the peak.
    std::vector<double> sorted = env;
    std::sort(sorted.begin(), sorted.end());
    const double floorLevel = sorted[size_t((n / 10) / 2)];
    const double peak = sorted[size_t(n - 1)];
    const double ratio = floorLevel > 1e-10 ? peak / floorLevel : 100.0;
    double factor = 3.0;
    if (ratio > 50.0)
        factor = 6.0;
    else if (ratio >= 10.0)
        factor = 3.0 + 3.0 * 0.025 * (ratio - 10.0);
    const double upper = std::max(floorLevel * factor, 0.001);
    const double lower = 0.6 * upper;

    // Pauses, with hysteresis.
    std::vector<SilenceRegion> pauses;
    bool inPause = false;
    int32_t pauseStart = 0;
    for (int32_t i = 0; i < n; ++i) {
        const double v = env[size_t(i)];
        if (!inPause) {
            if (v < lower) {
                inPause = true;
                pauseStart = i;
            }
        } else if (v >= upper) {
            if (i - pauseStart >= kMinPauseFrames)
                pauses.push_back({pauseStart, i});
            inPause = false;
        }
    }
    if (inPause && n - pauseStart >= kMinPauseFrames)
        pauses.push_back({pauseStart, n});

    const int32_t contentStart =
        !pauses.empty() && pauses.front().start == 0 ? pauses.front().end : 0;
    const int32_t contentEnd = !pauses.empty() && pauses.back().end == n ? pauses.back().start : n;

    // One cut in the quietest frame of every inner pause (ties keep the midpoint or the earliest).
    std::vector<int32_t> cuts;
    for (const SilenceRegion& p : pauses) {
        if (p.start == 0 || p.end == n)
            continue;
        int32_t cut = (p.start + p.end) / 2;
        for (int32_t k = p.start; k < p.end; ++k)
            if (env[size_t(k)] < env[size_t(cut)])
                cut = k;
        cuts.push_back(cut);
    }

    std::vector<int32_t> accepted;
    int32_t previous = contentStart;
    for (int32_t cut : cuts) {
        if (cut - previous >= kMinPieceFrames) {
            accepted.push_back(cut);
            previous = cut;
        }
    }
    if (!accepted.empty() && contentEnd - accepted.back() <= kLastCutMargin)
        accepted.pop_back();

    std::vector<SampleData> result;
    const size_t pieces = accepted.size() + 1;
    for (size_t k = 0; k < pieces; ++k) {
        const int32_t s = k == 0 ? contentStart : accepted[k - 1];
        const int32_t e = k == accepted.size() ? contentEnd : accepted[k];
        int32_t f = s;
        for (int32_t i = s; i < e; ++i) {
            if (env[size_t(i)] >= upper) {
                f = i;
                break;
            }
        }
        int32_t g = e;
        for (int32_t i = e; i > s; --i) {
            if (env[size_t(i - 1)] >= upper) {
                g = i;
                break;
            }
        }
        const int32_t startFrame = f > s ? f - 1 : s;
        const int32_t endFrame = g < e ? g + 1 : e;
        const int64_t startPos = int64_t(startFrame) * h;
        const int64_t endPos = std::min(int64_t(endFrame) * h, L);
        if (endPos <= startPos)
            continue;
        double piecePeak = 0.0;
        for (int32_t i = startFrame; i < endFrame; ++i)
            piecePeak = std::max(piecePeak, env[size_t(i)]);
        if (piecePeak < kQuietPieceFraction * peak)
            continue;
        SampleData piece;
        piece.audio = region.audio;
        piece.offset = offset + startPos;
        piece.length = uint64_t(endPos - startPos);
        result.push_back(std::move(piece));
    }
    if (result.empty())
        result.push_back(wholeRegion(region, length));
    return result;
}

} // namespace vesk
