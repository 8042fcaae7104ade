// Upsampler to 48000 Hz with harmonics, and its band-split FIR forms.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_rows.h"
#include "bench_signal.h"
#include "dspfx/dspfx.h"
#include "dsp/kaiser_fir.h"

namespace {

using namespace dspfx::bench;

// Stereo 44100 -> 48000 with the tool's defaults: curve 0.3, 30 % mix,
// band from 11 kHz, cubic, anti-alias 60 dB / 60 dB per octave, adaptive
// band edge; the converters at the given quality.
void hqupsLibrary(benchmark::State& state, uint32_t quality) {
  DspEffect* h = initHqupsBySrcsize(kBlockFrames, 2, 2, kRate, 0.3f, 30.0f, 11000, 1, 60.0f, 60.0f, 1, 1);
  if (h && setHqupsQuality(h, quality) != 1) {
    termHqups(h);
    h = nullptr;
  }
  if (!h) {
    state.SkipWithError("initHqupsBySrcsize failed");
    return;
  }
  std::vector<int16_t> out(2 * (getHqupsDstSize(h, kBlockFrames) + 1));
  streamSignal(state, 2, [&](const int16_t* in) {
    benchmark::DoNotOptimize(doHqups(h, in, out.data(), kBlockFrames * 4));
  });
  reportCost(state, "s/sample", 2.0 * kWholeBlockFrames);
  termHqups(h);
}

enum class FirForm { kScalar, kSse, kTwoLane };

// One 4096-sample block at 48000 Hz through the band-split FIR of order 32.
void kaiserFir(benchmark::State& state, FirForm form) {
  dspfx::KaiserFir fir;
  if (!fir.prepare(100, 32, dspfx::KaiserFir::kHighpass)) {
    state.SkipWithError("prepare failed");
    return;
  }
  fir.design(48000, 6000, 0);
  const std::vector<int16_t>& signal = testSignalLeft();
  std::vector<float> in(kBlockFrames), out(kBlockFrames);
  for (uint32_t i = 0; i < kBlockFrames; ++i) in[i] = signal[i] / 32767.0f;
  for (auto _ : state) {
    switch (form) {
      case FirForm::kSse: fir.runSse(in.data(), out.data(), kBlockFrames); break;
      case FirForm::kTwoLane: fir.run3dnow(in.data(), out.data(), kBlockFrames); break;
      default: fir.runScalar(in.data(), out.data(), kBlockFrames); break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  reportRealTime(state, kBlockFrames, 48000);
}

const bool registered = [] {
  row("doHqups", "44100-48000", "dspfx", [](benchmark::State& s) { hqupsLibrary(s, 0); })
      ->Unit(benchmark::kMillisecond);
  row("doHqups", "44100-48000", "dspfx-q2", [](benchmark::State& s) { hqupsLibrary(s, 2); })
      ->Unit(benchmark::kMillisecond);
  row("KaiserFir", "order32", "dspfx-scalar", [](benchmark::State& s) { kaiserFir(s, FirForm::kScalar); });
  row("KaiserFir", "order32", "dspfx-sse", [](benchmark::State& s) { kaiserFir(s, FirForm::kSse); });
  row("KaiserFir", "order32", "dspfx-3dnow", [](benchmark::State& s) { kaiserFir(s, FirForm::kTwoLane); });
  return true;
}();

}  // namespace
