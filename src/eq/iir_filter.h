#pragma once
#include <cstdint>

#include "core/effect_base.h"
#include "dsp/channel_pair.h"
#include "dsp/biquad_cascade.h"

namespace dspfx {

// Chebyshev type I low- or high-pass with 1 dB ripple on each channel. Order,
// cutoff and kind are fixed at creation; the filter is designed again only
// when a setup brings a new sample rate.
class IirFilterEffect : public EffectBase {
 public:
  static constexpr int32_t kTypeId = kTypeIirFilter;
  static constexpr int32_t kMaxOrder = 64;

  IirFilterEffect() { typeId = kTypeId; }

  // False (nothing usable) for an order outside 1..kMaxOrder, a cutoff not
  // strictly between 0 and half the rate, or no memory.
  bool init(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate, int32_t filterOrder,
            float cutoffHz, int32_t filterKind);

  uint32_t setup(uint32_t frames, uint32_t channels, uint32_t rate) override;
  uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
  uint32_t process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                   uint32_t frames) override;

  ChannelPair<ChebyshevCascade> cascades;
  int32_t order = 0;
  float cutoff = 0.0f;
  int32_t kind = kLowPass;

 private:
  void redesign(uint32_t rate);
};

}  // namespace dspfx
