#include "pitchtime/pitch_shift_effect.h"

#include "core/sample_convert.h"

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

bool PitchShiftEffect::prepareAligned() {
  return aligned.prepare(inChannels, static_cast<float>(outRate), alignedTimes, antiAlias);
}

bool PitchShiftEffect::setMode(uint32_t newMode) {
  if (newMode > 1) return false;
  if (newMode == mode) return true;
  if (newMode == 1 ? !prepareAligned() : !buildChannels(outRate)) return false;
  mode = newMode;
  return true;
}

bool PitchShiftEffect::setAlignedTimes(const AlignedGrainTimes& times) {
  const AlignedGrainTimes old = alignedTimes;
  alignedTimes = times;
  if (mode == 0 || prepareAligned()) return true;
  // Refused: the old lengths stay, on an engine started afresh.
  alignedTimes = old;
  prepareAligned();
  return false;
}

void PitchShiftEffect::processAligned(const float* inLeft, const float* inRight,
                                      float* outLeft, float* outRight, uint32_t frames) {
  const bool two = stereo();
  forEachPiece(frames, [&](uint32_t offset, uint32_t n, uint32_t) {
    // One engine serves both channels, so they change pitch together.
    const PitchParams p = channels[0].active;
    float* left = outLeft + offset;
    float* right = two ? outRight + offset : nullptr;
    aligned.process(inLeft + offset, two ? inRight + offset : nullptr, left, right, n,
                    p.bypass ? 1.0 : static_cast<double>(p.ratio));
    // A pitch of 0 passes the signal at its own level, as the grains do.
    if (!p.bypass) {
      const float gain = channels[0].outputGain;
      for (uint32_t i = 0; i < n; ++i) left[i] *= gain;
      if (right) {
        for (uint32_t i = 0; i < n; ++i) right[i] *= gain;
      }
    }
    channels[0].adoptPending();
    channels[1].adoptPending();
    return n;
  });
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
  const bool rebuild = rate != outRate || stereo() != wasStereo || !aligned.ready();
  outRate = rate;
  if (mode == 1 && rebuild && !prepareAligned()) {
    releaseBuffers();
    return 0;
  }
  return rate;
}

uint32_t PitchShiftEffect::processChannel(uint32_t channel, const float* in, float* out,
                                          uint32_t frames) {
  if (channel > 1) return 0;
  // The right channel runs the block the left one ran, under its changes.
  if (channel == 0) takeChanges();
  if (mode == 1) {
    // Aligned grains splice both channels at one point, so a stereo stream
    // only runs through process.
    if (channel != 0 || stereo()) return 0;
    processAligned(in, nullptr, out, nullptr, frames);
    return frames;
  }
  return channels[channel].process(in, out, frames);
}

uint32_t PitchShiftEffect::process(const float* inLeft, const float* inRight, float* outLeft,
                                   float* outRight, uint32_t frames) {
  // A chain whose stretcher was sped up can hand over more frames than this
  // effect was set up for; its own buffers would overflow.
  if (frames > capacityFrames()) return 0;
  takeChanges();
  if (mode == 1) {
    processAligned(inLeft, inRight, outLeft, outRight, frames);
    return frames;
  }
  channels.run(stereo(), [&](PitchShiftChannel& c, uint32_t ch) {
    return ch == 0 ? c.process(inLeft, outLeft, frames) : c.process(inRight, outRight, frames);
  });
  return frames;
}

uint32_t PitchShiftEffect::processInterleaved(const int16_t* pcmIn, int16_t* pcmOut,
                                              uint32_t bytes) {
  if (mode == 0) return EffectBase::processInterleaved(pcmIn, pcmOut, bytes);
  const uint32_t frames = framesIn(bytes);
  takeChanges();
  pcm16ToFloat(pcmIn, bytes, inL(), stereo() ? inR() : nullptr, inChannels);
  processAligned(inL(), inR(), outL(), outR(), frames);
  floatToPcm16(outL(), stereo() ? outR() : nullptr, frames, pcmOut, inChannels);
  return bytes;
}

}  // namespace dspfx
