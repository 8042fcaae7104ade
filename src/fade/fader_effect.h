#pragma once
#include <cstdint>

#include "core/effect_base.h"
#include "dsp/channel_pair.h"
#include "fade/cross_fade_ramp.h"
#include "fade/fade_ramp.h"

namespace dspfx {

// Two faders and a cross-fader on the effect's own timeline (frames since
// init or the last setup). Fader 0 also serves the chain.
class FaderEffect : public EffectBase {
 public:
  static constexpr int32_t kTypeId = kTypeFader;
  static constexpr uint32_t kFaders = 2;

  FaderEffect();
  ~FaderEffect() override = default;

  bool init(uint32_t frames, uint32_t channels, uint32_t rate, float position, float level0,
            float level1);
  // A new format restarts the timeline at 0: the scheduled actions counted
  // frames of the old one, so they are dropped.
  uint32_t setup(uint32_t frames, uint32_t channels, uint32_t rate) override;
  uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
  uint32_t process(const float* inL, const float* inR, float* outL, float* outR,
                   uint32_t frames) override;

  // Runs fader index over a PCM block; false for an index other than 0 or 1.
  bool fade(uint32_t index, const int16_t* in, int16_t* out, uint32_t bytes);
  void crossFade(const int16_t* a, const int16_t* b, int16_t* out, uint32_t bytes);

  // False (and nothing changed) for a bad index, a non-finite value or no
  // memory; past or empty ranges are accepted and ignored.
  bool setFaderAction(uint32_t index, float start, float end, float target);
  bool delFaderAction(uint32_t index, float start, float end);
  bool setCrossFaderAction(float start, float end, float target);
  bool delCrossFaderAction(float start, float end);
  bool setCrossFaderCurve(float a, float b, float c, float d);

  FadeRamp& fader(uint32_t index, uint32_t channel) { return faderUnits[2 * index + channel]; }

  FadeRamp faderUnits[4];  // fader 0 L, fader 0 R, fader 1 L, fader 1 R
  ChannelPair<CrossFadeRamp> crossUnits;
  float initialPosition = 0.0f;
  float initialLevel0 = 0.0f;
  float initialLevel1 = 0.0f;
  bool curveSet = false;
  float curveA = 0.0f;
  float curveB = 0.0f;
  float curveC = 0.0f;
  float curveD = 0.0f;

 private:
  void initUnits();
  // Schedules (withAction) or clears on the two given units, all or nothing.
  static bool apply(FadeRamp& left, FadeRamp& right, bool withAction, float start, float end,
                    float target);
};

}  // namespace dspfx
