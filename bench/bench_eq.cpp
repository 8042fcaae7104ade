// Equalisers on the shared stereo test signal in 4096-frame blocks, and the
// FIR band filter's inner loop on its own, with costs per tap or band.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench_signal.h"
#include "dspfx/dspfx.h"
#include "eq/fir_band_filter.h"

namespace {

using namespace dspfx;
using namespace dspfx::bench;

constexpr uint32_t kBlockFrames = 4096;

// Runs one pass of the whole signal through do(handle, in, out, bytes).
template <class Do>
void runSignal(benchmark::State& state, DspEffect* h, Do doBlock) {
  const std::vector<int16_t>& signal = testSignal();
  const uint32_t frames = static_cast<uint32_t>(signal.size() / 2);
  std::vector<int16_t> out(kBlockFrames * 2);
  for (auto _ : state) {
    for (uint32_t at = 0; at + kBlockFrames <= frames; at += kBlockFrames) {
      doBlock(h, signal.data() + size_t{at} * 2, out.data(), kBlockFrames * 4);
      benchmark::DoNotOptimize(out.data());
    }
  }
  reportRealTime(state, frames / kBlockFrames * kBlockFrames);
}

void perUnit(benchmark::State& state, const char* name, double unitsPerIteration) {
  state.counters[name] = benchmark::Counter(
      unitsPerIteration, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_doShelvingEQ(benchmark::State& state) {
  const auto n = static_cast<uint32_t>(state.range(0));
  std::vector<float> gains(n);
  for (uint32_t i = 0; i < n; ++i) gains[i] = static_cast<float>(i % 5) * 2.0f - 4.0f;
  DspEffect* h = initShelvingEQ(kBlockFrames, 2, kRate, n, gains.data(), 0.0f);
  if (!h) {
    state.SkipWithError("initShelvingEQ failed");
    return;
  }
  runSignal(state, h, doShelvingEQ);
  const double samples = double(testSignal().size() / 2 / kBlockFrames * kBlockFrames) * 2;
  perUnit(state, "s/sample/tap", samples * (4.0 * n - 1));
  termShelvingEQ(h);
}
BENCHMARK(BM_doShelvingEQ)->Arg(8)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);

void BM_doGraphicEQ(benchmark::State& state) {
  const auto n = static_cast<uint32_t>(state.range(0));
  std::vector<GraphicEqBand> bands(n);
  // Octave (10) or third-octave (31) centres from about 31 Hz upwards.
  for (uint32_t i = 0; i < n; ++i) {
    const double step = n > 10 ? 1.0 / 3.0 : 1.0;
    bands[i] = {static_cast<float>(31.25 * std::pow(2.0, i * step)), static_cast<float>(i % 3) - 1.0f, 0.3f, 0.98f};
  }
  DspEffect* h = initGraphicEQ(kBlockFrames, 2, kRate, n, bands.data(), 0.0f);
  if (!h) {
    state.SkipWithError("initGraphicEQ failed");
    return;
  }
  runSignal(state, h, doGraphicEQ);
  const double samples = double(testSignal().size() / 2 / kBlockFrames * kBlockFrames) * 2;
  perUnit(state, "s/sample/band", samples * n);
  termGraphicEQ(h);
}
BENCHMARK(BM_doGraphicEQ)->Arg(10)->Arg(31)->Unit(benchmark::kMillisecond);

// The filter alone on one channel of float samples, for the growth of its
// cost with N.
void BM_FirBandFilterProcess(benchmark::State& state) {
  const auto n = static_cast<int32_t>(state.range(0));
  FirBandFilter f;
  std::vector<float> gains(n, 0.0f);
  gains[0] = 6.0f;
  if (!f.allocate(n)) {
    state.SkipWithError("allocate failed");
    return;
  }
  f.designAll(gains.data(), 0.0f);
  std::vector<float> in(kBlockFrames), out(kBlockFrames);
  const std::vector<int16_t>& signal = testSignal();
  for (uint32_t i = 0; i < kBlockFrames; ++i) in[i] = signal[2 * i] / 32767.0f;
  for (auto _ : state) {
    f.process(in.data(), out.data(), kBlockFrames);
    benchmark::DoNotOptimize(out.data());
  }
  reportRealTime(state, kBlockFrames);
  perUnit(state, "s/sample/tap", double(kBlockFrames) * f.tapCount());
}
BENCHMARK(BM_FirBandFilterProcess)->RangeMultiplier(2)->Range(4, 256);

}  // namespace
