#include "eq/resonator_section.h"

#include <cmath>
#include <complex>
#include <numbers>

#include "eq/linear_gain.h"

namespace dspfx {

void ResonatorSection::init(int32_t rate, const GraphicEqBand& band) {
  sampleRate = rate;
  setGain(band.gainDb);
  w1 = 0.0f;
  w2 = 0.0f;
  design(band.frequency, band.zeroRadius, band.poleRadius);
  allocated = true;
}

void ResonatorSection::setGain(float gainDb) {
  linearGain = linearFromDb(gainDb);
  effectiveGain = static_cast<float>(double{normaliser} * linearGain);
}

void ResonatorSection::design(float frequencyHz, float zeroRadius, float poleRadius) {
  frequency = frequencyHz;
  // A rate of zero has no frequency axis; the band then sits at 0 Hz rather
  // than dividing by zero.
  const double omega =
      sampleRate > 0 ? 2.0 * std::numbers::pi * frequencyHz / static_cast<double>(sampleRate) : 0.0;
  const double c = std::cos(omega);
  a1 = static_cast<float>(2.0 * poleRadius * c);
  a2 = static_cast<float>(-(double{poleRadius} * poleRadius));
  b0 = 1.0f;
  b1 = static_cast<float>(-2.0 * zeroRadius * c);
  b2 = static_cast<float>(double{zeroRadius} * zeroRadius);

  // The response is measured from the stored float coefficients, so the
  // normalisation matches the filter that actually runs.
  const std::complex<double> e(c, -std::sin(omega));
  const std::complex<double> e2 = e * e;
  const std::complex<double> numerator = 1.0 + double{b1} * e + double{b2} * e2;
  const std::complex<double> denominator = 1.0 - double{a1} * e - double{a2} * e2;
  if (denominator == 0.0) {
    // A pole on the unit circle at the band frequency: the response there
    // is unbounded and its reciprocal is zero.
    normaliser = 0.0f;
  } else {
    const double m = std::abs(numerator / denominator);
    // A zero on the unit circle at the band frequency cannot be normalised;
    // such a band is left as designed (a notch scaled by its gain).
    normaliser = m == 0.0 ? 1.0f : static_cast<float>(1.0 / m);
  }
  effectiveGain = static_cast<float>(double{linearGain} * normaliser);
}

namespace {

// Runs G sections side by side over the block. Each section's recursion is
// a chain of dependent operations, so running several independent ones in
// the same pass fills the pipeline (and the vector lanes); the outputs are
// still added to out one section after another, rounding to float after
// each, exactly as section-by-section passes would.
template <int G>
void runGroup(ResonatorSection* s, const float* in, float* out, uint32_t frames, bool accumulate) {
  double a1[G], a2[G], b0[G], b1[G], b2[G], g[G], w1[G], w2[G];
  for (int k = 0; k < G; ++k) {
    a1[k] = s[k].a1;
    a2[k] = s[k].a2;
    b0[k] = s[k].b0;
    b1[k] = s[k].b1;
    b2[k] = s[k].b2;
    g[k] = s[k].effectiveGain;
    w1[k] = s[k].w1;
    w2[k] = s[k].w2;
  }
  for (uint32_t i = 0; i < frames; ++i) {
    const double x = in[i];
    double y[G];
    for (int k = 0; k < G; ++k) {
      // The state is a float between samples, as stored; the current
      // internal value is used at full width before it is stored.
      const double w = x + a1[k] * w1[k] + a2[k] * w2[k];
      y[k] = g[k] * (b0[k] * w + b1[k] * w1[k] + b2[k] * w2[k]);
      w2[k] = w1[k];
      w1[k] = static_cast<float>(w);
    }
    float sum = accumulate ? static_cast<float>(out[i] + y[0]) : static_cast<float>(y[0]);
    for (int k = 1; k < G; ++k) sum = static_cast<float>(sum + y[k]);
    out[i] = sum;
  }
  for (int k = 0; k < G; ++k) {
    s[k].w1 = static_cast<float>(w1[k]);
    s[k].w2 = static_cast<float>(w2[k]);
  }
}

}  // namespace

void ResonatorSection::run(const float* in, float* out, uint32_t frames, bool accumulate) {
  runGroup<1>(this, in, out, frames, accumulate);
}

void ResonatorSection::runSum(ResonatorSection* sections, uint32_t count, const float* in, float* out,
                              uint32_t frames) {
  uint32_t k = 0;
  for (; k + 4 <= count; k += 4) runGroup<4>(sections + k, in, out, frames, k != 0);
  if (k + 2 <= count) {
    runGroup<2>(sections + k, in, out, frames, k != 0);
    k += 2;
  }
  if (k < count) runGroup<1>(sections + k, in, out, frames, k != 0);
}

}  // namespace dspfx
