// Granular time stretch at scales 1000 (half the duration) and -1000
// (twice) and pitch shift at +1200 and -1200 cents (cubic, anti-alias on),
// grains of 0.04 s every 0.01 s, and the wave slicer, on the shared stereo
// signal in 4096-frame blocks, PCM in and PCM out; rates count input frames.
// With SoundTouch installed the same tempo and pitch changes run through it
// with the same 16-bit conversions inside the loop.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_rows.h"
#include "bench_signal.h"
#include "dspfx/dspfx.h"

#ifdef DSPFX_HAVE_SOUNDTOUCH
#include <soundtouch/SoundTouch.h>
#endif

namespace {

using namespace dspfx::bench;

constexpr float kGrainTime = 0.04f;
constexpr float kHopTime = 0.01f;

void stretchLibrary(benchmark::State& state, float scale) {
  DspEffect* h = initStretch(kBlockFrames, 2, kRate, scale, 0.0f, kGrainTime, kHopTime);
  if (!h) {
    state.SkipWithError("initStretch failed");
    return;
  }
  std::vector<int16_t> out(size_t{getStretchDstSize(h, kBlockFrames) + 1} * 2);
  streamSignal(state, 2, [&](const int16_t* in) {
    benchmark::DoNotOptimize(doStretch(h, in, out.data(), kBlockFrames * 4));
  });
  termStretch(h);
}

void pitchShiftLibrary(benchmark::State& state, float cents) {
  DspEffect* h = initPitchShift(kBlockFrames, 2, kRate, cents, 0.0f, kGrainTime, kHopTime, 1, 1);
  if (!h) {
    state.SkipWithError("initPitchShift failed");
    return;
  }
  std::vector<int16_t> out(kBlockFrames * 2);
  streamSignal(state, 2, [&](const int16_t* in) {
    benchmark::DoNotOptimize(doPitchShift(h, in, out.data(), kBlockFrames * 4));
  });
  termPitchShift(h);
}

#ifdef DSPFX_HAVE_SOUNDTOUCH
// tempo: output speed (2 halves the duration); semitones: pitch change.
void soundTouch(benchmark::State& state, double tempo, double semitones) {
  soundtouch::SoundTouch st;
  st.setSampleRate(kRate);
  st.setChannels(2);
  st.setTempo(tempo);
  st.setPitchSemiTones(semitones);
  const uint32_t outCapacity = kBlockFrames * 4;
  std::vector<float> in(kBlockFrames * 2), out(size_t{outCapacity} * 2);
  std::vector<int16_t> pcm(out.size());
  streamSignal(state, 2, [&](const int16_t* block) {
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
  });
}
#endif

// Tool defaults: open at -30 dB, close at -45 dB, 10 % rise, 50 ms minimum.
void waveSliceLibrary(benchmark::State& state) {
  DspEffect* h = initWaveSlice(kBlockFrames, 2, kRate, -30.0f, -45.0f, 10.0f, 0.05f);
  if (!h) {
    state.SkipWithError("initWaveSlice failed");
    return;
  }
  streamSignal(state, 2, [&](const int16_t* in) { benchmark::DoNotOptimize(doWaveSlice(h, in, kBlockFrames * 4)); });
  reportCost(state, "s/sample", 2.0 * kWholeBlockFrames);
  termWaveSlice(h);
}

const bool registered = [] {
  for (int scale : {1000, -1000}) {
    const std::string kase = std::to_string(scale);
    row("doStretch", kase, "dspfx", [scale](benchmark::State& s) { stretchLibrary(s, static_cast<float>(scale)); })
        ->Unit(benchmark::kMillisecond);
#ifdef DSPFX_HAVE_SOUNDTOUCH
    const double tempo = scale > 0 ? 2.0 : 0.5;
    row("doStretch", kase, "soundtouch", [tempo](benchmark::State& s) { soundTouch(s, tempo, 0.0); })
        ->Unit(benchmark::kMillisecond);
#else
    missingPeer("doStretch", kase, "soundtouch", "SoundTouch not installed");
#endif
  }
  for (int cents : {1200, -1200}) {
    const std::string kase = std::to_string(cents);
    row("doPitchShift", kase, "dspfx",
        [cents](benchmark::State& s) { pitchShiftLibrary(s, static_cast<float>(cents)); })
        ->Unit(benchmark::kMillisecond);
#ifdef DSPFX_HAVE_SOUNDTOUCH
    const double semitones = cents / 100.0;
    row("doPitchShift", kase, "soundtouch", [semitones](benchmark::State& s) { soundTouch(s, 1.0, semitones); })
        ->Unit(benchmark::kMillisecond);
#else
    missingPeer("doPitchShift", kase, "soundtouch", "SoundTouch not installed");
#endif
  }
  row("doWaveSlice", "stereo", "dspfx", waveSliceLibrary)->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
