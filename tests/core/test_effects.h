#pragma once
// Small effect families used to test the object model and the chain.
#include <cstdint>

#include "core/effect_base.h"

namespace dspfx::test {

// Multiplies by a factor; counts its setups.
class ScaleEffect : public EffectBase {
 public:
  static constexpr int32_t kTypeId = kTypeChorus;
  explicit ScaleEffect(float factor = 2.0f) : factor(factor) { typeId = kTypeId; }
  uint32_t setup(uint32_t frames, uint32_t channels, uint32_t rate) override {
    ++setups;
    const uint32_t r = EffectBase::setup(frames, channels, rate);
    outRate = rate;
    return r;
  }
  uint32_t processChannel(uint32_t, const float* in, float* out, uint32_t frames) override {
    for (uint32_t i = 0; i < frames; ++i) out[i] = factor * in[i];
    return frames;
  }
  uint32_t process(const float* l, const float* r, float* ol, float* orr, uint32_t frames) override {
    const uint32_t n = processChannel(0, l, ol, frames);
    if (stereo()) processChannel(1, r, orr, frames);
    return n;
  }
  float factor;
  int setups = 0;
};

// Another family, for wrong-family checks.
class OtherEffect : public ScaleEffect {
 public:
  static constexpr int32_t kTypeId = kTypeFader;
  OtherEffect() { typeId = kTypeId; }
};

// Keeps every second frame: halves length and rate.
class DecimateEffect : public ScaleEffect {
 public:
  static constexpr int32_t kTypeId = kTypeResampler;
  DecimateEffect() : ScaleEffect(1.0f) { typeId = kTypeId; }
  uint32_t setup(uint32_t frames, uint32_t channels, uint32_t rate) override {
    ScaleEffect::setup(frames, channels, rate);
    outFrames = frames / 2;
    outRate = rate / 2;
    return rate;
  }
  uint32_t getDstSize(uint32_t size) override { return size / 2; }
  uint32_t processChannel(uint32_t, const float* in, float* out, uint32_t frames) override {
    for (uint32_t i = 0; i < frames / 2; ++i) out[i] = in[2 * i];
    return frames / 2;
  }
};

// One channel in, two out: the right output is the left one negated.
class MonoToStereoEffect : public ScaleEffect {
 public:
  static constexpr int32_t kTypeId = kTypeHqups;
  MonoToStereoEffect() : ScaleEffect(1.0f) { typeId = kTypeId; }
  uint32_t setup(uint32_t frames, uint32_t channels, uint32_t rate) override {
    ScaleEffect::setup(frames, channels, rate);
    outChannels = 2;
    return rate;
  }
  uint32_t process(const float* l, const float*, float* ol, float* orr, uint32_t frames) override {
    for (uint32_t i = 0; i < frames; ++i) ol[i] = l[i], orr[i] = -l[i];
    return frames;
  }
};

}  // namespace dspfx::test
