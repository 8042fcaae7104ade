#include "pitchtime/pitch_shift_effect.h"

namespace dspfx {

bool PitchShiftEffect::buildChannels(uint32_t rate) {
  return channels.applyBoth([&](PitchShiftChannel& c) {
    return c.build(rate, pitch, outputLevel, grainTime, hopTime, interpolation, antiAlias);
  });
}

bool PitchShiftEffect::init(uint32_t capacityFrames, uint32_t channelCount, uint32_t sampleRate,
                            float newPitch, float outLevelDb, float grain, float hopSeconds,
                            uint32_t interpolationMode, bool antiAliasOn) {
  if (!setupBuffers(capacityFrames, channelCount)) return false;
  inRate = outRate = sampleRate;
  pitch = newPitch;
  outputLevel = outLevelDb;
  grainTime = grain;
  hopTime = hopSeconds;
  interpolation = interpolationMode;
  antiAlias = antiAliasOn;
  return buildChannels(sampleRate);
}

void PitchShiftEffect::takeChanges() {
  float value = 0.0f;
  if (pitchBox_.take(value)) {
    channels.apply([&](PitchShiftChannel& c) { c.setPitch(value); });
    pitch = value;
  }
  if (levelBox_.take(value)) {
    channels.apply([&](PitchShiftChannel& c) { c.setOutLevel(value); });
    outputLevel = value;
  }
}

uint32_t PitchShiftEffect::setup(uint32_t frames, uint32_t channelCount, uint32_t rate) {
  takeChanges();
  const bool wasStereo = stereo();
  if (!setupBuffers(frames, channelCount)) return 0;
  inRate = rate;
  if (rate != outRate || !channels[0].allocated || !channels[1].allocated) {
    if (!buildChannels(rate)) {
      releaseBuffers();
      return 0;
    }
  } else if (stereo() && !wasStereo) {
    // While mono, only the first shifter ran; the second would start from
    // whatever it last heard.
    channels[1].followState(channels[0]);
  }
  outRate = rate;
  return rate;
}

uint32_t PitchShiftEffect::processChannel(uint32_t channel, const float* in, float* out,
                                          uint32_t frames) {
  if (channel > 1) return 0;
  // The right channel runs the block the left one ran, under its changes.
  if (channel == 0) takeChanges();
  return channels[channel].process(in, out, frames);
}

uint32_t PitchShiftEffect::process(const float* inLeft, const float* inRight, float* outLeft,
                                   float* outRight, uint32_t frames) {
  // A chain whose stretcher was sped up can hand over more frames than this
  // effect was set up for; its own buffers would overflow.
  if (frames > capacityFrames()) return 0;
  takeChanges();
  channels.run(stereo(), [&](PitchShiftChannel& c, uint32_t ch) {
    return ch == 0 ? c.process(inLeft, outLeft, frames) : c.process(inRight, outRight, frames);
  });
  return frames;
}

}  // namespace dspfx
