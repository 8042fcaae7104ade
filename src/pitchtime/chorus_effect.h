#pragma once
#include <cstdint>

#include "core/effect_base.h"
#include "dsp/channel_pair.h"
#include "pitchtime/chorus_channel.h"

namespace dspfx {

// Several swept, delayed copies of the input added to it. Both channels are
// always built; the second runs only for stereo.
class ChorusEffect : public EffectBase {
 public:
  static constexpr int32_t kTypeId = kTypeChorus;
  static constexpr uint32_t kMaxVoices = 64;

  ChorusEffect();
  ~ChorusEffect() override = default;

  bool init(uint32_t frames, uint32_t channelCount, uint32_t sampleRate, uint32_t voiceCount,
            float delaytimeMs, float depthMs, float speedSeconds, float mixPercent,
            float orgMixPercent);
  // Always rebuilds both channels from the stored values: the lines are
  // cleared, the oscillator restarts and every voice gets the last mix.
  uint32_t setup(uint32_t frames, uint32_t channelCount, uint32_t sampleRate) override;
  uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
  uint32_t process(const float* inL, const float* inR, float* outL, float* outR,
                   uint32_t frames) override;

  void setOrgMix(float value);
  // False (nothing changes) for a voice outside 0 ... voices - 1.
  bool setMix(int32_t voice, float value);
  void setSpeed(float value);
  void setDepth(float value);
  void setDelaytime(float value);

  ChannelPair<ChorusChannel> channels;
  uint32_t voices = 0;
  float delaytime = 0.0f;
  float depth = 0.0f;
  float speed = 0.0f;
  float mix = 0.0f;
  float orgMix = 0.0f;

 private:
  bool buildChannels();
};

}  // namespace dspfx
