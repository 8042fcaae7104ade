// Upsampler to 48000 Hz with harmonics, and its band-split FIR forms.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_signal.h"
#include "dspfx/dspfx.h"
#include "rate/kaiser_fir.h"

namespace {

constexpr uint32_t kBlock = 4096;

// Stereo 44100 -> 48000 in 4096-frame blocks; arg 0 = fixed band,
// 1 = adaptive band edge.
void BM_DoHqups(benchmark::State& state) {
  const auto& signal = dspfx::bench::testSignal();
  DspEffect* h = initHqupsBySrcsize(kBlock, 2, 2, dspfx::bench::kRate, 0.5f, 50, 6000, 1, 60, 120,
                                    static_cast<int32_t>(state.range(0)), 1);
  if (!h) {
    state.SkipWithError("initHqupsBySrcsize failed");
    return;
  }
  std::vector<int16_t> out(2 * (getHqupsDstSize(h, kBlock) + 1));
  const size_t blocks = signal.size() / 2 / kBlock;
  size_t b = 0;
  for (auto _ : state) {
    const uint32_t bytes = doHqups(h, signal.data() + b * kBlock * 2, out.data(), kBlock * 4);
    benchmark::DoNotOptimize(bytes);
    b = (b + 1) % blocks;
  }
  dspfx::bench::reportRealTime(state, kBlock);
  termHqups(h);
}
BENCHMARK(BM_DoHqups)->Arg(0)->Arg(1)->ArgName("adaptive");

// One 4096-sample block through the band-split FIR; args: order, form
// (0 scalar, 1 SSE, 2 two-lane).
void BM_KaiserFirRun(benchmark::State& state) {
  dspfx::KaiserFir fir;
  if (!fir.prepare(100, static_cast<uint32_t>(state.range(0)), dspfx::KaiserFir::kHighpass)) {
    state.SkipWithError("prepare failed");
    return;
  }
  fir.design(48000, 6000, 0);
  const auto& signal = dspfx::bench::testSignal();
  std::vector<float> in(kBlock), out(kBlock);
  for (uint32_t i = 0; i < kBlock; ++i) in[i] = signal[2 * i] / 32767.0f;
  const int64_t form = state.range(1);
  for (auto _ : state) {
    if (form == 1) {
      fir.runSse(in.data(), out.data(), kBlock);
    } else if (form == 2) {
      fir.run3dnow(in.data(), out.data(), kBlock);
    } else {
      fir.runScalar(in.data(), out.data(), kBlock);
    }
    benchmark::DoNotOptimize(out.data());
  }
  dspfx::bench::reportRealTime(state, kBlock, 48000);
}
BENCHMARK(BM_KaiserFirRun)->ArgsProduct({{16, 32}, {0, 1, 2}})->ArgNames({"order", "form"});

}  // namespace
