#include "fx/dsp/PitchShifter.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace vesk {

namespace {

using RB = RubberBand::RubberBandStretcher;

// Short window: about half the delay and CPU of the standard one, still clean on sustained
// sounds. High consistency keeps knob moves free of clicks, also across a scale of 1. The
// stretcher's formant handling costs about a third of its time and is switched on only while a
// formant shift is set (see setShift).
constexpr RB::Options kOptions = RB::OptionProcessRealTime | RB::OptionEngineFiner |
                                 RB::OptionWindowShort | RB::OptionPitchHighConsistency |
                                 RB::OptionFormantShifted | RB::OptionChannelsTogether;

// Reserve beyond the measured worst case of (frames given - frames received + own delay).
constexpr unsigned kLatencyMargin = 128;

double scaleOf(float semitones)
{
    return std::exp2(static_cast<double>(semitones) / 12.0);
}

float safeSemitones(float v)
{
    if (!std::isfinite(v))
        return 0.0f;
    return std::clamp(v, -PitchShifter::kMaxSemitones, PitchShifter::kMaxSemitones);
}

} // namespace

PitchShifter::PitchShifter(double rateHz)
{
    rate_ = (rateHz >= 1.0 && std::isfinite(rateHz)) ? rateHz : 48000.0;
    stretcher_ = std::make_unique<RB>(static_cast<size_t>(std::lround(rate_)), 2, kOptions);
    stretcher_->setMaxProcessSize(kMaxBlock);
    startPad_ = static_cast<long>(stretcher_->getPreferredStartPad());

    // The stretcher's delay is largest at the lowest pitch scale.
    stretcher_->setPitchScale(scaleOf(-kMaxSemitones));
    const long maxDelay = static_cast<long>(stretcher_->getStartDelay()) - startPad_;
    stretcher_->setPitchScale(1.0);
    const long window = static_cast<long>(stretcher_->getSamplesRequired());
    latency_ = static_cast<unsigned>(std::max(0L, maxDelay) + window + kLatencyMargin);

    ringSize_ = 1;
    while (ringSize_ < latency_ + 4 * kMaxBlock)
        ringSize_ <<= 1;
    ring_ = std::make_unique<float[]>(2 * static_cast<size_t>(ringSize_));
    scratch_ = std::make_unique<float[]>(4 * static_cast<size_t>(kMaxBlock));

    // The stretcher's resampler grows its buffers on the first large block and on the first
    // move to a new pitch range: run those cases once here, so the audio thread never does.
    std::vector<float> silence(2 * kMaxBlock, 0.0f);
    float* l = silence.data();
    float* r = l + kMaxBlock;
    for (const float formant : {kMaxSemitones, 0.0f})
        for (const float semitones : {-kMaxSemitones, kMaxSemitones, 0.0f}) {
            setShift(semitones, formant);
            process(l, r, l, r, kMaxBlock);
        }
    reset();
}

PitchShifter::~PitchShifter() = default;

long PitchShifter::currentDelay() const
{
    // The stretcher reports how much output to drop after a padded start so that a click lines
    // up. Measured on tone bursts (300 Hz to 3 kHz, 44.1 to 96 kHz, -24..+24 semitones), the
    // centre of a sound's energy moves by 0.8 of that report, plus 127 frames divided by the
    // pitch scale that the resampler adds once it has seen a pitch change (the warm-up in the
    // constructor makes that always the case). What remains is within 2 ms at +-12 semitones.
    const double reported =
        static_cast<double>(stretcher_->getStartDelay()) - static_cast<double>(startPad_);
    const double scale = stretcher_->getPitchScale();
    return std::lround(0.8 * reported + 127.0 / scale);
}

void PitchShifter::setShift(float pitchSemitones, float formantSemitones)
{
    const float p = safeSemitones(pitchSemitones);
    const float f = safeSemitones(formantSemitones);
    if (p == pitch_ && f == formant_)
        return;
    pitch_ = p;
    formant_ = f;
    stretcher_->setPitchScale(scaleOf(p));
    // Without a formant shift the formants move with the pitch, which is what the stretcher does
    // when it leaves them alone. With one, the stretcher keeps an envelope of its own and moves it
    // by its formant scale on top of the transposition: scaleOf(f) puts the formants p + f
    // semitones away from where they were.
    const bool keep = f != 0.0f;
    if (keep != formantsKept_) {
        stretcher_->setFormantOption(keep ? RB::OptionFormantPreserved : RB::OptionFormantShifted);
        formantsKept_ = keep;
    }
    // 0 is the stretcher's "automatic": no formant work while they are left alone.
    stretcher_->setFormantScale(keep ? scaleOf(f) : 0.0);
}

void PitchShifter::reset()
{
    stretcher_->reset();
    std::memset(ring_.get(), 0, 2 * static_cast<size_t>(ringSize_) * sizeof(float));
    inputCount_ = 0;
    outputCount_ = 0;
}

void PitchShifter::process(const float* inLeft, const float* inRight, float* outLeft,
                           float* outRight, unsigned frames)
{
    if (frames == 0 || frames > kMaxBlock)
        return;
    float* copyL = scratch_.get();
    float* copyR = copyL + kMaxBlock;
    std::memcpy(copyL, inLeft, frames * sizeof(float));
    std::memcpy(copyR, inRight, frames * sizeof(float));
    const float* in[2] = {copyL, copyR};
    stretcher_->process(in, frames, false);
    const long long blockStart = inputCount_;
    inputCount_ += frames;

    // Move everything the stretcher has ready into the ring, by stream index.
    float* tmpL = copyR + kMaxBlock;
    float* tmpR = tmpL + kMaxBlock;
    const unsigned mask = ringSize_ - 1;
    float* ringL = ring_.get();
    float* ringR = ringL + ringSize_;
    for (;;) {
        const int available = stretcher_->available();
        if (available <= 0)
            break;
        const size_t want = std::min<size_t>(static_cast<size_t>(available), kMaxBlock);
        float* out[2] = {tmpL, tmpR};
        const size_t got = stretcher_->retrieve(out, want);
        if (got == 0)
            break;
        for (size_t i = 0; i < got; ++i) {
            const unsigned k =
                static_cast<unsigned>((outputCount_ + static_cast<long long>(i)) & mask);
            ringL[k] = tmpL[i];
            ringR[k] = tmpR[i];
        }
        outputCount_ += static_cast<long long>(got);
    }

    // Output frame t is the stretcher's stream frame t - latency + own delay.
    const long long offset = currentDelay() - static_cast<long long>(latency_);
    const long long oldest = outputCount_ - static_cast<long long>(ringSize_);
    for (unsigned i = 0; i < frames; ++i) {
        const long long r = blockStart + i + offset;
        if (r >= 0 && r < outputCount_ && r >= oldest) {
            const unsigned k = static_cast<unsigned>(r & mask);
            outLeft[i] = ringL[k];
            outRight[i] = ringR[k];
        } else {
            outLeft[i] = 0.0f;
            outRight[i] = 0.0f;
        }
    }
}

} // namespace vesk
