#pragma once
#include <cstdint>

#include "core/dsp_object.h"
#include "dsp/biquad_cascade.h"

namespace dspfx {

// Amplitude envelope of one channel: the peak of the rectified signal over
// the last windowLength samples (about 1 ms, reaching back into earlier
// blocks), smoothed by a Butterworth low-pass.
class EnvelopeFollower : public DspObject {
 public:
  EnvelopeFollower() = default;
  ~EnvelopeFollower() override;

  // Clears the carried peaks and the smoother's state. The peak window is
  // trunc(0.001 * sampleRate) samples, at least 1. False, with the follower
  // left as it was, unless sampleRate is finite and positive, 1 <= order <=
  // 64, 0 < cutoffHz < sampleRate / 2, the gains are finite and the memory
  // can be had.
  bool setup(uint32_t capacityFrames, float sampleRate, int32_t order, float cutoffHz, float inputGain,
             bool scaleOutput, float outputScale);

  // 1 after writing frames envelope values to out; 0, writing nothing, before
  // setup or for more frames than the capacity. in and out may be the same.
  int32_t process(const float* in, float* out, uint32_t frames);

  float* work = nullptr;  // carried head (windowLength) + current block
  float* tail = nullptr;  // last windowLength rectified values
  uint32_t capacityFrames = 0;
  ButterworthCascade smoother;
  float inputGain = 1.0f;
  float outputScale = 1.0f;
  bool scaleOutput = false;
  float sampleRate = 0.0f;
  uint32_t windowLength = 0;
};

}  // namespace dspfx
