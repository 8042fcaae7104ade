#include "pitchtime/stretch_effect.h"

#include <cmath>

#include "core/sample_convert.h"

namespace dspfx {

bool StretchEffect::buildChannels(uint32_t frames, uint32_t rate, uint32_t& outputCapacity) {
  // Both units report the same capacity; the left one's is kept.
  channels.run(true, [&](StretchChannel& c, uint32_t ch) {
    const uint32_t capacity = c.build(frames, rate, scale, outputLevel, grainTime, hopTime);
    if (ch == 0) outputCapacity = capacity;
    return capacity;
  });
  return channels[0].allocated && channels[1].allocated;
}

bool StretchEffect::growOutput(uint32_t outputFrames) {
  return growBuffers({kOutL, kOutR}, outputFrames);
}

bool StretchEffect::reserveOutput(uint32_t frames) {
  if (mode == 0) return growOutput(channels[0].blockOutputFrames(frames));
  // The first piece runs at the ratio in force, later ones at the pending.
  StretchParams p = channels[0].active;
  const uint32_t most = forEachPiece(frames, [&](uint32_t, uint32_t n, uint32_t) {
    const double m = std::ceil(static_cast<double>(n) * alignedRatio(p));
    p = channels[0].pending;
    return truncToUint32(m);
  });
  return growOutput(most);
}

uint32_t StretchEffect::getDstSize(uint32_t size) {
  takeChanges();
  if (mode == 0) return channels[0].dstSize(size);
  // An aligned block's count is the floor of a running product, which can
  // exceed the truncated product of the block alone by one frame.
  return truncToUint32(
      std::ceil(static_cast<double>(size) * alignedRatio(channels[0].pending)));
}

bool StretchEffect::setMode(uint32_t newMode) {
  if (newMode > 1) return false;
  if (newMode == mode) return true;
  if (newMode == 1) {
    if (!aligned.prepare(inChannels, static_cast<float>(outRate), alignedTimes)) return false;
  } else {
    uint32_t unused = 0;
    if (!buildChannels(capacityFrames(), outRate, unused)) return false;
  }
  mode = newMode;
  outFrames = getDstSize(capacityFrames());
  return growOutput(outFrames);
}

bool StretchEffect::setAlignedTimes(const AlignedGrainTimes& times) {
  const AlignedGrainTimes old = alignedTimes;
  alignedTimes = times;
  if (mode == 0 || aligned.prepare(inChannels, static_cast<float>(outRate), alignedTimes)) {
    return true;
  }
  // Refused: the old lengths stay, on an engine started afresh.
  alignedTimes = old;
  aligned.prepare(inChannels, static_cast<float>(outRate), alignedTimes);
  return false;
}

uint32_t StretchEffect::processAligned(const float* inLeft, const float* inRight,
                                       float* outLeft, float* outRight, uint32_t frames) {
  const bool two = stereo();
  return forEachPiece(frames, [&](uint32_t offset, uint32_t n, uint32_t produced) {
    const StretchParams p = channels[0].active;
    float* left = outLeft + produced;
    float* right = two ? outRight + produced : nullptr;
    const uint32_t m = aligned.process(inLeft + offset, two ? inRight + offset : nullptr, left,
                                       right, n, alignedRatio(p));
    // A scale of 0 passes the signal at its own level, as the grains do.
    if (!p.bypass) {
      const float gain = channels[0].outputGain;
      for (uint32_t i = 0; i < m; ++i) left[i] *= gain;
      if (right) {
        for (uint32_t i = 0; i < m; ++i) right[i] *= gain;
      }
    }
    // The pending/active rule of the grains holds here too.
    channels[0].active = channels[0].pending;
    channels[1].active = channels[1].pending;
    return m;
  });
}

bool StretchEffect::init(uint32_t capacityFrames, uint32_t channelCount, uint32_t sampleRate,
                         float newScale, float outLevelDb, float grain, float hopSeconds) {
  if (!setupBuffers(capacityFrames, channelCount)) return false;
  inRate = outRate = sampleRate;
  scale = newScale;
  outputLevel = outLevelDb;
  grainTime = grain;
  hopTime = hopSeconds;
  uint32_t outputCapacity = 0;
  if (!buildChannels(capacityFrames, sampleRate, outputCapacity)) return false;
  outFrames = outputCapacity;
  return growOutput(outputCapacity);
}

void StretchEffect::takeChanges() {
  float value = 0.0f;
  if (scaleBox_.take(value)) {
    channels.apply([&](StretchChannel& c) { c.setScale(value); });
    scale = value;
  }
  if (levelBox_.take(value)) {
    channels.apply([&](StretchChannel& c) { c.setOutputLevel(value); });
    outputLevel = value;
  }
}

uint32_t StretchEffect::setup(uint32_t frames, uint32_t channelCount, uint32_t rate) {
  takeChanges();
  const bool wasStereo = stereo();
  if (!setupBuffers(frames, channelCount)) return 0;
  inRate = rate;
  uint32_t outputCapacity = 0;
  if (rate != outRate || !channels[0].allocated || !channels[1].allocated) {
    if (!buildChannels(frames, rate, outputCapacity)) {
      releaseBuffers();
      return 0;
    }
  } else {
    // While mono, only the first stretcher ran; the second may still hold
    // an older ratio and would produce a different count into buffers sized
    // for the first. It takes over the first's state (and so its history,
    // the one stream there was).
    if (stereo() && !wasStereo) channels[1].followState(channels[0]);
    outputCapacity = channels[0].dstSize(frames);
  }
  if (mode == 1) {
    if ((rate != outRate || stereo() != wasStereo || !aligned.ready()) &&
        !aligned.prepare(channelCount, static_cast<float>(rate), alignedTimes)) {
      releaseBuffers();
      return 0;
    }
    outputCapacity = truncToUint32(
        std::ceil(static_cast<double>(frames) * alignedRatio(channels[0].pending)));
  }
  outRate = rate;
  outFrames = outputCapacity;
  if (!growOutput(outputCapacity)) {
    releaseBuffers();
    return 0;
  }
  return rate;
}

uint32_t StretchEffect::processChannel(uint32_t channel, const float* in, float* out,
                                       uint32_t frames) {
  if (channel > 1) return 0;
  // The right channel runs the block the left one ran, under its changes.
  if (channel == 0) takeChanges();
  if (mode == 1) {
    // Aligned grains splice both channels at one point, so a stereo stream
    // only runs through process.
    if (channel != 0 || stereo()) return 0;
    return processAligned(in, nullptr, out, nullptr, frames);
  }
  return channels[channel].process(in, out, frames);
}

uint32_t StretchEffect::process(const float* inLeft, const float* inRight, float* outLeft,
                                float* outRight, uint32_t frames) {
  // Blocks above the capacity are refused here as by the export, so a chain
  // whose earlier stretcher was sped up stops instead of passing ever
  // larger blocks on to effects set up for less.
  if (frames > capacityFrames()) return 0;
  takeChanges();
  // A chain hands this effect its own outputs; they may have to grow first,
  // and then the caller's pointers must follow them.
  const float* oldL = outL();
  const float* oldR = outR();
  if (!reserveOutput(frames)) return 0;
  if (outLeft == oldL) outLeft = outL();
  if (outRight == oldR) outRight = outR();
  if (mode == 1) return processAligned(inLeft, inRight, outLeft, outRight, frames);
  return channels.run(stereo(), [&](StretchChannel& c, uint32_t ch) {
    return ch == 0 ? c.process(inLeft, outLeft, frames) : c.process(inRight, outRight, frames);
  });
}

uint32_t StretchEffect::processInterleaved(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
  const uint32_t frames = framesIn(bytes);
  if (frames == 0) return 0;
  takeChanges();
  if (!reserveOutput(frames)) return 0;
  pcm16ToFloat(pcmIn, bytes, inL(), stereo() ? inR() : nullptr, inChannels);
  uint32_t produced = 0;
  if (mode == 1) {
    produced = processAligned(inL(), inR(), outL(), outR(), frames);
  } else {
    produced = channels.run(stereo(), [&](StretchChannel& c, uint32_t ch) {
      return ch == 0 ? c.process(inL(), outL(), frames) : c.process(inR(), outR(), frames);
    });
  }
  floatToPcm16(outL(), stereo() ? outR() : nullptr, produced, pcmOut, inChannels);
  return produced * (stereo() ? 4u : 2u);
}

}  // namespace dspfx
