#pragma once
#include <cstdint>
#include <memory>
#include <new>

#include "core/dsp_object.h"

namespace dspfx {

// Linear-phase FIR of order N (N + 1 taps, N a power of two) with a Kaiser
// window. The coefficient vector is stored once per history position,
// rotated, so that filtering a sample is one straight dot product over the
// circular history with no index wrapping.
//
// Long blocks are filtered four or more outputs at a time: outputs N samples
// apart see the history at the same position, so they take their products
// in the same rotated order and can share one vector lane each. Every output
// is still summed exactly as its form sums it alone.
class KaiserFir : public DspObject {
 public:
  enum Kind : int32_t { kLowpass = 0, kHighpass = 1 };
  static constexpr uint32_t kMaxOrder = 1024;

  KaiserFir() = default;
  ~KaiserFir() override;

  // Sizes the filter and computes its window; clears the history. False for
  // an order that is not a power of two in 2..kMaxOrder or when memory
  // cannot be had (the filter is then unusable).
  bool prepare(float attenuationDb, uint32_t order, int32_t kind);
  // Computes the coefficients for a cutoff f1 at sampleRate fs (f2 is not
  // used by low- and high-pass). Keeps the history, so a redesign between
  // blocks does not interrupt the signal.
  void design(float fs, float f1, float f2);
  // in and out may be the same buffer.
  void run(const float* in, float* out, uint32_t n);

  // The three summation orders; run picks one from the processor flags.
  void runScalar(const float* in, float* out, uint32_t n);
  void runSse(const float* in, float* out, uint32_t n);
  void run3dnow(const float* in, float* out, uint32_t n);

  static double kaiserBeta(double attenuationDb);
  static double besselI0(double z);

  struct AlignedFree {
    void operator()(float* p) const { ::operator delete[](p, std::align_val_t{16}); }
  };
  using AlignedFloats = std::unique_ptr<float[], AlignedFree>;

  uint32_t order = 0;
  uint32_t log2Order = 0;
  float sampleRate = 0.0f;
  float cutoff = 0.0f;
  int32_t kind = kHighpass;
  float attenuationDb = 0.0f;
  uint32_t mask = 0;
  uint32_t half = 0;
  AlignedFloats coef;
  AlignedFloats table;
  std::unique_ptr<double[]> proto;
  AlignedFloats history;
  std::unique_ptr<double[]> window;
  uint32_t position = 0;

 private:
  enum class Form { kScalar, kSse, kTwoLane };
  // Lane groups run 4 * kMaxVectors outputs side by side, each vector of
  // four lanes with its own accumulators.
  static constexpr uint32_t kMaxVectors = 4;

  void release();
  // Filters whole groups of 4 * vectors * order outputs and returns how many
  // samples it took; the rest is left to the per-sample loops.
  template <Form F, uint32_t Vectors>
  uint32_t runGroups(const float* in, float* out, uint32_t n);
  template <Form F, uint32_t Vectors>
  void groupRow(uint32_t r, uint32_t k0);
  void stepScalar(const float* in, float* out, uint32_t n);
  void stepSse(const float* in, float* out, uint32_t n);
  void step3dnow(const float* in, float* out, uint32_t n);

  uint32_t capacityOrder = 0;
  // The arguments of the last design since prepare, which a repeated design
  // would only compute again.
  bool designed = false;
  float designedRate = 0.0f;
  float designedEdge = 0.0f;
  // Group scratch: the group's input and the order samples before it,
  // transposed so that one row holds the sample every lane needs at the same
  // step (2N rows); the outputs in the same layout (N rows); and every
  // coefficient repeated over four lanes.
  AlignedFloats lanesIn;
  AlignedFloats lanesOut;
  AlignedFloats coefQuads;
};

}  // namespace dspfx
