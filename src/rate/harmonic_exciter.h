#pragma once
#include <cstdint>

#include "dsp/fft_frame.h"
#include "core/dsp_object.h"
#include "rate/allpass_delay.h"
#include "dsp/kaiser_fir.h"
#include "rate/wave_shaper.h"

namespace dspfx {

// Adds synthetic odd harmonics to one channel: a high band is split off,
// bent through the transfer curve, and what the bending added (shaped minus
// unshaped) is mixed onto a copy of the input delayed by the split filter's
// latency. In the adaptive mode the added signal is high-passed again at the
// edge where the input's spectrum ends, so only the empty top band is filled.
class HarmonicExciter : public DspObject {
 public:
  static constexpr uint32_t kFftSize = 256;
  static constexpr uint32_t kEdgeOrder = 32;
  static constexpr float kAttenuationDb = 100.0f;
  static constexpr float kFloorDb = 120.0f;
  static constexpr float kRiseDb = 25.0f;

  HarmonicExciter() = default;
  ~HarmonicExciter() override;

  // Clears the filter histories and the delay line; keeps the analyser's
  // history when it is large enough and the curve when harmonics is
  // unchanged. activeMode 1 is adaptive, anything else the fixed band. False
  // when memory cannot be had or splitOrder is not a power of two (2..1024).
  bool configure(uint32_t capacity, uint32_t sampleRate, float harmonics, float mix,
                 uint32_t highpassHz, int32_t activeMode, uint32_t splitOrder);

  // One block of n <= capacity frames; in and out may be the same buffer.
  // The edge is the caller's (used in the adaptive mode only).
  void processWithEdge(const float* in, float* out, uint32_t n, float edgeHz);
  // As processWithEdge, with the edge measured on in itself. in must hold
  // capacity samples (the analyser always takes a whole hop).
  void processDetect(const float* in, float* out, uint32_t n);
  // Appends capacity samples of x to the analyser and returns the band edge
  // in Hz, between 0.666 and 1 times half the sample rate.
  float detectBandEdge(const float* x);
  // The bin where the level, scanned downwards, has climbed kRiseDb above
  // the floor of the falling stretch above it; bins - 1 when there is none.
  static uint32_t bandEdgeBin(const float* levelsDb, uint32_t bins);

  void setHarmonics(float value);
  void setMix(float value);
  // Takes effect at once; the delay length stays as configured.
  void setActiveMode(int32_t mode);

  uint32_t capacity = 0;
  uint32_t sampleRate = 0;
  float* band = nullptr;
  float* shaped = nullptr;
  float* spectrumDb = nullptr;
  float highpassHz = 0.0f;
  float harmonics = 0.0f;
  float mixGain = 0.0f;
  int32_t activeMode = 0;
  WaveShaper shaper;
  KaiserFir splitFir;
  KaiserFir edgeFir;
  AllpassDelay delay;
  SpectrumFrame analyser;
  float detectedHz = 0.0f;

 private:
  void harmonicsInto(const float* in, uint32_t n);
  void finish(const float* in, float* out, uint32_t n);
  void releaseBuffers();
};

}  // namespace dspfx
