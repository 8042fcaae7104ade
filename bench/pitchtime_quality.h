#pragma once
// How well a time stretch or pitch shift keeps steady tones: a tone (or a
// three-note chord) of 8 s, mono 44100 Hz 16-bit, is processed in 4096-frame
// blocks and the steady middle of the output (2^17 frames) is measured:
//   cents   the strongest partial against the ideal frequency
//   offDb   energy further than 1 % from every ideal partial, relative to
//           the total (Blackman-Harris window, so leakage stays below -90 dB)
//   levelDb RMS of the middle against the input's
//   lengthPct output frames against input frames x the ideal ratio
// The same measure serves the library and its peers; each runner returns
// the output samples and the CPU seconds its processing took.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace dspfx::bench {

struct QualityCase {
  std::string name;  // "stretch1.5", "pitch+5", ...
  bool stretch;
  double amount;  // stretch: output duration / input; pitch: semitones
  // Frequencies of partials move by this; durations by ratio.
  double pitchRatio() const { return stretch ? 1.0 : std::pow(2.0, amount / 12.0); }
  double lengthRatio() const { return stretch ? amount : 1.0; }
};

struct QualitySignal {
  std::string name;
  std::vector<double> freqs;
  double amplitudeDb;  // of each partial
};

inline const std::vector<QualityCase>& qualityCases() {
  static const std::vector<QualityCase> cases = {
      {"stretch1.5", true, 1.5},  {"stretch0.75", true, 0.75}, {"pitch+1", false, 1.0},
      {"pitch+5", false, 5.0},    {"pitch+12", false, 12.0},   {"pitch-7", false, -7.0},
  };
  return cases;
}

inline const std::vector<QualitySignal>& qualitySignals() {
  static const std::vector<QualitySignal> signals = {
      {"220Hz", {220.0}, -6.0},
      {"440Hz", {440.0}, -6.0},
      {"1000Hz", {1000.0}, -6.0},
      {"3000Hz", {3000.0}, -6.0},
      {"chord", {261.6256, 329.6276, 391.9954}, -12.0},
  };
  return signals;
}

constexpr uint32_t kQualityRate = 44100;
constexpr uint32_t kQualityFrames = 8 * kQualityRate;
constexpr uint32_t kQualityBlock = 4096;
constexpr uint32_t kQualityWindow = 1u << 17;

inline std::vector<int16_t> qualityInput(const QualitySignal& s) {
  std::vector<int16_t> pcm(kQualityFrames);
  const double a = std::pow(10.0, s.amplitudeDb / 20.0);
  for (uint32_t i = 0; i < kQualityFrames; ++i) {
    double v = 0.0;
    for (double f : s.freqs) v += a * std::sin(2.0 * M_PI * f * i / kQualityRate);
    pcm[i] = static_cast<int16_t>(std::lround(32767.0 * v));
  }
  return pcm;
}

inline double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// In-place radix-2 transform; n a power of two.
inline void fftInPlace(std::vector<std::complex<double>>& x) {
  const size_t n = x.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2.0 * M_PI / static_cast<double>(len);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w(1.0, 0.0);
      for (size_t k = 0; k < len / 2; ++k) {
        const std::complex<double> u = x[i + k];
        const std::complex<double> v = x[i + k + len / 2] * w;
        x[i + k] = u + v;
        x[i + k + len / 2] = u - v;
        w *= step;
      }
    }
  }
}

struct QualityResult {
  double cents = 0.0;
  double offDb = 0.0;
  double levelDb = 0.0;
  double lengthPct = 0.0;
  double cpuSeconds = 0.0;
};

inline QualityResult measureQuality(const QualityCase& c, const QualitySignal& s,
                                    const std::vector<int16_t>& input,
                                    const std::vector<float>& output, double cpu) {
  QualityResult r;
  r.cpuSeconds = cpu;
  const double idealLength = static_cast<double>(input.size()) * c.lengthRatio();
  r.lengthPct = 100.0 * (static_cast<double>(output.size()) - idealLength) / idealLength;
  if (output.size() < kQualityWindow) {
    r.cents = r.offDb = r.levelDb = NAN;
    return r;
  }
  const size_t start = (output.size() - kQualityWindow) / 2;
  std::vector<std::complex<double>> x(kQualityWindow);
  double outPower = 0.0;
  for (uint32_t i = 0; i < kQualityWindow; ++i) {
    const double v = output[start + i];
    outPower += v * v;
    // Four-term Blackman-Harris: side lobes below -92 dB.
    const double t = 2.0 * M_PI * i / kQualityWindow;
    const double w = 0.35875 - 0.48829 * std::cos(t) + 0.14128 * std::cos(2 * t) -
                     0.01168 * std::cos(3 * t);
    x[i] = v * w;
  }
  double inPower = 0.0;
  const size_t inStart = (input.size() - kQualityWindow) / 2;
  for (uint32_t i = 0; i < kQualityWindow; ++i) {
    const double v = input[inStart + i] / 32767.0;
    inPower += v * v;
  }
  r.levelDb = 10.0 * std::log10(std::max(outPower, 1e-30) / inPower);
  fftInPlace(x);
  const double binHz = static_cast<double>(kQualityRate) / kQualityWindow;
  const size_t half = kQualityWindow / 2;
  std::vector<double> power(half);
  for (size_t k = 0; k < half; ++k) power[k] = std::norm(x[k]);
  std::vector<double> ideal;
  for (double f : s.freqs) ideal.push_back(f * c.pitchRatio());
  double total = 0.0, off = 0.0;
  size_t peak = 1;
  for (size_t k = 1; k < half; ++k) {
    total += power[k];
    const double f = k * binHz;
    bool near = false;
    for (double fi : ideal) near = near || std::fabs(f - fi) <= 0.01 * fi;
    if (!near) off += power[k];
    if (power[k] > power[peak]) peak = k;
  }
  r.offDb = 10.0 * std::log10(std::max(off, 1e-30 * total) / total);
  // The peak refined by a parabola through the log powers of its bins.
  const double a = std::log(power[peak - 1] + 1e-300);
  const double b = std::log(power[peak] + 1e-300);
  const double d = std::log(power[peak + 1] + 1e-300);
  const double shift = 0.5 * (a - d) / (a - 2 * b + d);
  const double found = (static_cast<double>(peak) + shift) * binHz;
  double nearest = ideal[0];
  for (double fi : ideal) {
    if (std::fabs(std::log(found / fi)) < std::fabs(std::log(found / nearest))) nearest = fi;
  }
  r.cents = 1200.0 * std::log2(found / nearest);
  return r;
}

}  // namespace dspfx::bench
