// Equalisers on the shared stereo signal in 4096-frame blocks, and the FIR
// band filter's inner loop on its own, with costs per tap or band.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "bench_rows.h"
#include "bench_signal.h"
#include "dspfx/dspfx.h"
#include "eq/fir_band_filter.h"

namespace {

using namespace dspfx::bench;

constexpr double kSamples = 2.0 * kWholeBlockFrames;

void shelvingLibrary(benchmark::State& state, uint32_t n, uint32_t mode = 0) {
  std::vector<float> gains(n);
  for (uint32_t i = 0; i < n; ++i) gains[i] = static_cast<float>(i % 5) * 2.0f - 4.0f;
  DspEffect* h = initShelvingEQ(kBlockFrames, 2, kRate, n, gains.data(), 0.0f);
  if (!h) {
    state.SkipWithError("initShelvingEQ failed");
    return;
  }
  if (!setShelvingEQMode(h, mode)) {
    state.SkipWithError("setShelvingEQMode failed");
    termShelvingEQ(h);
    return;
  }
  std::vector<int16_t> out(kBlockFrames * 2);
  streamSignal(state, 2, [&](const int16_t* in) { doShelvingEQ(h, in, out.data(), kBlockFrames * 4); });
  // The band filter of N bands has 4N - 1 taps.
  reportCost(state, "s/sample/tap", kSamples * (4.0 * n - 1));
  termShelvingEQ(h);
}

void graphicLibrary(benchmark::State& state, uint32_t n) {
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
  std::vector<int16_t> out(kBlockFrames * 2);
  streamSignal(state, 2, [&](const int16_t* in) { doGraphicEQ(h, in, out.data(), kBlockFrames * 4); });
  reportCost(state, "s/sample/band", kSamples * n);
  termGraphicEQ(h);
}

// The filter alone on one channel of float samples, for the growth of its
// cost with N.
void firBandFilter(benchmark::State& state, int32_t n) {
  dspfx::FirBandFilter f;
  std::vector<float> gains(static_cast<size_t>(n), 0.0f);
  gains[0] = 6.0f;
  if (!f.allocate(n)) {
    state.SkipWithError("allocate failed");
    return;
  }
  f.designAll(gains.data(), 0.0f);
  std::vector<float> in(kBlockFrames), out(kBlockFrames);
  const std::vector<int16_t>& signal = testSignalLeft();
  for (uint32_t i = 0; i < kBlockFrames; ++i) in[i] = signal[i] / 32767.0f;
  for (auto _ : state) {
    f.process(in.data(), out.data(), kBlockFrames);
    benchmark::DoNotOptimize(out.data());
  }
  reportRealTime(state, kBlockFrames);
  reportCost(state, "s/sample/tap", double(kBlockFrames) * f.tapCount());
}

const bool registered = [] {
  for (uint32_t n : {8u, 16u, 32u, 128u}) {
    row("doShelvingEQ", std::to_string(n) + "bands", "dspfx", [n](benchmark::State& s) { shelvingLibrary(s, n); })
        ->Unit(benchmark::kMillisecond);
  }
  // The fast-convolution form of the same filters.
  for (uint32_t n : {16u, 128u, 1024u}) {
    row("doShelvingEQ", std::to_string(n) + "bands-fft", "dspfx", [n](benchmark::State& s) { shelvingLibrary(s, n, 1); })
        ->Unit(benchmark::kMillisecond);
  }
  for (uint32_t n : {10u, 31u}) {
    row("doGraphicEQ", std::to_string(n) + "bands", "dspfx", [n](benchmark::State& s) { graphicLibrary(s, n); })
        ->Unit(benchmark::kMillisecond);
  }
  for (int32_t n : {4, 16, 64, 256}) {
    row("FirBandFilter", std::to_string(n) + "bands-mono", "dspfx", [n](benchmark::State& s) { firBandFilter(s, n); });
  }
  return true;
}();

}  // namespace
