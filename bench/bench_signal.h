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
constexpr uint32_t kFrames = kRate * kSeconds;
// The block a host hands to a do call; rows that stream the signal use it.
constexpr uint32_t kBlockFrames = 4096;
// The frames of the signal that fill whole blocks.
constexpr uint32_t kWholeBlockFrames = kFrames / kBlockFrames * kBlockFrames;

inline const std::vector<int16_t>& testSignal() {
  static const std::vector<int16_t> signal = [] {
    std::vector<int16_t> s(size_t{kFrames} * 2);
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

// The left channel alone, for the mono rows.
inline const std::vector<int16_t>& testSignalLeft() {
  static const std::vector<int16_t> left = [] {
    const std::vector<int16_t>& s = testSignal();
    std::vector<int16_t> l(s.size() / 2);
    for (size_t i = 0; i < l.size(); ++i) l[i] = s[2 * i];
    return l;
  }();
  return left;
}

// Reports audio seconds processed per CPU second.
template <class State>
void reportRealTime(State& state, uint64_t framesPerIteration, double rate = kRate) {
  state.counters["xRealTime"] = benchmark::Counter(
      static_cast<double>(framesPerIteration) / rate, benchmark::Counter::kIsIterationInvariantRate);
}

// Reports CPU seconds per unit of work, units counted per iteration; the
// counter's name says what a unit is ("s/sample/tap").
template <class State>
void reportCost(State& state, const char* name, double unitsPerIteration) {
  state.counters[name] = benchmark::Counter(
      unitsPerIteration, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// One pass of the whole signal per iteration, block by block: block(in,
// frames) gets whole kBlockFrames blocks of interleaved stereo (or of the
// left channel alone when channels is 1).
template <class Block>
void streamSignal(benchmark::State& state, uint32_t channels, Block&& block) {
  const int16_t* s = channels == 1 ? testSignalLeft().data() : testSignal().data();
  for (auto _ : state) {
    for (uint32_t at = 0; at < kWholeBlockFrames; at += kBlockFrames) {
      block(s + size_t{at} * channels);
      benchmark::ClobberMemory();
    }
  }
  reportRealTime(state, kWholeBlockFrames);
}

}  // namespace dspfx::bench
