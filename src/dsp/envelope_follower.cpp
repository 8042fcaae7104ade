#include "dsp/envelope_follower.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace dspfx {
namespace {
// A window this long would need a sample rate no 32-bit rate reaches.
constexpr double kMaxWindow = 1u << 24;
}  // namespace

EnvelopeFollower::~EnvelopeFollower() {
  delete[] work;
  delete[] tail;
}

bool EnvelopeFollower::setup(uint32_t newCapacity, float newRate, int32_t order, float cutoffHz,
                             float newInputGain, bool newScaleOutput, float newOutputScale) {
  if (!(newRate > 0.0f) || !std::isfinite(newRate) || order < 1 || order > 64 || !(cutoffHz > 0.0f) ||
      !(cutoffHz < 0.5f * newRate) || !std::isfinite(newInputGain) || !std::isfinite(newOutputScale)) {
    return false;
  }
  const bool rateChanged = !allocated || newRate != sampleRate;
  uint32_t newWindow = windowLength;
  if (rateChanged) {
    const double w = std::trunc(0.001 * static_cast<double>(newRate));
    if (w > kMaxWindow) return false;
    // Below 1000 Hz the window would be empty; one sample keeps the peak
    // signal equal to the rectified input.
    newWindow = w < 1.0 ? 1u : static_cast<uint32_t>(w);
  }
  const bool growWork = rateChanged || newCapacity > capacityFrames;
  float* newTail = rateChanged ? new (std::nothrow) float[newWindow] : nullptr;
  float* newWork = growWork ? new (std::nothrow) float[size_t{newWindow} + newCapacity] : nullptr;
  if ((rateChanged && !newTail) || (growWork && !newWork)) {
    delete[] newTail;
    delete[] newWork;
    return false;
  }

  if (rateChanged) {
    delete[] tail;
    tail = newTail;
    windowLength = newWindow;
  }
  std::memset(tail, 0, size_t{windowLength} * sizeof(float));
  if (growWork) {
    delete[] work;
    work = newWork;
  }
  capacityFrames = newCapacity;
  sampleRate = newRate;
  smoother.setOrder(order, kLowPass);
  smoother.design(newRate, cutoffHz);
  inputGain = newInputGain;
  scaleOutput = newScaleOutput;
  outputScale = newOutputScale;
  allocated = true;
  return true;
}

int32_t EnvelopeFollower::process(const float* in, float* out, uint32_t frames) {
  if (!allocated || frames > capacityFrames) return 0;
  const uint32_t w = windowLength;
  std::memcpy(work, tail, size_t{w} * sizeof(float));

  // Running maximum of work[j+1 ... w+j]: a new value at least as large takes
  // over; otherwise the old maximum holds until it drops out of the window,
  // and only then is the window scanned again.
  float peak = -std::numeric_limits<float>::infinity();
  uint32_t peakAt = 0;
  auto rescan = [&](uint32_t from, uint32_t to) {
    peak = -std::numeric_limits<float>::infinity();
    for (uint32_t i = from; i < to; ++i) {
      if (work[i] >= peak) {
        peak = work[i];
        peakAt = i;
      }
    }
  };
  rescan(1, w);
  for (uint32_t j = 0; j < frames; ++j) {
    const float v = inputGain * std::fabs(in[j]);
    work[w + j] = v;
    if (v >= peak) {
      peak = v;
      peakAt = w + j;
    } else if (peakAt < j + 1) {
      rescan(j + 1, w + j + 1);
    }
    out[j] = peak;
  }
  std::memcpy(tail, work + frames, size_t{w} * sizeof(float));

  smoother.run(out, out, frames);
  if (scaleOutput) {
    for (uint32_t j = 0; j < frames; ++j) out[j] = out[j] * outputScale;
  }
  return 1;
}

}  // namespace dspfx
