#pragma once
// Helpers shared by the suites: signal generators, measurements, guards.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <random>
#include <vector>

#include "core/sample_convert.h"

namespace dspfx::test {

constexpr double kPi = 3.14159265358979323846;

// Interleaved 16-bit sine of the given amplitude (0..1 of full scale).
inline std::vector<int16_t> sinePcm(double freq, double rate, uint32_t frames, uint32_t channels,
                                    double amplitude = 0.5, double phase = 0.0) {
  std::vector<int16_t> out(size_t{frames} * channels);
  for (uint32_t i = 0; i < frames; ++i) {
    const auto v = static_cast<int16_t>(32767.0 * amplitude * std::sin(2 * kPi * freq * i / rate + phase));
    for (uint32_t c = 0; c < channels; ++c) out[size_t{i} * channels + c] = v;
  }
  return out;
}

// Frequency of a roughly periodic signal from its rising zero crossings,
// interpolated between samples. stride picks one channel of interleaved data.
template <class T>
double zeroCrossingFrequency(const T* x, size_t count, double rate, size_t stride = 1,
                             size_t skip = 0) {
  double first = -1, last = -1;
  int crossings = 0;
  for (size_t i = skip + 1; i < count; ++i) {
    const double a = x[(i - 1) * stride], b = x[i * stride];
    if (a < 0 && b >= 0) {
      const double t = (i - 1) + (-a) / (b - a);
      if (first < 0) first = t;
      last = t;
      ++crossings;
    }
  }
  if (crossings < 2) return 0;
  return (crossings - 1) * rate / (last - first);
}

inline double rms(const float* x, size_t n) {
  double s = 0;
  for (size_t i = 0; i < n; ++i) s += double{x[i]} * x[i];
  return n ? std::sqrt(s / n) : 0;
}

// Buffer with a guard value just past the end, to catch writes beyond it.
template <class T>
struct Guarded {
  explicit Guarded(size_t n, T guard) : data(n + 1, T{}), size(n), guard(guard) { data[n] = guard; }
  T* get() { return data.data(); }
  bool intact() const { return data[size] == guard; }
  std::vector<T> data;
  size_t size;
  T guard;
};

// Float-to-PCM truncates a double product, so a value that should come out
// as ideal may come out one step nearer zero.
inline bool pcmMatches(int actual, int ideal) {
  return actual == ideal || actual == ideal - (ideal > 0 ? 1 : 0) + (ideal < 0 ? 1 : 0);
}

// Uniform white noise in -peak ... peak, from a fixed seed.
inline std::vector<int16_t> noisePcm(size_t n, uint32_t seed, int peak = 32767) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(-peak, peak);
  std::vector<int16_t> v(n);
  for (auto& s : v) s = static_cast<int16_t>(d(rng));
  return v;
}

inline std::vector<float> noiseFloat(size_t n, uint32_t seed, float range = 1.0f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-range, range);
  std::vector<float> v(n);
  for (auto& x : v) x = d(rng);
  return v;
}

inline std::vector<float> sineFloat(double f, double rate, size_t n, double amplitude = 0.5) {
  std::vector<float> x(n);
  for (size_t i = 0; i < n; ++i) x[i] = static_cast<float>(amplitude * std::sin(2 * kPi * f * i / rate));
  return x;
}

inline double toDb(double gain) { return 20.0 * std::log10(gain); }

// Least-squares fit of a * sin + b * cos at freq (Hz) to y[0..n): the
// amplitude and phase of the fit, and the RMS of what the fit leaves.
struct SineFit {
  double amplitude = 0;
  double phase = 0;
  double residualRms = 0;
};

template <class T>
SineFit fitSine(const T* y, size_t n, double freq, double rate) {
  double ss = 0, cc = 0, sc = 0, sy = 0, cy = 0;
  for (size_t i = 0; i < n; ++i) {
    const double p = 2 * kPi * freq * static_cast<double>(i) / rate;
    const double s = std::sin(p), c = std::cos(p);
    ss += s * s, cc += c * c, sc += s * c, sy += s * y[i], cy += c * y[i];
  }
  const double det = ss * cc - sc * sc;
  const double a = (sy * cc - cy * sc) / det, b = (cy * ss - sy * sc) / det;
  double e = 0;
  for (size_t i = 0; i < n; ++i) {
    const double p = 2 * kPi * freq * static_cast<double>(i) / rate;
    const double d = y[i] - (a * std::sin(p) + b * std::cos(p));
    e += d * d;
  }
  return {std::hypot(a, b), std::atan2(b, a), n ? std::sqrt(e / n) : 0};
}

// Frequency of a steady tone near nominal (Hz): the phase of a sine fit in
// consecutive segments, unwrapped, with a least-squares line through it.
template <class T>
double toneFrequency(const T* y, size_t n, double rate, double nominal, size_t segment = 4800) {
  std::vector<double> t, ph;
  double last = 0;
  for (size_t at = 0; at + segment <= n; at += segment) {
    // The fit's phase is the tone's total phase at the segment's start; less
    // the nominal advance it drifts slowly and unwraps safely.
    double p = fitSine(y + at, segment, nominal, rate).phase - 2 * kPi * nominal * static_cast<double>(at) / rate;
    if (!ph.empty()) p = last + std::remainder(p - last, 2 * kPi);
    ph.push_back(last = p);
    t.push_back(static_cast<double>(at) / rate);
  }
  double mt = 0, mp = 0;
  for (size_t k = 0; k < t.size(); ++k) mt += t[k], mp += ph[k];
  mt /= t.size(), mp /= t.size();
  double num = 0, den = 0;
  for (size_t k = 0; k < t.size(); ++k) num += (t[k] - mt) * (ph[k] - mp), den += (t[k] - mt) * (t[k] - mt);
  return nominal + num / den / (2 * kPi);
}

// The elements of a fixed array, for whole-array comparisons.
template <class T, size_t N>
std::vector<T> asVector(const T (&a)[N]) {
  return std::vector<T>(a, a + N);
}

// Each handle (null, destroyed, foreign or of another family) must get the
// failure value, 0 or null, from every call.
template <class H, class... Calls>
void expectAllRefuse(std::initializer_list<H*> handles, Calls... calls) {
  for (H* h : handles) {
    int index = 0;
    auto check = [&](auto call) {
      EXPECT_EQ(call(h), decltype(call(h)){}) << "call " << index << " with handle " << static_cast<void*>(h);
      ++index;
    };
    (check(calls), ...);
  }
}

// What the PCM -> float -> PCM conversions alone make of a block.
inline std::vector<int16_t> pcmRoundTrip(const std::vector<int16_t>& in, uint32_t channels) {
  const auto frames = static_cast<uint32_t>(in.size() / channels);
  std::vector<float> l(frames), r(frames);
  std::vector<int16_t> out(in.size());
  pcm16ToFloat(in.data(), frames * channels * 2, l.data(), r.data(), channels);
  floatToPcm16(l.data(), r.data(), frames, out.data(), channels);
  return out;
}

// Interleaves equal-length channels.
inline std::vector<int16_t> interleave(const std::vector<int16_t>& l, const std::vector<int16_t>& r) {
  std::vector<int16_t> v(2 * l.size());
  for (size_t i = 0; i < l.size(); ++i) v[2 * i] = l[i], v[2 * i + 1] = r[i];
  return v;
}

}  // namespace dspfx::test

#define EXPECT_PCM(actual, ideal)                                                     \
  EXPECT_TRUE(::dspfx::test::pcmMatches((actual), (ideal)))                           \
      << #actual " = " << (actual) << ", want " << (ideal) << " or one step nearer 0"
