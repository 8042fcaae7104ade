#pragma once
#include <cstdint>

#include "core/effect_base.h"
#include "dsp/channel_pair.h"
#include "dsp/rate_converter.h"

namespace dspfx {

// Sample-rate converter effect: one RateConverter per channel, optionally
// writing its PCM with another channel count than it reads.
class Resampler : public EffectBase {
 public:
  static constexpr int32_t kTypeId = kTypeResampler;
  // The anti-alias filter's pass-band ripple; the stop-band attenuation given
  // at creation must lie above it.
  static constexpr float kRippleDb = 0.1f;

  Resampler() { typeId = kTypeId; }

  // False for a zero rate, a slope not above 0, a stop band not above the
  // ripple, or no memory.
  bool init(uint32_t capacityFrames, uint32_t channels, uint32_t outChannelCount, uint32_t srcRate,
            uint32_t dstRate, int32_t interpolationMode, float stopband, float slope,
            bool filterOn);

  // 0 the design's block-wise conversion, 1 the same carried across blocks,
  // 2 band-limited (see RateConverter). Resets both converters and resizes
  // the outputs to what a block can now give. False for another value or no
  // memory (the effect is then without buffers).
  bool setQuality(int32_t value);

  // A new input format: the converters are reconfigured (a full reset) and
  // the channel count written becomes the one read. The destination rate
  // given at creation stays.
  uint32_t setup(uint32_t frames, uint32_t channels, uint32_t rate) override;
  uint32_t getDstSize(uint32_t size) override { return converters[0].dstSize(size); }
  uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
  uint32_t process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                   uint32_t frames) override;
  uint32_t processInterleaved(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) override;

  ChannelPair<RateConverter> converters;
  int32_t interpolation = 0;
  float stopbandDb = 0.0f;
  float slopeDbPerOctave = 0.0f;
  bool antiAlias = false;
  int32_t quality = RateConverter::kQualityDesign;

 private:
  // Configures both converters for the current input format and makes the
  // output buffers large enough; false leaves the effect without buffers.
  bool configureConverters();
};

}  // namespace dspfx
