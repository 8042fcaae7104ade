#include "pitchtime/chorus_effect.h"

namespace dspfx {

ChorusEffect::ChorusEffect() { typeId = kTypeId; }

bool ChorusEffect::init(uint32_t frames, uint32_t channelCount, uint32_t sampleRate,
                        uint32_t voiceCount, float delaytimeMs, float depthMs, float speedSeconds,
                        float mixPercent, float orgMixPercent) {
  if (voiceCount > kMaxVoices) return false;
  if (!setupBuffers(frames, channelCount)) return false;
  inRate = outRate = sampleRate;
  voices = voiceCount;
  delaytime = delaytimeMs;
  depth = depthMs;
  speed = speedSeconds;
  mix = mixPercent;
  orgMix = orgMixPercent;
  return buildChannels();
}

bool ChorusEffect::buildChannels() {
  return channels.allOf(
      [&](ChorusChannel& c) { return c.build(inRate, voices, delaytime, depth, speed, mix, orgMix); });
}

uint32_t ChorusEffect::setup(uint32_t frames, uint32_t channelCount, uint32_t sampleRate) {
  if (!setupBuffers(frames, channelCount)) return 0;
  inRate = outRate = sampleRate;
  if (!buildChannels()) {
    releaseBuffers();
    return 0;
  }
  return sampleRate;
}

uint32_t ChorusEffect::processChannel(uint32_t channel, const float* in, float* out,
                                      uint32_t frames) {
  channels[channel == 1 ? 1 : 0].process(in, out, frames);
  return frames;
}

uint32_t ChorusEffect::process(const float* inL, const float* inR, float* outL, float* outR,
                               uint32_t frames) {
  channels.run(stereo(), [&](ChorusChannel& c, uint32_t ch) {
    ch == 0 ? c.process(inL, outL, frames) : c.process(inR, outR, frames);
    return 0;
  });
  return frames;
}

void ChorusEffect::setOrgMix(float value) {
  orgMix = value;
  channels.apply([&](ChorusChannel& c) { c.dryLevel = static_cast<float>(0.01 * value); });
}

bool ChorusEffect::setMix(int32_t voice, float value) {
  if (voice < 0 || static_cast<uint32_t>(voice) >= voices) return false;
  mix = value;
  channels.apply([&](ChorusChannel& c) { c.setVoiceMix(static_cast<uint32_t>(voice), value); });
  return true;
}

void ChorusEffect::setSpeed(float value) {
  speed = value;
  channels.apply([&](ChorusChannel& c) { c.setSpeed(value); });
}

void ChorusEffect::setDepth(float value) {
  depth = value;
  channels.apply([&](ChorusChannel& c) { c.setDepth(value); });
}

void ChorusEffect::setDelaytime(float value) {
  delaytime = value;
  channels.apply([&](ChorusChannel& c) { c.setDelaytime(value); });
}

}  // namespace dspfx
