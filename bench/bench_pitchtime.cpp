// Granular time stretch at scales 1000 (half the duration) and -1000 (twice)
// and pitch shift at +1200 and -1200 cents (cubic, anti-alias on) on the
// shared stereo signal in 4096-frame blocks, grains of 0.04 s every 0.01 s,
// PCM in and PCM out; rates count input frames. When SoundTouch is
// installed, the same tempo and pitch changes run through it in the same
// binary, with the same 16-bit conversions inside the loop, so the ratios
// come from one run on one machine.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_signal.h"
#include "dspfx/dspfx.h"

#ifdef DSPFX_HAVE_SOUNDTOUCH
#include <soundtouch/SoundTouch.h>
#endif

namespace {

using namespace dspfx::bench;

constexpr uint32_t kBlockFrames = 4096;
constexpr float kGrainTime = 0.04f;
constexpr float kHopTime = 0.01f;

uint32_t wholeBlocksFrames() {
  return static_cast<uint32_t>(testSignal().size() / 2) / kBlockFrames * kBlockFrames;
}

void BM_doStretch(benchmark::State& state) {
  const auto scale = static_cast<float>(state.range(0));
  DspEffect* h = initStretch(kBlockFrames, 2, kRate, scale, 0.0f, kGrainTime, kHopTime);
  if (!h) {
    state.SkipWithError("initStretch failed");
    return;
  }
  const std::vector<int16_t>& signal = testSignal();
  const uint32_t frames = wholeBlocksFrames();
  std::vector<int16_t> out(size_t{getStretchDstSize(h, kBlockFrames) + 1} * 2);
  for (auto _ : state) {
    for (uint32_t at = 0; at < frames; at += kBlockFrames) {
      benchmark::DoNotOptimize(
          doStretch(h, signal.data() + size_t{at} * 2, out.data(), kBlockFrames * 4));
      benchmark::ClobberMemory();
    }
  }
  state.SetLabel(scale > 0 ? "half duration" : "double duration");
  reportRealTime(state, frames);
  termStretch(h);
}
BENCHMARK(BM_doStretch)->Arg(1000)->Arg(-1000)->Unit(benchmark::kMillisecond);

void BM_doPitchShift(benchmark::State& state) {
  const auto cents = static_cast<float>(state.range(0));
  DspEffect* h = initPitchShift(kBlockFrames, 2, kRate, cents, 0.0f, kGrainTime, kHopTime, 1, 1);
  if (!h) {
    state.SkipWithError("initPitchShift failed");
    return;
  }
  const std::vector<int16_t>& signal = testSignal();
  const uint32_t frames = wholeBlocksFrames();
  std::vector<int16_t> out(kBlockFrames * 2);
  for (auto _ : state) {
    for (uint32_t at = 0; at < frames; at += kBlockFrames) {
      benchmark::DoNotOptimize(
          doPitchShift(h, signal.data() + size_t{at} * 2, out.data(), kBlockFrames * 4));
      benchmark::ClobberMemory();
    }
  }
  state.SetLabel(cents > 0 ? "octave up, cubic, anti-alias" : "octave down, cubic, anti-alias");
  reportRealTime(state, frames);
  termPitchShift(h);
}
BENCHMARK(BM_doPitchShift)->Arg(1200)->Arg(-1200)->Unit(benchmark::kMillisecond);

#ifdef DSPFX_HAVE_SOUNDTOUCH
// tempo: output speed (2 halves the duration); semitones: pitch change.
void runSoundTouch(benchmark::State& state, double tempo, double semitones) {
  soundtouch::SoundTouch st;
  st.setSampleRate(kRate);
  st.setChannels(2);
  st.setTempo(tempo);
  st.setPitchSemiTones(semitones);
  const std::vector<int16_t>& signal = testSignal();
  const uint32_t frames = wholeBlocksFrames();
  const uint32_t outCapacity = kBlockFrames * 4;
  std::vector<float> in(kBlockFrames * 2), out(size_t{outCapacity} * 2);
  std::vector<int16_t> pcm(out.size());
  for (auto _ : state) {
    st.clear();
    for (uint32_t at = 0; at < frames; at += kBlockFrames) {
      const int16_t* block = signal.data() + size_t{at} * 2;
      for (uint32_t i = 0; i < kBlockFrames * 2; ++i) in[i] = block[i] * (1.0f / 32768.0f);
      st.putSamples(in.data(), kBlockFrames);
      for (;;) {
        const uint32_t got = st.receiveSamples(out.data(), outCapacity);
        if (got == 0) break;
        for (uint32_t i = 0; i < got * 2; ++i) {
          const float v = out[i] * 32767.0f;
          pcm[i] = static_cast<int16_t>(v > 32767.0f ? 32767.0f : (v < -32768.0f ? -32768.0f : v));
        }
        benchmark::DoNotOptimize(pcm.data());
      }
    }
  }
  reportRealTime(state, frames);
}

void BM_soundTouchTempo(benchmark::State& state) {
  const double tempo = state.range(0) > 0 ? 2.0 : 0.5;
  state.SetLabel(tempo > 1 ? "half duration" : "double duration");
  runSoundTouch(state, tempo, 0.0);
}
BENCHMARK(BM_soundTouchTempo)->Arg(1000)->Arg(-1000)->Unit(benchmark::kMillisecond);

void BM_soundTouchPitch(benchmark::State& state) {
  const double semitones = state.range(0) / 100.0;
  state.SetLabel(semitones > 0 ? "octave up" : "octave down");
  runSoundTouch(state, 1.0, semitones);
}
BENCHMARK(BM_soundTouchPitch)->Arg(1200)->Arg(-1200)->Unit(benchmark::kMillisecond);
#else
void BM_soundTouch(benchmark::State& state) { state.SkipWithError("SoundTouch not installed"); }
BENCHMARK(BM_soundTouch);
#endif

}  // namespace
