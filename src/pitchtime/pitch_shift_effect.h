#pragma once
#include <cstdint>

#include "core/effect_base.h"
#include "pitchtime/pitch_shift_channel.h"

namespace dspfx {

// Pitch shift by up to an octave either way; blocks keep their length.
class PitchShiftEffect : public EffectBase {
 public:
  static constexpr int32_t kTypeId = kTypePitchShift;
  PitchShiftEffect() { typeId = kTypeId; }

  // False when the block buffers, the grains or the hop cannot be had.
  bool init(uint32_t capacityFrames, uint32_t channels, uint32_t sampleRate, float pitch,
            float outLevelDb, float grainTime, float hopTime, uint32_t interpolationMode,
            bool antiAliasOn);

  // Safe to call from another thread while a block is processed: each
  // channel takes the change between two pieces.
  void setPitch(float newPitch);
  void setOutLevel(float outLevelDb);

  uint32_t setup(uint32_t frames, uint32_t channels, uint32_t rate) override;
  uint32_t processChannel(uint32_t channel, const float* in, float* out,
                          uint32_t frames) override;
  uint32_t process(const float* inL, const float* inR, float* outL, float* outR,
                   uint32_t frames) override;

  PitchShiftChannel channels[2];
  float pitch = 0.0f;
  float outputLevel = 0.0f;
  float grainTime = 0.0f;
  float hopTime = 0.0f;
  uint32_t interpolation = 0;
  bool antiAlias = false;

 private:
  bool buildChannels(uint32_t rate);
};

}  // namespace dspfx
