// Chorus and cross-fader on the shared stereo 44100 Hz signal in 4096-frame
// blocks: speed as a multiple of real time and the cost of one sample (per
// voice for the chorus).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_signal.h"
#include "dspfx/dspfx.h"

namespace {

using dspfx::bench::kRate;
using dspfx::bench::testSignal;

constexpr uint32_t kBlock = 4096;

// Frame offset of the next block, cycling through the signal.
struct BlockCursor {
  size_t frame = 0;
  const int16_t* next() {
    const auto& s = testSignal();
    if ((frame + kBlock) * 2 > s.size()) frame = 0;
    const int16_t* p = s.data() + frame * 2;
    frame += kBlock;
    return p;
  }
};

void addCostCounter(benchmark::State& state, const char* name, double units) {
  state.counters[name] =
      benchmark::Counter(units, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_doChorus(benchmark::State& state) {
  const auto voices = static_cast<uint32_t>(state.range(0));
  DspEffect* h = initChorus(kBlock, 2, kRate, voices, 12.0f, 4.0f, 0.8f, 60.0f, 80.0f);
  if (!h) {
    state.SkipWithError("initChorus failed");
    return;
  }
  std::vector<int16_t> out(kBlock * 2);
  BlockCursor cursor;
  for (auto _ : state) {
    doChorus(h, cursor.next(), out.data(), kBlock * 4);
    benchmark::DoNotOptimize(out.data());
  }
  termChorus(h);
  dspfx::bench::reportRealTime(state, kBlock);
  addCostCounter(state, "s/sample/voice", 2.0 * kBlock * voices);
}
BENCHMARK(BM_doChorus)->Arg(1)->Arg(3)->Arg(8);

// Both faders and the cross-fader inside a ramp on every frame: the per-frame
// level, table lookup and law are all paid.
void BM_doCrossFade(benchmark::State& state) {
  DspEffect* h = initFader(kBlock, 2, kRate, -1.0f, 0.0f, -10.0f);
  if (!h) {
    state.SkipWithError("initFader failed");
    return;
  }
  setFaderAction(h, 0, 0.001f, 20000.0f, -30.0f);
  setFaderAction(h, 1, 0.001f, 20000.0f, 10.0f);
  setCrossFaderAction(h, 0.001f, 20000.0f, 1.0f);
  std::vector<int16_t> out(kBlock * 2);
  BlockCursor a, b;
  b.frame = kRate * 7;
  for (auto _ : state) {
    doCrossFade(h, a.next(), b.next(), out.data(), kBlock * 4);
    benchmark::DoNotOptimize(out.data());
  }
  termFader(h);
  dspfx::bench::reportRealTime(state, kBlock);
  addCostCounter(state, "s/sample", 2.0 * kBlock);
}
BENCHMARK(BM_doCrossFade);

}  // namespace
