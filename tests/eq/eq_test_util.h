#pragma once
// Closed-form responses and sine measurements shared by the equaliser suites.
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "common/test_support.h"
#include "eq/resonator_section.h"

namespace dspfx::test {

// |sum h[m] e^(-j w m)| in dB at frequency f of rate.
inline double firResponseDb(const float* h, uint32_t taps, double f, double rate) {
  std::complex<double> sum = 0;
  const double w = 2 * kPi * f / rate;
  for (uint32_t m = 0; m < taps; ++m) sum += double{h[m]} * std::polar(1.0, -w * m);
  return 20 * std::log10(std::abs(sum));
}

// Level in dB of the component at f in x[skip ...], by a least-squares fit of
// a sine and a cosine over whole cycles (other components average out).
template <class T>
double toneLevelDb(const T* x, size_t count, double f, double rate, size_t skip, size_t stride = 1,
                   double fullScale = 1.0) {
  const double w = 2 * kPi * f / rate;
  const size_t cycles = static_cast<size_t>((count - skip) * f / rate);
  const size_t n = static_cast<size_t>(cycles * rate / f);
  double c = 0, s = 0;
  for (size_t i = skip; i < skip + n; ++i) {
    c += x[i * stride] * std::cos(w * i);
    s += x[i * stride] * std::sin(w * i);
  }
  return 20 * std::log10(2 * std::hypot(c, s) / n / fullScale);
}

// Magnitude in dB of a section's designed response at f, gain included.
inline double sectionDb(const ResonatorSection& s, double f) {
  const std::complex<double> z = std::polar(1.0, -2 * kPi * f / s.sampleRate);
  const auto h = (1.0 + double{s.b1} * z + double{s.b2} * z * z) / (1.0 - double{s.a1} * z - double{s.a2} * z * z);
  return 20 * std::log10(s.effectiveGain * std::abs(h));
}

}  // namespace dspfx::test
