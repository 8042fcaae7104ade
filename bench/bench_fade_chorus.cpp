// Chorus and cross-fader on the shared stereo signal in 4096-frame blocks:
// speed as a multiple of real time and the cost of one sample (per voice for
// the chorus).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench_rows.h"
#include "bench_signal.h"
#include "dspfx/dspfx.h"

namespace {

using namespace dspfx::bench;

constexpr double kSamples = 2.0 * kWholeBlockFrames;

void chorusLibrary(benchmark::State& state, uint32_t voices) {
  DspEffect* h = initChorus(kBlockFrames, 2, kRate, voices, 12.0f, 4.0f, 0.8f, 60.0f, 80.0f);
  if (!h) {
    state.SkipWithError("initChorus failed");
    return;
  }
  std::vector<int16_t> out(kBlockFrames * 2);
  streamSignal(state, 2, [&](const int16_t* in) { doChorus(h, in, out.data(), kBlockFrames * 4); });
  reportCost(state, "s/sample/voice", kSamples * voices);
  termChorus(h);
}

// Both faders and the cross-fader inside a ramp on every frame: the
// per-frame level, table lookup and law are all paid. The second input is
// the signal 75 blocks (about 7 s) further on.
void crossFadeLibrary(benchmark::State& state) {
  DspEffect* h = initFader(kBlockFrames, 2, kRate, -1.0f, 0.0f, -10.0f);
  if (!h) {
    state.SkipWithError("initFader failed");
    return;
  }
  setFaderAction(h, 0, 0.001f, 20000.0f, -30.0f);
  setFaderAction(h, 1, 0.001f, 20000.0f, 10.0f);
  setCrossFaderAction(h, 0.001f, 20000.0f, 1.0f);
  const int16_t* signal = testSignal().data();
  std::vector<int16_t> out(kBlockFrames * 2);
  streamSignal(state, 2, [&](const int16_t* a) {
    const size_t at = static_cast<size_t>(a - signal) / 2;
    const int16_t* b = signal + (at + 75 * kBlockFrames) % kWholeBlockFrames * 2;
    doCrossFade(h, a, b, out.data(), kBlockFrames * 4);
  });
  reportCost(state, "s/sample", kSamples);
  termFader(h);
}

const bool registered = [] {
  for (uint32_t voices : {1u, 3u, 8u}) {
    row("doChorus", std::to_string(voices) + "voices", "dspfx",
        [voices](benchmark::State& s) { chorusLibrary(s, voices); })
        ->Unit(benchmark::kMillisecond);
  }
  row("doCrossFade", "stereo", "dspfx", crossFadeLibrary)->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
