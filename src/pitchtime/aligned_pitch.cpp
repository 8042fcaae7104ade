#include "pitchtime/aligned_pitch.h"

#include <algorithm>
#include <cmath>

#include "core/fastmem_heap.h"

namespace dspfx {
namespace {

// Frames of the previous chunk the interpolation still reaches back to.
constexpr uint32_t kKeep = 3;

// Most frames one chunk yields when read at the lowest ratio.
constexpr uint32_t kMaxRead =
    static_cast<uint32_t>(AlignedPitch::kChunkFrames / AlignedPitch::kMinRatio) + 4;

// Four-point cubic Hermite through p1 and p2 with the slopes of the
// neighbours: flat to the third order and exact at f = 0.
inline float hermite(const float* p, float f) {
  const float c1 = 0.5f * (p[2] - p[0]);
  const float c2 = p[0] - 2.5f * p[1] + 2.0f * p[2] - 0.5f * p[3];
  const float c3 = 0.5f * (p[3] - p[0]) + 1.5f * (p[1] - p[2]);
  return ((c3 * f + c2) * f + c1) * f + p[1];
}

}  // namespace

AlignedPitch::~AlignedPitch() { release(); }

void AlignedPitch::release() {
  for (float*& p : stage_) freeFloats(p);
  for (float*& p : read_) freeFloats(p);
}

bool AlignedPitch::prepare(uint32_t channels, float sampleRate, const AlignedGrainTimes& times,
                           bool antiAlias) {
  release();
  channels_ = channels == 2 ? 2u : 1u;
  times_ = times;
  sampleRate_ = sampleRate;
  antiAlias_ = antiAlias;
  const AlignedGrainLengths limit = alignedLengthLimit(times, sampleRate, kMinRatio, kMaxRatio);
  if (!engine_.prepare(channels_, limit, kMaxRead, kMinRatio, sampleRate)) return false;
  for (uint32_t c = 0; c < channels_; ++c) {
    stage_[c] = allocFloats(kKeep + kChunkFrames);
    read_[c] = allocFloats(kMaxRead);
    if (!stage_[c] || !read_[c]) {
      release();
      engine_.prepare(0, {}, 0, 0.0, 0.0f);
      return false;
    }
    filter_[c].setOrder(kFilterOrder, kLowPass);
  }
  reset();
  return true;
}

void AlignedPitch::reset() {
  engine_.reset();
  for (uint32_t c = 0; c < channels_; ++c) {
    std::fill(stage_[c], stage_[c] + kKeep, 0.0f);
    filter_[c].setOrder(kFilterOrder, kLowPass);
  }
  ratio_ = 0.0;
  // The first read has the three zeros before the stream as its taps.
  anchor_ = -2.0;
  reads_ = 0;
  consumed_ = 0;
}

void AlignedPitch::follow(double ratio) {
  if (ratio == ratio_) return;
  const bool first = ratio_ == 0.0;
  if (!first) anchor_ += static_cast<double>(reads_) * ratio_;
  reads_ = 0;
  ratio_ = ratio;
  engine_.setRatio(ratio);
  engine_.setLengths(alignedLengthsFor(times_, sampleRate_, ratio));
  if (ratio == 1.0) return;
  // Going up, the band must end below the new Nyquist frequency before it
  // is read faster; going down, the images of the interpolation above the
  // scaled band are cut after it.
  const double cutoff = ratio > 1.0 ? 0.5 / ratio : 0.5 * ratio;
  for (uint32_t c = 0; c < channels_; ++c) {
    if (first) filter_[c].setOrder(kFilterOrder, kLowPass);
    filter_[c].design(sampleRate_, static_cast<float>(0.95 * cutoff * sampleRate_));
  }
}

void AlignedPitch::filterPair(const float* inL, const float* inR, float* outL, float* outR,
                              uint32_t frames) {
  if (channels_ == 2) {
    runCascadePair(filter_[0], filter_[1], inL, inR, outL, outR, frames);
  } else {
    filter_[0].run(inL, outL, frames);
  }
}

void AlignedPitch::process(const float* inL, const float* inR, float* outL, float* outR,
                           uint32_t n, double ratio) {
  if (!engine_.allocated) return;
  follow(ratio);
  const float* in[2] = {inL, inR};
  float* out[2] = {outL, outR};
  const bool before = antiAlias_ && ratio > 1.0;
  const bool after = antiAlias_ && ratio < 1.0;
  for (uint32_t done = 0; done < n;) {
    const uint32_t c = std::min(kChunkFrames, n - done);
    uint32_t produced = 0;
    if (before) {
      filterPair(in[0] + done, in[1] ? in[1] + done : nullptr, stage_[0] + kKeep,
                 stage_[1] ? stage_[1] + kKeep : nullptr, c);
    }
    for (uint32_t ch = 0; ch < channels_; ++ch) {
      float* stage = stage_[ch];
      if (!before) std::copy(in[ch] + done, in[ch] + done + c, stage + kKeep);
      // Stage index j holds input frame consumed_ - kKeep + j. A read at i
      // + f takes the taps i - 1 .. i + 2, so the last full set of taps ends
      // at the newest frame when i = c.
      const double origin = static_cast<double>(consumed_) - kKeep;
      const double last = static_cast<double>(c) + 1.0;
      uint32_t k = 0;
      for (;; ++k) {
        const double pos = anchor_ + static_cast<double>(reads_ + k) * ratio - origin;
        if (!(pos < last)) break;
        const auto i = static_cast<uint32_t>(pos);
        read_[ch][k] = hermite(stage + i - 1, static_cast<float>(pos - i));
      }
      produced = k;
      std::copy(stage + c, stage + c + kKeep, stage);
    }
    reads_ += produced;
    consumed_ += c;
    engine_.push(read_[0], read_[1], produced);
    engine_.pull(outL + done, outR ? outR + done : nullptr, c);
    if (after) {
      filterPair(out[0] + done, out[1] ? out[1] + done : nullptr, out[0] + done,
                 out[1] ? out[1] + done : nullptr, c);
    }
    done += c;
  }
}

}  // namespace dspfx
