#include "fade/cross_fade_ramp.h"

#include <cmath>

#include "core/lookup_tables.h"

namespace dspfx {

CrossFadeRamp::CrossFadeRamp() {
  gain = 0.0f;
  setCurve(-1.0f, -40.0f, 0.05f, 0.8f);
}

float CrossFadeRamp::levelAt(uint32_t frame) const {
  const float x = FadeRamp::levelAt(frame);
  if (x < -1.0f) return -1.0f;
  if (x > 1.0f) return 1.0f;
  return x;
}

float CrossFadeRamp::gainOf(float x) {
  const float a = curveA, c = curveC, d = curveD;
  if (x > c) {
    gainA = 1.0f;
  } else if (x >= 0.0f) {
    gainA = dbToGain(a + slopeNearA * x);
  } else if (x >= -d) {
    gainA = dbToGain(a + slopeFarA * x);
  } else {
    gainA = 0.0f;
  }
  if (x < -c) {
    gainB = 1.0f;
  } else if (x <= 0.0f) {
    gainB = dbToGain(a + slopeNearB * x);
  } else if (x <= d) {
    gainB = dbToGain(a + slopeFarB * x);
  } else {
    gainB = 0.0f;
  }
  return 0.0f;
}

void CrossFadeRamp::setCurve(float a, float b, float c, float d) {
  curveA = a;
  curveB = b;
  curveC = std::fabs(c);
  curveD = std::fabs(d);
  // A zero width leaves its side with no ramp: only the position 0 itself
  // (or nothing, for D) is inside it, so the slope is never used.
  slopeNearA = curveC != 0.0f ? -a / curveC : 0.0f;
  slopeNearB = curveC != 0.0f ? a / curveC : 0.0f;
  slopeFarA = curveD != 0.0f ? (a - b) / curveD : 0.0f;
  slopeFarB = curveD != 0.0f ? (b - a) / curveD : 0.0f;
}

void CrossFadeRamp::mix(const float* a, const float* b, float* out, uint32_t frames) {
  for (uint32_t i = 0; i < frames; ++i) {
    const uint32_t p = position + i;
    if (advance(p)) {
      level = levelAt(p);
      gain = gainOf(level);
    }
    out[i] = gainB * b[i] + gainA * a[i];
  }
  position += frames;
}

}  // namespace dspfx
