#pragma once
#include <cstdint>
#include <vector>

#include "core/effect_base.h"
#include "dsp/channel_pair.h"
#include "dsp/fft_convolver.h"
#include "eq/fir_band_filter.h"

namespace dspfx {

// N equal-width bands from 0 Hz to half the rate, each with a gain in dB, and
// an output level. The design does not depend on the rate, so the base
// setup (buffers only) is kept.
class ShelvingEqEffect : public EffectBase {
 public:
  static constexpr int32_t kTypeId = kTypeShelvingEq;
  // Counts above this are refused: 32767 taps is already far beyond any use.
  static constexpr uint32_t kMaxBandCount = 8192;
  enum Mode : uint32_t { kDirect = 0, kFftConvolution = 1 };

  ShelvingEqEffect() { typeId = kTypeId; }
  ~ShelvingEqEffect() override = default;

  // True when count is 1 ... kMaxBandCount with 2 x count a power of two.
  static bool validBandCount(uint32_t count);

  bool init(uint32_t frames, uint32_t channels, uint32_t rate, uint32_t count, const float* gainsDb,
            float levelDb);
  // False (nothing changed) for a band outside 0 ... N-1.
  bool setGain(int32_t band, float gainDb);
  void setOutputLevel(float levelDb);
  // kDirect runs the filters as designed; kFftConvolution runs the same taps
  // through fast convolution, with the same delay and the output equal up
  // to float rounding. A switch keeps the past inputs, so the signal goes on
  // without a break. False (mode unchanged) for another value or when the
  // convolvers cannot get their memory.
  bool setMode(uint32_t newMode);

  uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
  uint32_t process(const float* inL, const float* inR, float* outL, float* outR,
                   uint32_t frames) override;

  // Both channels' filters are designed alike, also for mono input, so a
  // later setup to stereo finds the second one ready.
  ChannelPair<FirBandFilter> filters;
  uint32_t bandCount = 0;
  float outputLevelDb = 0.0f;
  std::vector<float> bandGainsDb;
  uint32_t mode = kDirect;
  // Made at the first switch to fast convolution and kept, taps always
  // current, so that later switches allocate nothing.
  FftConvolver convolvers[2];

 private:
  uint32_t run(uint32_t channel, const float* in, float* out, uint32_t frames);
};

}  // namespace dspfx
