#pragma once
#include <cstdint>

#include "fade/fade_ramp.h"

namespace dspfx {

// The cross-fader of one channel: a position in -1 ... +1 (+1 plays stream A
// alone, -1 stream B alone) moved by the same ramps as a level and turned
// into the gains of both streams by the cross-fade law.
class CrossFadeRamp final : public FadeRamp {
 public:
  CrossFadeRamp();
  ~CrossFadeRamp() override = default;

  // The ramp's line clamped to -1 ... +1.
  float levelAt(uint32_t frame) const override;
  // Sets gainA and gainB from the position; the unit's own gain is 0.
  float gainOf(float position) override;

  // a: dB of both streams at the centre; b: dB of the fading stream at
  // position d (beyond it that stream is silent); c: position from which the
  // near stream is at 0 dB. The gains follow at the next computed frame.
  void setCurve(float a, float b, float c, float d);

  // out[i] = gainB * b[i] + gainA * a[i]; out may be a or b.
  void mix(const float* a, const float* b, float* out, uint32_t frames);

  float gainA = 0.0f;
  float gainB = 0.0f;
  float curveA = 0.0f;
  float curveB = 0.0f;
  float curveC = 0.0f;
  float curveD = 0.0f;
  float slopeNearA = 0.0f;  // dB per unit position of A for 0 <= x <= C
  float slopeFarA = 0.0f;   // ... of A for -D <= x < 0
  float slopeNearB = 0.0f;  // ... of B for -C <= x <= 0
  float slopeFarB = 0.0f;   // ... of B for 0 < x <= D
};

}  // namespace dspfx
