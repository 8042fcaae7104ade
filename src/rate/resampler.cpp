#include "rate/resampler.h"

#include <algorithm>

#include "core/sample_convert.h"

namespace dspfx {

bool Resampler::init(uint32_t capacityFrames, uint32_t channels, uint32_t outChannelCount,
                     uint32_t srcRate, uint32_t dstRate, int32_t interpolationMode, float stopband,
                     float slope, bool filterOn) {
  // Without these the order estimate of the anti-alias filter means nothing.
  if (srcRate == 0 || dstRate == 0 || !(slope > 0.0f) || !(stopband > kRippleDb)) return false;
  if (!setupBuffers(capacityFrames, channels)) return false;
  outChannels = outChannelCount;
  inRate = srcRate;
  outRate = dstRate;
  interpolation = interpolationMode;
  stopbandDb = stopband;
  slopeDbPerOctave = slope;
  antiAlias = filterOn;
  if (!configureConverters()) return false;
  // At unequal rates no block gives more than maxDst frames, so the outputs
  // shrink to that; equal rates copy every input frame, one more than the
  // size rule can announce.
  if (inRate != outRate && !shrinkBuffers({kOutL, kOutR}, outFrames)) {
    releaseBuffers();
    return false;
  }
  return true;
}

bool Resampler::setQuality(int32_t value) {
  if (value < RateConverter::kQualityDesign || value > RateConverter::kQualityBandLimited) return false;
  quality = value;
  if (!allocated()) return true;
  return configureConverters();
}

bool Resampler::configureConverters() {
  // Both converters are configured alike; the left one's size rule stands for both.
  const uint32_t maxDst = converters.run(true, [&](RateConverter& c, uint32_t) {
    c.quality = quality;
    return c.configure(capacityFrames(), inRate, outRate, interpolation, stopbandDb, slopeDbPerOctave,
                       antiAlias, kRippleDb);
  });
  // The equal-rate copy writes every input frame although the size rule can
  // announce one less, so there the outputs never hold fewer than
  // capacityFrames; otherwise no block gives more than maxDst.
  const uint32_t need = inRate == outRate ? std::max(maxDst, capacityFrames()) : maxDst;
  const bool ok = converters[0].allocated && converters[1].allocated && growBuffers({kOutL, kOutR}, need);
  if (!ok) {
    releaseBuffers();
    return false;
  }
  outFrames = maxDst;
  return true;
}

uint32_t Resampler::setup(uint32_t frames, uint32_t channels, uint32_t rate) {
  if (!setupBuffers(frames, channels)) return 0;
  inRate = rate;
  if (!configureConverters()) return 0;
  return rate;
}

uint32_t Resampler::processChannel(uint32_t channel, const float* in, float* out,
                                   uint32_t frames) {
  return converters[channel != 0 ? 1 : 0].convert(in, out, frames);
}

uint32_t Resampler::process(const float* inLeft, const float* inRight, float* outLeft,
                            float* outRight, uint32_t frames) {
  if (stereo()) {
    return converters[0].convertPair(converters[1], inLeft, inRight, outLeft, outRight, frames);
  }
  return converters[0].convert(inLeft, outLeft, frames);
}

uint32_t Resampler::processInterleaved(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
  const uint32_t frames = framesIn(bytes);
  pcm16ToFloat(pcmIn, bytes, inL(), stereo() ? inR() : nullptr, inChannels);
  const uint32_t n = process(inL(), inR(), outL(), outR(), frames);
  // A mono input has no right buffer: a stereo output repeats the left one.
  return floatToPcm16(outL(), stereo() ? outR() : nullptr, n, pcmOut, outChannels);
}

}  // namespace dspfx
