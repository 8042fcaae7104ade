#pragma once
#include <cstdint>

#include "dsp/aligned_grains.h"
#include "dsp/biquad_cascade.h"
#include "pitchtime/aligned_stretch.h"

namespace dspfx {

// Pitch shift of one or two channels by aligned grains: the input is read
// ratio times as fast (four-point interpolation between samples), which
// shortens it by the ratio and moves every partial, and the aligned engine
// stretches it back to its own length, n output frames for n input frames.
// With the low-pass on, the input is band-limited below the new Nyquist
// frequency before it is read faster, and the output above the old one
// scaled down after it is read slower.
class AlignedPitch {
 public:
  // Most input frames read at once.
  static constexpr uint32_t kChunkFrames = 2048;
  static constexpr double kMinRatio = 0.5;
  static constexpr double kMaxRatio = 2.0;
  static constexpr int32_t kFilterOrder = 10;

  ~AlignedPitch();
  bool prepare(uint32_t channels, float sampleRate, const AlignedGrainTimes& times,
               bool antiAlias);
  void reset();

  // n frames in, n frames out at the pitch ratio (1 passes through the
  // engine unfiltered); right null for one channel; out distinct from in.
  void process(const float* inL, const float* inR, float* outL, float* outR, uint32_t n,
               double ratio);

  bool ready() const { return engine_.allocated; }

 private:
  void follow(double ratio);
  void release();
  // Both channels' low-passes side by side.
  void filterPair(const float* inL, const float* inR, float* outL, float* outR,
                  uint32_t frames);

  AlignedGrains engine_;
  AlignedGrainTimes times_;
  float sampleRate_ = 0.0f;
  uint32_t channels_ = 0;
  bool antiAlias_ = false;
  double ratio_ = 0.0;
  // The read position is anchor_ + reads_ x ratio_ input frames from the
  // first input frame, formed afresh for every read so it does not depend on
  // how the input was cut; consumed_ input frames have entered the stage
  // before the current chunk (whose first frame follows the three kept).
  double anchor_ = 0.0;
  uint64_t reads_ = 0;
  uint64_t consumed_ = 0;
  float* stage_[2] = {nullptr, nullptr};
  float* read_[2] = {nullptr, nullptr};
  ButterworthCascade filter_[2];
};

}  // namespace dspfx
