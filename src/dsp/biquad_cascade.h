#pragma once
#include <cstdint>
#include <memory>

#include "core/dsp_object.h"

namespace dspfx {

// Response selected by setOrder: kHighPass, anything else is a low-pass.
enum FilterKind : int32_t {
  kLowPass = 0,
  kHighPass = 1,
};

// Low- or high-pass IIR filter of any order: second-order sections (plus a
// first-order one for odd orders) from the bilinear transform, run in direct
// form II. Coefficients and state are doubles so high orders and low cutoffs
// stay stable. Call setOrder, then design, then run as often as needed.
class BiquadCascade : public DspObject {
 public:
  BiquadCascade() = default;
  ~BiquadCascade() override;

  // Resets the filter: every section becomes a pass-through with zero state.
  // The arrays are kept when the section count does not grow. Orders below 1
  // give no sections at all (a pass-through).
  virtual void setOrder(int32_t order, int32_t kind);
  // Replaces the coefficients; the state is left running.
  virtual void design(float sampleRate, float cutoff) = 0;
  // in and out may be the same buffer. Both return frames.
  virtual uint32_t run(const float* in, float* out, uint32_t frames);
  // As run, but adds the filtered signal to out.
  virtual uint32_t runAdd(const float* in, float* out, uint32_t frames);
  // Takes over other's design and state, so the two run in step from here.
  // Nothing happens unless both have the same section count.
  void followState(const BiquadCascade& other);

  int32_t order = 0;
  float sampleRate = 0.0f;
  int32_t sections = 0;
  // Low-pass prototype cutoff in Hz, after the high-pass mirror.
  float cutoff = 0.0f;
  float sign = 1.0f;
  // Feedback coefficients are stored negated: they are added in run.
  double* a1 = nullptr;
  double* a2 = nullptr;
  double* b0 = nullptr;
  double* b1 = nullptr;
  double* b2 = nullptr;
  double* w1 = nullptr;
  double* w2 = nullptr;

 protected:
  // Stores the rate and the (mirrored) cutoff the formulas work from.
  void storeDesignFrequencies(float rate, float requestedCutoff);

 private:
  std::unique_ptr<double[]> storage_;
};

// left.run(inL, outL, frames) and right.run(inR, outR, frames), bit for bit,
// computed side by side when the two have the same section count: a stereo
// stream costs little more than one channel. Each output may be its input.
void runCascadePair(BiquadCascade& left, BiquadCascade& right, const float* inL,
                    const float* inR, float* outL, float* outR, uint32_t frames);

// Chebyshev type I: equal ripple in the pass band.
class ChebyshevCascade : public BiquadCascade {
 public:
  // One decibel of ripple.
  void design(float sampleRate, float cutoff) override;
  void designChebyshev(float sampleRate, float cutoff, float rippleDb);

  float rippleDb = 0.0f;
};

// Butterworth: maximally flat, DC gain 1.
class ButterworthCascade : public BiquadCascade {
 public:
  void design(float sampleRate, float cutoff) override;
};

}  // namespace dspfx
