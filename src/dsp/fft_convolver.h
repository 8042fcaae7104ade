#pragma once
#include <cstdint>
#include <memory>

#include "core/dsp_object.h"
#include "dsp/real_fft.h"

namespace dspfx {

// A long FIR run by fast convolution with no delay of its own: output n is
// sum h[k] x[n - k] as soon as input n has arrived, whatever the block sizes.
//
// The taps are cut into K partitions of P. Input is taken in blocks of P;
// each completed block is transformed once (2P points, with the block
// before it) and kept, so the part of the output that partitions 1 ... K-1
// contribute to a block depends only on blocks that are already complete.
// A block that arrives whole within one call is filtered entirely in the
// frequency domain. A block that arrives in pieces gets that part from one
// inverse transform at its start and adds partition 0 directly, sample by
// sample, so a block of one frame costs P multiplies, not the whole filter.
//
// Because the kept spectra are those of the input alone, new taps apply
// from the next sample on, with the past inputs kept.
class FftConvolver : public DspObject {
 public:
  FftConvolver() = default;
  ~FftConvolver() override = default;

  // Sizes everything for filters of up to maxTaps taps (1 ... 32767) and
  // clears the past inputs; all taps are zero afterwards. False, with the
  // convolver unallocated, for a count out of range or when memory is short.
  bool prepare(uint32_t maxTaps);
  // h[0 ... count - 1], count <= the prepared maximum (missing taps are zero).
  // The past inputs are kept. No allocation.
  void setTaps(const float* h, uint32_t count);
  // Replaces the past inputs by past[0 ... count - 1], oldest first, count at
  // most historyLength(); anything older is silence. No allocation.
  void setHistory(const float* past, uint32_t count);
  // Filters frames samples and scales them by gain; in and out may be the
  // same buffer. No allocation.
  void process(const float* in, float* out, uint32_t frames, float gain);

  // The input k + 1 samples before the next one (k = 0: the latest).
  float pastInput(uint32_t k) const { return ring[(position - 1u - k) & ringMask]; }
  // How many past inputs pastInput can give: the prepared tap count less one.
  uint32_t historyLength() const { return maxTaps - 1u; }
  uint32_t partitionSize() const { return P; }
  uint32_t partitionCount() const { return K; }

 private:
  void release();
  // Transforms frame (the last two blocks) into the spectrum slot of the
  // block just completed, then moves the frame on by one block.
  void pushBlock();
  // acc = sum of partitions first ... K-1 times the spectra of the blocks
  // 0 ... K-1-first before the newest kept one.
  void accumulate(uint32_t first);
  // The last P samples of the inverse transform of acc into dst, times gain.
  void inverse(float* dst, float gain);
  void takeInput(const float* in, uint32_t count);

  uint32_t maxTaps = 0;
  uint32_t P = 0;       // partition and block length
  uint32_t K = 0;       // partitions
  uint32_t stride = 0;  // floats per stored half-spectrum (P + 1 bins, padded)
  uint32_t fill = 0;    // inputs of the current block taken so far
  bool tailReady = false;
  uint32_t newest = 0;  // spectrum slot of the last completed block
  uint32_t position = 0;
  uint32_t ringMask = 0;

  std::unique_ptr<float[]> pool;
  float* table = nullptr;
  float* tapRe = nullptr;  // K partitions' spectra, scaled for the inverse
  float* tapIm = nullptr;
  float* inRe = nullptr;  // K blocks' spectra, a ring of slots
  float* inIm = nullptr;
  float* accRe = nullptr;
  float* accIm = nullptr;
  float* head = nullptr;   // partition 0 as taps
  float* frame = nullptr;  // the previous block, then the current one
  float* work = nullptr;
  float* tail = nullptr;  // partitions 1 ... K-1 for the current block
  float* headSum = nullptr;
  float* ring = nullptr;  // exact past inputs
  int32_t fftWork[kFftWorkInts] = {};
};

}  // namespace dspfx
