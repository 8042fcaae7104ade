#include "pitchtime/grain_channel.h"

namespace dspfx {

uint32_t grainLengthFor(float grainTime, float sampleRate) {
  // 325/212: the grain is that much longer than the nominal grain time so
  // the Gaussian's useful width matches it.
  const double frames = static_cast<double>(grainTime) * static_cast<double>(sampleRate) *
                        1.5330188679245282;
  if (!(frames >= 1.0) || frames >= static_cast<double>(kMaxGrainFrames) + 1.0) return 0;
  return static_cast<uint32_t>(frames);
}

uint32_t hopFor(float sampleRate, float hopTime) {
  const float frames = sampleRate * hopTime;
  if (!(frames >= 1.0f) || frames >= static_cast<float>(kMaxGrainFrames) + 1.0f) return 0;
  return static_cast<uint32_t>(frames);
}

void fillGaussianWindow(float* window, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    const double x = 13.0 * i / n - 6.5;
    window[i] = static_cast<float>(std::exp(-0.25 * x * x));
  }
}

}  // namespace dspfx
