#include "bench/StretchPitchShifter.h"

#include <rubberband/RubberBandStretcher.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace vesk::bench {

namespace {

using RB = RubberBand::RubberBandStretcher;

// Short window: about half the delay and CPU of the standard one, still clean on sustained
// sounds. The stretcher's pitch stays at 1, where "high speed" means it never runs its own
// resampler. Its formant handling is switched on only while a formant shift is set (see setShift).
constexpr RB::Options kOptions = RB::OptionProcessRealTime | RB::OptionEngineFiner |
                                 RB::OptionWindowShort | RB::OptionPitchHighSpeed |
                                 RB::OptionFormantShifted | RB::OptionChannelsTogether;

// Map points kept: one per block in which the stretcher analysed a hop, for as far back as the
// reader lags (a few dozen hops at most).
constexpr unsigned kPoints = 512;

double scaleOf(float semitones)
{
    return std::exp2(static_cast<double>(semitones) / 12.0);
}

float safeSemitones(float v)
{
    if (!std::isfinite(v))
        return 0.0f;
    return std::clamp(v, -StretchPitchShifter::kMaxSemitones, StretchPitchShifter::kMaxSemitones);
}

} // namespace

StretchPitchShifter::StretchPitchShifter(double rateHz)
{
    rate_ = (rateHz >= 1.0 && std::isfinite(rateHz)) ? rateHz : 48000.0;
    stretcher_ = std::make_unique<RB>(static_cast<size_t>(std::lround(rate_)), 2, kOptions);
    stretcher_->setMaxProcessSize(kMaxBlock);
    reader_ = std::make_unique<SincResampler>();

    // Before any input the stretcher asks for one whole analysis window.
    windowSource_ = static_cast<int64_t>(stretcher_->getSamplesRequired());
    // Each hop analyses the window around the centre of its longest transform and overlap-adds
    // its output around the same offset of the stream: 1024 frames of a 2560-frame window at
    // 44.1 and 48 kHz, scaled with the window at other rates.
    origin_ = windowSource_ * 2 / 5;
    startPad_ = windowSource_ / 2;

    // The reader needs the stream up to the frame it reads plus the interpolator's look-ahead.
    // The stream is at least the slowest scale times as long as the input, and the stretcher's
    // analysis runs up to a window behind the input: see read().
    const double slowest = scaleOf(-kMaxSemitones);
    const double needed = double(origin_ + SincResampler::kHalfTaps + 1) / slowest;
    const int64_t margin = windowSource_ / 10;
    latency_ = static_cast<unsigned>(std::ceil(needed) + double(windowSource_ - origin_ + margin));

    // The newest stream frame is at most the fastest scale times (latency + origin + one block)
    // input frames ahead of the reader's, which also keeps the interpolator's history; a block's
    // worth of stream more is spare.
    const double fastest = scaleOf(kMaxSemitones);
    const double span = fastest * double(int64_t(latency_) + origin_ + int64_t(kMaxBlock)) +
                        double(origin_ + SincResampler::kHalfTaps + int64_t(kMaxBlock));
    ringSize_ = 1;
    while (double(ringSize_) < span)
        ringSize_ <<= 1;
    ring_ = std::make_unique<float[]>(2 * static_cast<size_t>(ringSize_));
    silence_ = std::make_unique<float[]>(kMaxBlock);
    points_ = std::make_unique<MapPoint[]>(kPoints);

    reset();
    // Its buffers are sized for kMaxBlock by setMaxProcessSize. One block at each end of the
    // range, the formant handling on for the first, makes sure nothing is left to size on the
    // audio thread; the allocation-counting tests found nothing to size even without it.
    std::vector<float> silence(2 * kMaxBlock, 0.0f);
    float* l = silence.data();
    float* r = l + kMaxBlock;
    setShift(kMaxSemitones, kMaxSemitones);
    process(l, r, l, r, kMaxBlock);
    setShift(-kMaxSemitones, 0.0f);
    process(l, r, l, r, kMaxBlock);
    setShift(0.0f, 0.0f);
    reset();
}

StretchPitchShifter::~StretchPitchShifter() = default;

void StretchPitchShifter::setShift(float pitchSemitones, float formantSemitones)
{
    const float p = safeSemitones(pitchSemitones);
    const float f = safeSemitones(formantSemitones);
    if (p == pitch_ && f == formant_)
        return;
    pitch_ = p;
    formant_ = f;
    stretcher_->setTimeRatio(scaleOf(p));
    // Without a formant shift the formants move with the pitch, which is what reading the
    // stretched stream faster or slower does. With one, the stretcher keeps an envelope of its own
    // and moves it by the formant scale before the reader transposes everything: the formants end
    // up p + f semitones away from where they were.
    const bool keep = f != 0.0f;
    if (keep != formantsKept_) {
        stretcher_->setFormantOption(keep ? RB::OptionFormantPreserved : RB::OptionFormantShifted);
        formantsKept_ = keep;
    }
    stretcher_->setFormantScale(keep ? scaleOf(f) : 0.0);
}

void StretchPitchShifter::reset()
{
    stretcher_->reset();
    reader_->reset();
    inputCount_ = 0;
    outputCount_ = 0;
    points_[0] = MapPoint{0, 0};
    pointsHead_ = 0;
    pointsCount_ = 1;
    reading_ = false;
    nextFeed_ = 0;
    padPending_ = true;
}

// Half a window of silence first, so the first sound after a reset is analysed by whole windows
// and starts as it should instead of fading in. It is given with the first block, at that
// block's setting. The reader counts from the true start, so the latency is not changed by it.
void StretchPitchShifter::pad()
{
    padPending_ = false;
    const float* in[2] = {silence_.get(), silence_.get()};
    for (int64_t left = startPad_; left > 0;) {
        const size_t n = size_t(std::min<int64_t>(left, kMaxBlock));
        stretcher_->process(in, n, false);
        inputCount_ += int64_t(n);
        left -= int64_t(n);
        collectOutput();
        notePosition();
    }
}

void StretchPitchShifter::process(const float* inLeft, const float* inRight, float* outLeft,
                                  float* outRight, unsigned frames)
{
    if (frames == 0 || frames > kMaxBlock)
        return;
    if (padPending_)
        pad();
    // The stretcher takes in the whole block before anything is written to the outputs, so the
    // inputs may alias them.
    const float* in[2] = {inLeft, inRight};
    stretcher_->process(in, frames, false);
    inputCount_ += frames;
    collectOutput();
    notePosition();
    read(outLeft, outRight, frames);
}

// Moves everything the stretcher has ready into the ring, by stream index, a contiguous stretch
// of the ring at a time.
void StretchPitchShifter::collectOutput()
{
    const unsigned mask = ringSize_ - 1;
    float* ringL = ring_.get();
    float* ringR = ringL + ringSize_;
    for (;;) {
        const int available = stretcher_->available();
        if (available <= 0)
            break;
        const unsigned at = static_cast<unsigned>(outputCount_ & mask);
        const size_t want = std::min<size_t>(static_cast<size_t>(available), ringSize_ - at);
        float* out[2] = {ringL + at, ringR + at};
        const size_t got = stretcher_->retrieve(out, want);
        if (got == 0)
            break;
        outputCount_ += static_cast<int64_t>(got);
    }
}

// Records where the stretcher's analysis stands. With all its output taken, it reports how much
// more input it needs for its next window; the window therefore starts that much short of a
// whole window before the end of the input. Every hop analysed during this block used the scale
// set for it, so the stream between the previous point and this one follows that scale.
void StretchPitchShifter::notePosition()
{
    const int64_t required = static_cast<int64_t>(stretcher_->getSamplesRequired());
    if (required <= 0 || required > windowSource_)
        return;
    const MapPoint point{inputCount_ - (windowSource_ - required), outputCount_};
    MapPoint& last = points_[(pointsHead_ + pointsCount_ - 1) % kPoints];
    if (point.input <= last.input)
        return;
    if (pointsCount_ == kPoints) {
        // Not reached with blocks of at least one frame (see kPoints); should it happen, the
        // newest segment is extended instead.
        last = point;
        return;
    }
    points_[(pointsHead_ + pointsCount_) % kPoints] = point;
    ++pointsCount_;
}

// The stream frames per input frame at analysis position x, and where that stretch of the map
// ends. Points the reader has passed are dropped; before the first point and after the last the
// nearest segment is extended.
double StretchPitchShifter::slopeAt(int64_t x, int64_t* segmentEnd)
{
    while (pointsCount_ >= 3 && points_[(pointsHead_ + 1) % kPoints].input <= x) {
        pointsHead_ = (pointsHead_ + 1) % kPoints;
        --pointsCount_;
    }
    const MapPoint& a = points_[pointsHead_];
    const MapPoint& b = points_[(pointsHead_ + 1) % kPoints];
    *segmentEnd = x < b.input ? b.input : std::numeric_limits<int64_t>::max();
    return double(b.output - a.output) / double(b.input - a.input);
}

// Output frame t is made from input frame t - latency, which is the stretcher's input frame
// t - latency + startPad_. Its hop starts origin_ frames earlier in the stretcher's input (x), and
// the hop's output lies origin_ frames into the stream after the output made before it, so the
// reader plays the stream at map(x) + origin_, moving by the map's slope.
void StretchPitchShifter::read(float* outLeft, float* outRight, unsigned frames)
{
    const int64_t firstX = inputCount_ - int64_t(frames) - int64_t(latency_) - origin_;
    unsigned i = 0;
    if (!reading_) {
        // Start once the first hop tells the scale, where the stream position is a few frames
        // before the stream's start (which is silent there), so nothing of it is missed.
        if (pointsCount_ >= 2) {
            int64_t end = 0;
            const double slope = slopeAt(firstX, &end);
            const double lead = double(origin_ + SincResampler::kHalfTaps);
            const int64_t begin = static_cast<int64_t>(std::floor(-lead / slope));
            if (firstX + int64_t(frames) > begin) {
                i = static_cast<unsigned>(std::max<int64_t>(0, begin - firstX));
                const double at = slope * double(firstX + i) + double(origin_);
                nextFeed_ = static_cast<int64_t>(std::floor(at));
                reader_->reset();
                reading_ = true;
            }
        }
        if (!reading_)
            i = frames;
        std::fill(outLeft, outLeft + i, 0.0f);
        std::fill(outRight, outRight + i, 0.0f);
    }
    while (i < frames) {
        const int64_t x = firstX + i;
        int64_t end = 0;
        const double slope = slopeAt(x, &end);
        const unsigned run = static_cast<unsigned>(std::min<int64_t>(frames - i, end - x));
        reader_->setRates(slope * rate_, rate_);
        unsigned done = 0;
        while (done < run) {
            const int need = reader_->inputNeeded(int(run - done));
            if (need > 0)
                feedReader(need);
            float* out[2] = {outLeft + i + done, outRight + i + done};
            const int got = reader_->process(out, 2, int(run - done));
            if (got <= 0 && need <= 0)
                break;
            done += unsigned(std::max(got, 0));
        }
        if (done < run) {
            std::fill(outLeft + i + done, outLeft + i + run, 0.0f);
            std::fill(outRight + i + done, outRight + i + run, 0.0f);
        }
        i += run;
    }
}

// Gives the reader the next stream frames; frames outside what the ring holds are silence.
void StretchPitchShifter::feedReader(int frames)
{
    float* dstL = reader_->inputWrite(0);
    float* dstR = reader_->inputWrite(1);
    const float* ringL = ring_.get();
    const float* ringR = ringL + ringSize_;
    const unsigned mask = ringSize_ - 1;
    const int64_t oldest = std::max<int64_t>(0, outputCount_ - int64_t(ringSize_));
    for (int k = 0; k < frames; ++k) {
        const int64_t y = nextFeed_ + k;
        if (y >= oldest && y < outputCount_) {
            dstL[k] = ringL[y & mask];
            dstR[k] = ringR[y & mask];
        } else {
            dstL[k] = 0.0f;
            dstR[k] = 0.0f;
        }
    }
    reader_->commitInput(frames);
    nextFeed_ += frames;
}

} // namespace vesk::bench
