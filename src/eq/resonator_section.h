#pragma once
#include <cstdint>

#include "core/dsp_object.h"
#include "dspfx/dspfx.h"

namespace dspfx {

// One graphic-equaliser band: a pole pair and a zero pair at the band
// frequency, scaled so that the response at that frequency is the band gain.
class ResonatorSection : public DspObject {
 public:
  ResonatorSection() = default;
  ~ResonatorSection() override = default;

  // Clears the state and designs from the record.
  void init(int32_t rate, const GraphicEqBand& band);
  // Only the gain changes: coefficients, normaliser and state stay.
  void setGain(float gainDb);
  // New shape; the gain and the state stay.
  void design(float frequencyHz, float zeroRadius, float poleRadius);

  // out[i] = y(in[i]); with accumulate, out[i] += y(in[i]) instead.
  void run(const float* in, float* out, uint32_t frames, bool accumulate);
  // out[i] = sum of the count sections' outputs for in[i], added in section
  // order with float rounding after each addition (count >= 1).
  static void runSum(ResonatorSection* sections, uint32_t count, const float* in, float* out,
                     uint32_t frames);

  int32_t sampleRate = 0;
  float frequency = 0.0f;
  float effectiveGain = 0.0f;
  float normaliser = 1.0f;
  float linearGain = 1.0f;
  float a1 = 0.0f, a2 = 0.0f;
  float b0 = 1.0f, b1 = 0.0f, b2 = 0.0f;
  float w1 = 0.0f, w2 = 0.0f;
};

}  // namespace dspfx
