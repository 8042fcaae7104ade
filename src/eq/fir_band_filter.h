#pragma once
#include <cstdint>
#include <memory>

#include "core/dsp_object.h"

namespace dspfx {

// One channel of the N-band shelving equaliser: a linear-phase FIR of 4N-1
// taps centred on tap 2N-1, designed by frequency sampling. Band i covers
// about i/(2N) ... (i+1)/(2N) of the sample rate whatever that rate is.
// N must make 2N a power of two.
class FirBandFilter : public DspObject {
 public:
  FirBandFilter() = default;
  ~FirBandFilter() override;

  // Makes the arrays for n bands (kept when they are already large enough)
  // and the window. Only a growth clears the past inputs. False when n is
  // not a power of two, is out of range or memory cannot be had; the filter
  // is then unallocated.
  bool allocate(int32_t n);
  // gainsDb holds N band gains in dB.
  void designAll(const float* gainsDb, float outputLevelDb);
  // False (nothing changed) for a band outside 0 ... N-1.
  bool setBandGain(int32_t band, float gainDb);
  // Scales the output only; the taps stay.
  void setOutputLevel(float outputLevelDb);
  // in and out may be the same buffer.
  uint32_t process(const float* in, float* out, uint32_t frames);

  int32_t bandCount() const { return N; }
  uint32_t tapCount() const { return 4u * static_cast<uint32_t>(N) - 1u; }
  const float* taps() const { return coefficients.get(); }
  float windowAt(uint32_t m) const { return window[m]; }
  float level() const { return outputLevel; }
  // The input k + 1 samples before the next one (k = 0: the latest).
  float pastInput(uint32_t k) const { return static_cast<float>(delayLine[tapCount() - 2u - k]); }
  void setPastInput(uint32_t k, float x) { delayLine[tapCount() - 2u - k] = x; }

  // Inputs taken into the delay line per pass over the taps.
  static constexpr uint32_t kChunk = 256;

 private:
  void design();
  void runChunk(float* out, uint32_t count) const;

  int32_t N = 0;
  // Oldest first: the 4N-2 past inputs, then room for one chunk of new ones,
  // so every output's dot product walks contiguous memory and nothing moves
  // per sample. Held widened (exactly) to double, which the sum needs anyway,
  // so the inner loop converts nothing.
  std::unique_ptr<double[]> delayLine;
  std::unique_ptr<float[]> coefficients;
  std::unique_ptr<float[]> binGains;
  std::unique_ptr<float[]> window;
  float outputLevel = 1.0f;
  std::unique_ptr<float[]> fftRe;
  std::unique_ptr<float[]> fftIm;
};

}  // namespace dspfx
