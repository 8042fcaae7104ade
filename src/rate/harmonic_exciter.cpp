#include "rate/harmonic_exciter.h"

#include <algorithm>
#include <cmath>

#include "core/fastmem_heap.h"
#include "core/sample_convert.h"

namespace dspfx {
namespace {

constexpr uint32_t kMaxCapacity = UINT32_MAX / 8;
// Below 110 frames trunc(capacity * 2.3333) is shorter than one transform;
// the history never gets shorter than the frame it feeds.
constexpr uint32_t kMinHistory = HarmonicExciter::kFftSize;

int32_t normalisedMode(int32_t mode) { return mode == 1 ? 1 : 0; }

bool growFloats(float*& p, uint32_t count) {
  void* grown = p ? fastmemHeap().reallocate(p, count * 4u) : fastmemHeap().allocate(count * 4u);
  if (!grown) return false;
  p = static_cast<float*>(grown);
  return true;
}

}  // namespace

HarmonicExciter::~HarmonicExciter() { releaseBuffers(); }

void HarmonicExciter::releaseBuffers() {
  freeFloats(band);
  freeFloats(shaped);
  freeFloats(spectrumDb);
  allocated = false;
}

bool HarmonicExciter::configure(uint32_t newCapacity, uint32_t rate, float newHarmonics, float mix,
                                uint32_t highpass, int32_t mode, uint32_t splitOrder) {
  if (newCapacity > kMaxCapacity) return false;
  if (!allocated || !band || newCapacity > capacity) {
    // Zero frames still get a block so that a configured exciter always
    // owns its buffers.
    const uint32_t n = std::max(newCapacity, 1u);
    if (!growFloats(band, n) || !growFloats(shaped, n)) {
      releaseBuffers();
      return false;
    }
  }
  mixGain = static_cast<float>(0.01 * mix);
  activeMode = normalisedMode(mode);
  sampleRate = rate;
  capacity = newCapacity;
  highpassHz = static_cast<float>(highpass);

  const float fs = static_cast<float>(rate);
  if (!splitFir.prepare(kAttenuationDb, splitOrder, KaiserFir::kHighpass) ||
      !edgeFir.prepare(kAttenuationDb, kEdgeOrder, KaiserFir::kHighpass)) {
    releaseBuffers();
    return false;
  }
  splitFir.design(fs, highpassHz, 0.0f);
  edgeFir.design(fs, highpassHz, 0.0f);
  // Fixed band: the dry path lines up with the split filter's centre tap.
  // Adaptive: a line of splitOrder samples; the edge filter's own latency
  // (kEdgeOrder / 2) is not compensated.
  const int32_t length = activeMode == 1 ? static_cast<int32_t>(splitOrder)
                                         : static_cast<int32_t>(splitOrder / 2);
  if (!delay.configure(length, 0.0f)) {
    releaseBuffers();
    return false;
  }
  if (!allocated || newHarmonics != harmonics) {
    harmonics = newHarmonics;
    shaper.build(harmonics);
  }

  const double longHistory = std::trunc(newCapacity * 2.3333);
  const uint32_t history = std::max(kMinHistory, static_cast<uint32_t>(longHistory));
  if (!analyser.setup(newCapacity, history, kFftSize, kFloorDb)) {
    releaseBuffers();
    return false;
  }
  if (!spectrumDb && !growFloats(spectrumDb, kFftSize)) {
    releaseBuffers();
    return false;
  }
  allocated = true;
  return true;
}

void HarmonicExciter::setHarmonics(float value) {
  harmonics = value;
  shaper.build(value);
}

void HarmonicExciter::setMix(float value) { mixGain = static_cast<float>(0.01 * value); }

void HarmonicExciter::setActiveMode(int32_t mode) { activeMode = normalisedMode(mode); }

uint32_t HarmonicExciter::bandEdgeBin(const float* levelsDb, uint32_t bins) {
  if (bins == 0) return 0;
  const uint32_t lowest = static_cast<uint32_t>(0.666 * bins);
  uint32_t edge = bins - 1;
  bool rising = false;
  float low = 65535.0f;
  float high = 0.0f;
  for (uint32_t k = bins; k-- > lowest;) {
    const float v = levelsDb[k];
    if (rising && std::fabs(v - low) >= kRiseDb) {
      edge = k;
      break;
    }
    if (!rising) {
      if (v > low) {
        rising = true;
        high = v;
      } else {
        low = v;
      }
    }
    if (rising) {
      if (v >= high) {
        high = v;
      } else {
        rising = false;
        low = v;
      }
    }
  }
  return edge;
}

float HarmonicExciter::detectBandEdge(const float* x) {
  analyser.analyse(x);
  const uint32_t bins = analyser.magnitudesDb(spectrumDb);
  const uint32_t edge = bandEdgeBin(spectrumDb, bins);
  return static_cast<float>(edge * static_cast<double>(sampleRate) * (0.5 / bins));
}

void HarmonicExciter::harmonicsInto(const float* in, uint32_t n) {
  splitFir.run(in, band, n);
  shaper.apply(band, shaped, n);
  subtractFrom(shaped, band, n);
}

void HarmonicExciter::finish(const float* in, float* out, uint32_t n) {
  delay.run(in, out, n);
  mixScaled(out, band, mixGain, n);
}

void HarmonicExciter::processDetect(const float* in, float* out, uint32_t n) {
  if (!allocated || n == 0 || n > capacity) return;
  harmonicsInto(in, n);
  if (activeMode == 1) {
    detectedHz = detectBandEdge(in);
    edgeFir.design(static_cast<float>(sampleRate), detectedHz, 0.0f);
    edgeFir.run(band, band, n);
  }
  finish(in, out, n);
}

void HarmonicExciter::processWithEdge(const float* in, float* out, uint32_t n, float edgeHz) {
  if (!allocated || n == 0 || n > capacity) return;
  detectedHz = edgeHz;
  harmonicsInto(in, n);
  if (activeMode == 1) {
    edgeFir.design(static_cast<float>(sampleRate), detectedHz, 0.0f);
    edgeFir.run(band, band, n);
  }
  finish(in, out, n);
}

}  // namespace dspfx
