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

template <bool kAccumulate>
void runSection(ResonatorSection& s, const float* in, float* out, uint32_t frames) {
  const double a1 = s.a1, a2 = s.a2, b0 = s.b0, b1 = s.b1, b2 = s.b2, g = s.effectiveGain;
  double w1 = s.w1, w2 = s.w2;
  // The state is a float between samples, as stored; the current internal
  // value is used at full width before it is stored.
  for (uint32_t i = 0; i < frames; ++i) {
    const double w = in[i] + a1 * w1 + a2 * w2;
    const double y = g * (b0 * w + b1 * w1 + b2 * w2);
    out[i] = kAccumulate ? static_cast<float>(out[i] + y) : static_cast<float>(y);
    w2 = w1;
    w1 = static_cast<float>(w);
  }
  s.w1 = static_cast<float>(w1);
  s.w2 = static_cast<float>(w2);
}

}  // namespace

void ResonatorSection::run(const float* in, float* out, uint32_t frames, bool accumulate) {
  if (accumulate) {
    runSection<true>(*this, in, out, frames);
  } else {
    runSection<false>(*this, in, out, frames);
  }
}

}  // namespace dspfx
