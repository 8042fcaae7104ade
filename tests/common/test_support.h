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
