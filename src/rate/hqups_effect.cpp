#include "rate/hqups_effect.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/sample_convert.h"

namespace dspfx {
namespace {

// Keeps every size and trunc(frames * 2.3333) of the analyser history
// inside 32 bits.
constexpr uint32_t kMaxFrames = UINT32_MAX / 8;

double quotient(uint32_t count, uint32_t rateA, uint32_t rateB) {
  return std::trunc((static_cast<double>(count) / rateA) * rateB);
}

}  // namespace

uint32_t HqupsEffect::srcSize(uint32_t frames, uint32_t srcRate, uint32_t dstRate) {
  if (srcRate == 0 || dstRate == 0) return 0;
  const double s = quotient(frames, dstRate, srcRate);
  if (s >= static_cast<double>(UINT32_MAX)) return UINT32_MAX;
  const uint32_t si = static_cast<uint32_t>(s);
  const double b = quotient(si, srcRate, dstRate);
  if (b < frames) return si + 1;
  if (b > frames) return si - 1;
  return si;
}

bool HqupsEffect::store(uint32_t srcRate, const HqupsParams& p) {
  if (srcRate == 0) return false;
  // The band split needs a cut-off strictly inside the 48000 Hz band.
  if (p.highpassHz == 0 || p.highpassHz >= kOutRate / 2) return false;
  harmonics = p.harmonics;
  mix = p.mix;
  highpassHz = p.highpassHz;
  interpolation = p.interpolation;
  stopbandDb = p.stopbandDb;
  slopeDbPerOctave = p.slopeDbPerOctave;
  activeMode = p.activeMode == 1 ? 1 : 0;
  antiAlias = p.antiAlias;
  return true;
}

bool HqupsEffect::fail() {
  releaseBuffers();
  return false;
}

bool HqupsEffect::configureConverters(uint32_t frames, uint32_t rate, uint32_t& maxDst) {
  if (rate == 0 || frames > kMaxFrames || quotient(frames, rate, outRate) > kMaxFrames) return false;
  maxDst = converters.run(true, [&](RateConverter& c, uint32_t) {
    c.quality = quality;
    return c.configure(frames, rate, outRate, interpolation, stopbandDb, slopeDbPerOctave, antiAlias,
                       kRippleDb);
  });
  return converters[0].allocated && converters[1].allocated;
}

bool HqupsEffect::configureExciters(uint32_t frames) {
  return exciters.allOf([&](HarmonicExciter& x) {
    return x.configure(frames, outRate, harmonics, mix, highpassHz, activeMode, kSplitOrder);
  });
}

bool HqupsEffect::setupAllBuffers(uint32_t frames, uint32_t channels) {
  return frames <= kMaxFrames && setupBuffers(frames, channels);
}

bool HqupsEffect::growOutputs(uint32_t frames) {
  if (!growBuffers({kOutL, kOutR, kAuxL, kAuxR}, frames)) return false;
  // The band-edge analyser takes a whole capacity from outL (stereo) or
  // auxL (mono) even when a short block filled only part of it: the rest
  // must be silence or earlier samples, never indeterminate memory.
  std::memset(outL(), 0, size_t{frames} * sizeof(float));
  std::memset(auxL(), 0, size_t{frames} * sizeof(float));
  return true;
}

bool HqupsEffect::initByDst(uint32_t dstFrames, uint32_t channels, uint32_t outChannelCount,
                            uint32_t srcRate, const HqupsParams& p) {
  if (!store(srcRate, p) || dstFrames > kMaxFrames) return false;
  const uint32_t srcFrames = srcSize(dstFrames, srcRate, kOutRate);
  if (!setupAllBuffers(srcFrames, channels)) return false;
  inRate = srcRate;
  outRate = kOutRate;
  outChannels = outChannelCount == 2 ? 2 : 1;
  uint32_t maxDst = 0;
  if (!configureConverters(srcFrames, srcRate, maxDst)) return fail();
  // srcSize can round the input up, so a full block may give one frame more
  // than asked for: everything downstream is sized for the larger count.
  const uint32_t frames = std::max(dstFrames, maxDst);
  if (!configureExciters(frames) || !growOutputs(frames)) return fail();
  outFrames = frames;
  requestedFrames = dstFrames;
  return true;
}

bool HqupsEffect::initBySrc(uint32_t capacity, uint32_t channels, uint32_t outChannelCount,
                            uint32_t srcRate, const HqupsParams& p) {
  if (!store(srcRate, p) || !setupAllBuffers(capacity, channels)) return false;
  inRate = srcRate;
  outRate = kOutRate;
  outChannels = outChannelCount == 2 ? 2 : 1;
  uint32_t maxDst = 0;
  if (!configureConverters(capacity, srcRate, maxDst)) return fail();
  if (!configureExciters(maxDst) || !growOutputs(maxDst)) return fail();
  outFrames = maxDst;
  return true;
}

uint32_t HqupsEffect::setup(uint32_t frames, uint32_t channels, uint32_t rate) {
  requestedFrames = 0;
  if (rate == 0 || !setupAllBuffers(frames, channels)) {
    releaseBuffers();
    return 0;
  }
  inRate = rate;
  uint32_t maxDst = 0;
  if (!configureConverters(frames, rate, maxDst) || !configureExciters(maxDst) || !growOutputs(maxDst)) {
    releaseBuffers();
    return 0;
  }
  outFrames = maxDst;
  return rate;
}

uint32_t HqupsEffect::getDstSize(uint32_t size) {
  if (!allocated() || inRate == 0) return 0;
  if (quotient(size, inRate, outRate) >= static_cast<double>(UINT32_MAX)) return UINT32_MAX;
  return converters[0].dstSize(size);
}

uint32_t HqupsEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
  if (channel > 1 || frames > capacityFrames()) return 0;
  const uint32_t n = converters[channel].convert(in, auxL(), frames);
  exciters[channel].processDetect(auxL(), out, n);
  return n;
}

uint32_t HqupsEffect::process(const float* inLeft, const float* inRight, float* outLeft,
                              float* outRight, uint32_t frames) {
  if (frames > capacityFrames()) return 0;
  const uint32_t n =
      stereo() ? converters[0].convertPair(converters[1], inLeft, inRight, auxL(), auxR(), frames)
               : converters[0].convert(inLeft, auxL(), frames);
  if (n == 0) return 0;
  float edgeHz = 0.0f;
  if (stereo()) {
    // outLeft is free until the left exciter writes it: it holds the
    // channel average, so both channels get one edge.
    for (uint32_t i = 0; i < n; ++i) outLeft[i] = (auxR()[i] + auxL()[i]) * 0.5f;
    if (exciters[0].activeMode == 1) edgeHz = exciters[0].detectBandEdge(outLeft);
    exciters[1].processWithEdge(auxR(), outRight, n, edgeHz);
  } else if (exciters[0].activeMode == 1) {
    edgeHz = exciters[0].detectBandEdge(auxL());
  }
  exciters[0].processWithEdge(auxL(), outLeft, n, edgeHz);
  return n;
}

uint32_t HqupsEffect::processInterleaved(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
  const uint32_t frames = framesIn(bytes);
  pcm16ToFloat(pcmIn, bytes, inL(), stereo() ? inR() : nullptr, inChannels);
  const uint32_t n = process(inL(), inR(), outL(), outR(), frames);
  floatToPcm16(outL(), stereo() ? outR() : nullptr, n, pcmOut, outChannels);
  // A chain may hand over any channel count; only 2 writes two channels.
  return (outChannels == 2 ? 4u : 2u) * n;
}

void HqupsEffect::setHarmonics(float value) {
  exciters.apply([&](HarmonicExciter& x) { x.setHarmonics(value); });
  harmonics = value;
}

void HqupsEffect::setMix(float value) {
  exciters.apply([&](HarmonicExciter& x) { x.setMix(value); });
  mix = value;
}

bool HqupsEffect::setQuality(int32_t value) {
  if (value < RateConverter::kQualityDesign || value > RateConverter::kQualityBandLimited) return false;
  quality = value;
  if (!allocated()) return true;
  if (!converters[0].setQuality(value) || !converters[1].setQuality(value)) return fail();
  const uint32_t frames = std::max(requestedFrames, converters[0].maxDst);
  // The exciters and their buffers keep their state unless the count
  // changes: their sizes are part of what they compute.
  if (frames != outFrames) {
    if (!configureExciters(frames) || !growOutputs(frames)) return fail();
    outFrames = frames;
  }
  return true;
}

void HqupsEffect::setActiveMode(int32_t mode) {
  const int32_t m = mode == 1 ? 1 : 0;
  exciters.apply([&](HarmonicExciter& x) { x.setActiveMode(m); });
  activeMode = m;
}

}  // namespace dspfx
