#include "analysis/analyser_effect.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/sample_convert.h"

namespace dspfx {
namespace {

bool validFftSize(uint32_t size) {
  return size >= 4 && size <= static_cast<uint32_t>(kFftMaxSize) && (size & (size - 1)) == 0;
}

void zeroTail(float* buffer, uint32_t from, uint32_t to) {
  if (from < to) std::memset(buffer + from, 0, size_t{to - from} * sizeof(float));
}

// Envelope values as the integers 0 ... 32767 they stand for, truncated;
// the product of a float and 32767 is exact in double.
void toPcmScale(const float* envelope, float* out, uint32_t frames) {
  for (uint32_t j = 0; j < frames; ++j) out[j] = static_cast<float>(std::trunc(32767.0 * envelope[j]));
}

}  // namespace

uint32_t AnalyserEffect::framesNeeded() const {
  switch (family) {
    case Family::kFft:
      return fftSize;
    case Family::kFftAnalyze:
      return hop;
    case Family::kEnvAnalyze:
      return envelopes[0].capacityFrames;
    case Family::kNone:
      break;
  }
  return 0;
}

uint32_t AnalyserEffect::setup(uint32_t frames, uint32_t channels, uint32_t rate) {
  const uint32_t spectra = outChannels;
  if (!setupBuffers(std::max(frames, framesNeeded()), channels)) return 0;
  if (family == Family::kFft) outChannels = spectra;
  inRate = rate;
  return rate;
}

bool AnalyserEffect::initFft(uint32_t frames, uint32_t channels, uint32_t spectrumChannels, uint32_t floorDb) {
  if (!validFftSize(frames) || !setupBuffers(frames, channels)) return false;
  outChannels = spectrumChannels;
  fftSize = frames;
  const float floor = static_cast<float>(floorDb);
  if (!blockFrames.allOf([&](BlockSpectrumFrame& f) { return f.setup(576, 1344, frames, floor); })) return false;
  family = Family::kFft;
  return true;
}

bool AnalyserEffect::initFftAnalyze(uint32_t frames, uint32_t channels, uint32_t size, uint32_t historyLength) {
  if (frames == 0 || !validFftSize(size) || historyLength < size || historyLength < frames) return false;
  if (!setupBuffers(frames, channels)) return false;
  hop = frames;
  fftSize = size;
  if (!analysisFrames.allOf([&](SpectrumFrame& f) { return f.setup(hop, historyLength, size, 120.0f); })) return false;
  family = Family::kFftAnalyze;
  return true;
}

bool AnalyserEffect::initEnvAnalyze(uint32_t frames, uint32_t channels, uint32_t sampleRate) {
  if (frames == 0 || !setupBuffers(frames, channels)) return false;
  const float rate = static_cast<float>(sampleRate);
  if (!envelopes.allOf([&](EnvelopeFollower& f) { return f.setup(frames, rate, 2, 33.0f, 1.0f, false, 1.0f); })) {
    return false;
  }
  family = Family::kEnvAnalyze;
  return true;
}

uint32_t AnalyserEffect::doFft(const int16_t* in, float* out, uint32_t bytes) {
  if (family != Family::kFft || !out) return 0;
  const uint32_t frames = framesIn(bytes);
  // One spectrum analyses the downmix of a stereo block.
  pcm16ToFloat(in, bytes, inL(), outChannels == 1 ? nullptr : inR(), inChannels);
  zeroTail(inL(), frames, fftSize);
  blockFrames[0].analyse(inL());
  const uint32_t bins = blockFrames[0].magnitudesDb(out);
  if (outChannels == 2) {
    if (stereo()) {
      zeroTail(inR(), frames, fftSize);
      blockFrames[1].analyse(inR());
      blockFrames[1].magnitudesDb(out + bins);
    } else {
      std::memcpy(out + bins, out, size_t{bins} * sizeof(float));
    }
  }
  return bins;
}

int32_t AnalyserEffect::doFftAnalyze(const int16_t* in, float* out, uint32_t bytes) {
  if (family != Family::kFftAnalyze || !out) return 0;
  const uint32_t frames = framesIn(bytes);
  pcm16ToFloat(in, bytes, inL(), inR(), inChannels);
  // The history advances by a whole block whatever arrived: a short block
  // is followed by silence.
  zeroTail(inL(), frames, hop);
  analysisFrames[0].analyse(inL());
  analysisFrames[0].magnitudesDb(out);
  if (stereo()) {
    zeroTail(inR(), frames, hop);
    analysisFrames[1].analyse(inR());
    analysisFrames[1].magnitudesDb(out + fftSize / 2);
  }
  return 1;
}

int32_t AnalyserEffect::doEnvAnalyze(const int16_t* in, float* out, uint32_t bytes) {
  if (family != Family::kEnvAnalyze) return 0;
  const uint32_t frames = framesIn(bytes);
  if (frames > envelopes[0].capacityFrames) return 0;
  pcm16ToFloat(in, bytes, inL(), inR(), inChannels);
  envelopes[0].process(inL(), outL(), frames);
  if (out) toPcmScale(outL(), out, frames);
  if (stereo()) {
    envelopes[1].process(inR(), outR(), frames);
    if (out) toPcmScale(outR(), out + frames, frames);
  }
  return 1;
}

}  // namespace dspfx
