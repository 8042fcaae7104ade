#pragma once
// The one deterministic test signal every benchmark row uses: 60 s of
// stereo 44100 Hz 16-bit PCM, sines plus noise.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace dspfx::bench {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kSeconds = 60;

inline const std::vector<int16_t>& testSignal() {
  static const std::vector<int16_t> signal = [] {
    std::vector<int16_t> s(size_t{kRate} * kSeconds * 2);
    uint32_t noise = 12345;
    for (size_t i = 0; i < s.size() / 2; ++i) {
      const double t = static_cast<double>(i) / kRate;
      noise = noise * 1664525u + 1013904223u;
      const double n = (static_cast<int32_t>(noise >> 8) - (1 << 23)) / double(1 << 23);
      const double l = 0.3 * std::sin(2 * M_PI * 440 * t) + 0.2 * std::sin(2 * M_PI * 3100 * t) + 0.05 * n;
      const double r = 0.3 * std::sin(2 * M_PI * 660 * t) + 0.2 * std::sin(2 * M_PI * 9000 * t) + 0.05 * n;
      s[2 * i] = static_cast<int16_t>(32767 * l);
      s[2 * i + 1] = static_cast<int16_t>(32767 * r);
    }
    return s;
  }();
  return signal;
}

// Reports audio seconds processed per CPU second.
template <class State>
void reportRealTime(State& state, uint64_t framesPerIteration, double rate = kRate) {
  state.counters["xRealTime"] = benchmark::Counter(
      static_cast<double>(framesPerIteration) / rate, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(framesPerIteration),
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace dspfx::bench
