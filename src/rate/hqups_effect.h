#pragma once
#include <cstdint>

#include "core/effect_base.h"
#include "dsp/channel_pair.h"
#include "rate/harmonic_exciter.h"
#include "dsp/rate_converter.h"

namespace dspfx {

// The parameters an upsampler keeps for its own rebuilds.
struct HqupsParams {
  float harmonics = 0.0f;
  float mix = 0.0f;
  uint32_t highpassHz = 0;
  int32_t interpolation = 0;
  float stopbandDb = 0.0f;
  float slopeDbPerOctave = 0.0f;
  int32_t activeMode = 0;
  bool antiAlias = false;
};

// Upsamples any rate to 48000 Hz and adds synthetic top-octave harmonics:
// per channel a rate converter into aux, then an exciter into out.
class HqupsEffect : public EffectBase {
 public:
  static constexpr int32_t kTypeId = kTypeHqups;
  static constexpr uint32_t kOutRate = 48000;
  static constexpr uint32_t kSplitOrder = 16;
  static constexpr float kRippleDb = 0.1f;

  HqupsEffect() { typeId = kTypeId; }

  // Sized for dstFrames output frames per call. False when the parameters
  // cannot make a working object or memory cannot be had.
  bool initByDst(uint32_t dstFrames, uint32_t channels, uint32_t outChannelCount, uint32_t srcRate,
                 const HqupsParams& p);
  // Sized for capacityFrames input frames per call.
  bool initBySrc(uint32_t capacity, uint32_t channels, uint32_t outChannelCount, uint32_t srcRate,
                 const HqupsParams& p);

  uint32_t setup(uint32_t frames, uint32_t channels, uint32_t rate) override;
  uint32_t getDstSize(uint32_t size) override;
  uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
  uint32_t process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                   uint32_t frames) override;
  uint32_t processInterleaved(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) override;

  void setHarmonics(float value);
  void setMix(float value);
  void setActiveMode(int32_t mode);
  // 0, 1 or 2 as for the resampler's converters; resets them and, when a
  // block can now give another count, the exciters sized for it. False for
  // another value or no memory (the effect is then without buffers).
  bool setQuality(int32_t value);
  uint32_t getSrcSize(uint32_t frames) const { return srcSize(frames, inRate, outRate); }

  // Input frames for a wanted output count: one correction step on the
  // truncated quotient, so the count is close to but not always exact.
  static uint32_t srcSize(uint32_t frames, uint32_t srcRate, uint32_t dstRate);

  ChannelPair<RateConverter> converters;
  ChannelPair<HarmonicExciter> exciters;
  float harmonics = 0.0f;
  float mix = 0.0f;
  uint32_t highpassHz = 0;
  int32_t interpolation = 0;
  float stopbandDb = 0.0f;
  float slopeDbPerOctave = 0.0f;
  int32_t activeMode = 0;
  bool antiAlias = false;
  int32_t quality = RateConverter::kQualityDesign;

 private:
  bool store(uint32_t srcRate, const HqupsParams& p);
  // Configures both converters for frames input frames; 0 on failure.
  bool configureConverters(uint32_t frames, uint32_t rate, uint32_t& maxDst);
  bool configureExciters(uint32_t frames);
  // out and aux hold the larger of the output count and the capacity: the
  // equal-rate copy writes every input frame.
  bool growOutputs(uint32_t frames);
  // setupBuffers within the largest block the upsampler takes.
  bool setupAllBuffers(uint32_t frames, uint32_t channels);
  bool fail();

  // The output block asked for at creation by size (initHqups); 0 when
  // sized by input.
  uint32_t requestedFrames = 0;
};

}  // namespace dspfx
