#pragma once
#include <cstdint>

#include "dsp/real_fft.h"
#include "core/dsp_object.h"

namespace dspfx {

// One analysis frame: a sliding history of input samples, a raised-cosine
// window and the transform's work area and tables. analyse() windows the
// newest fftSize samples and transforms them; magnitudesDb() reads the bins.
class SpectrumFrame : public DspObject {
 public:
  SpectrumFrame() = default;
  ~SpectrumFrame() override;

  // Fills work from the input: appends hop samples to the history and
  // windows its newest fftSize samples.
  virtual void loadFrame(const float* input);

  // floorDb is the (positive) depth of the floor: 120 reports nothing below
  // -120 dB. Grows the arrays when needed (zeroing a new history) and keeps
  // them, their content (a shorter history its newest samples) and the
  // built tables otherwise. False, with the
  // frame left as it was, when fftSize is not a power of two in 2..32768,
  // hop exceeds historyLength, floorDb is not finite or memory is short.
  bool setup(uint32_t hop, uint32_t historyLength, uint32_t fftSize, float floorDb);

  // loadFrame(input), then the transform of work. Nothing before setup.
  void analyse(const float* input);

  // fftSize/2 magnitudes in dB into out, floored; returns their count (0
  // before setup).
  uint32_t magnitudesDb(float* out) const;

  float* history = nullptr;
  float* window = nullptr;
  float* work = nullptr;
  uint32_t fftSize = 0;
  uint32_t keep = 0;
  uint32_t hop = 0;
  uint32_t historyLength = 0;
  float floorDb = 0.0f;
  float fftTable[kFftTableFloats] = {};
  int32_t bitReverseWork[kFftWorkInts] = {};

 private:
  void releaseArrays();
};

// A frame that windows the block it is handed instead of a history.
class BlockSpectrumFrame : public SpectrumFrame {
 public:
  void loadFrame(const float* input) override;
};

}  // namespace dspfx
