#pragma once
#include <cstdint>
#include <vector>

#include "core/effect_base.h"
#include "dsp/channel_pair.h"
#include "dspfx/dspfx.h"
#include "eq/resonator_bank.h"

namespace dspfx {

// Freely placed resonator bands summed in parallel, plus a master gain. The
// band frequencies are absolute, so a new rate redesigns both banks from the
// stored layout; outRate is the rate of the last design.
class GraphicEqEffect : public EffectBase {
 public:
  static constexpr int32_t kTypeId = kTypeGraphicEq;

  GraphicEqEffect() { typeId = kTypeId; }
  ~GraphicEqEffect() override = default;

  bool init(uint32_t frames, uint32_t channels, uint32_t rate, uint32_t count,
            const GraphicEqBand* layout, float masterDb);
  // 0 for a band at or beyond bandCount (nothing changes), else 1.
  int setGain(uint32_t band, float gainDb);
  int remakeBand(uint32_t band, float frequency, float zeroRadius, float poleRadius);
  void setMasterGain(float masterDb);

  uint32_t setup(uint32_t frames, uint32_t channels, uint32_t rate) override;
  uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
  uint32_t process(const float* inL, const float* inR, float* outL, float* outR,
                   uint32_t frames) override;

  // Both designed alike, also for mono input.
  ChannelPair<ResonatorBank> banks;
  uint32_t bandCount = 0;
  // The current layout: every set call keeps it up to date, so a redesign
  // at a new rate keeps all changes made so far.
  std::vector<GraphicEqBand> bands;
  float masterGainDb = 0.0f;
};

}  // namespace dspfx
