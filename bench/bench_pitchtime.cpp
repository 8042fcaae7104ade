// Granular time stretch at scales 1000 (half the duration) and -1000
// (twice) and pitch shift at +1200 and -1200 cents (cubic, anti-alias on),
// grains of 0.04 s every 0.01 s, and the wave slicer, on the shared stereo
// signal in 4096-frame blocks, PCM in and PCM out; rates count input frames.
// With SoundTouch installed the same tempo and pitch changes run through it
// with the same 16-bit conversions inside the loop. The "dspfx-aligned"
// rows run the aligned grains (mode 1) on the same cases.
//
// The pitchtimeQuality rows measure, once each, how the library's two
// modes and the peers keep steady tones (pitchtime_quality.h) and report
// the figures as counters, with the processing's CPU seconds.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench_rows.h"
#include "bench_signal.h"
#include "dspfx/dspfx.h"
#include "pitchtime_quality.h"

#ifdef DSPFX_HAVE_SOUNDTOUCH
#include <soundtouch/SoundTouch.h>
#endif
#ifdef DSPFX_HAVE_RUBBERBAND
#include <rubberband/RubberBandStretcher.h>
#endif

namespace {

using namespace dspfx::bench;

constexpr float kGrainTime = 0.04f;
constexpr float kHopTime = 0.01f;

void stretchLibrary(benchmark::State& state, float scale, uint32_t mode) {
  DspEffect* h = initStretch(kBlockFrames, 2, kRate, scale, 0.0f, kGrainTime, kHopTime);
  if (!h || setStretchMode(h, mode) != 1) {
    state.SkipWithError("initStretch failed");
    return;
  }
  std::vector<int16_t> out(size_t{getStretchDstSize(h, kBlockFrames) + 1} * 2);
  streamSignal(state, 2, [&](const int16_t* in) {
    benchmark::DoNotOptimize(doStretch(h, in, out.data(), kBlockFrames * 4));
  });
  termStretch(h);
}

void pitchShiftLibrary(benchmark::State& state, float cents, uint32_t mode) {
  DspEffect* h = initPitchShift(kBlockFrames, 2, kRate, cents, 0.0f, kGrainTime, kHopTime, 1, 1);
  if (!h || setPitchShiftMode(h, mode) != 1) {
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

// The library through its exports with the tool's grain settings, PCM in
// and out; mode 0 or 1.
std::vector<float> qualityLibrary(const QualityCase& c, const std::vector<int16_t>& in, uint32_t mode,
                                  double& cpu) {
  DspEffect* h = nullptr;
  uint32_t outCapacity = kQualityBlock;
  if (c.stretch) {
    h = initStretch(kQualityBlock, 1, kQualityRate, static_cast<float>(-1000.0 * std::log2(c.amount)), 0.0f,
                    kGrainTime, kHopTime);
    if (h && setStretchMode(h, mode) != 1) h = nullptr;
    if (h) outCapacity = getStretchDstSize(h, kQualityBlock) + 1;
  } else {
    h = initPitchShift(kQualityBlock, 1, kQualityRate, static_cast<float>(100.0 * c.amount), 0.0f, kGrainTime,
                       kHopTime, 1, 1);
    if (h && setPitchShiftMode(h, mode) != 1) h = nullptr;
  }
  std::vector<float> out;
  if (!h) return out;
  std::vector<int16_t> block(outCapacity);
  std::vector<int16_t> all;
  all.reserve(static_cast<size_t>(in.size() * c.lengthRatio()) + kQualityBlock);
  const double start = cpuSeconds();
  for (size_t at = 0; at < in.size(); at += kQualityBlock) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(kQualityBlock, in.size() - at));
    uint32_t frames = n;
    if (c.stretch) {
      frames = doStretch(h, in.data() + at, block.data(), 2 * n) / 2;
    } else {
      doPitchShift(h, in.data() + at, block.data(), 2 * n);
    }
    all.insert(all.end(), block.begin(), block.begin() + frames);
  }
  cpu = cpuSeconds() - start;
  c.stretch ? termStretch(h) : termPitchShift(h);
  out.resize(all.size());
  for (size_t i = 0; i < all.size(); ++i) out[i] = all[i] / 32767.0f;
  return out;
}

// Rounded to the 16-bit grid the library's output has.
inline float toPcmGrid(float v) {
  const float s = std::clamp(v * 32767.0f, -32768.0f, 32767.0f);
  return std::nearbyint(s) / 32767.0f;
}

#ifdef DSPFX_HAVE_SOUNDTOUCH
std::vector<float> qualitySoundTouch(const QualityCase& c, const std::vector<int16_t>& in, double& cpu) {
  soundtouch::SoundTouch st;
  st.setSampleRate(kQualityRate);
  st.setChannels(1);
  if (c.stretch) {
    st.setTempo(1.0 / c.amount);
  } else {
    st.setPitchSemiTones(c.amount);
  }
  std::vector<float> block(kQualityBlock), got(kQualityBlock * 4), out;
  const double start = cpuSeconds();
  auto drain = [&] {
    for (uint32_t n; (n = st.receiveSamples(got.data(), kQualityBlock * 4)) != 0;) {
      for (uint32_t i = 0; i < n; ++i) out.push_back(toPcmGrid(got[i]));
    }
  };
  for (size_t at = 0; at < in.size(); at += kQualityBlock) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(kQualityBlock, in.size() - at));
    for (uint32_t i = 0; i < n; ++i) block[i] = in[at + i] / 32768.0f;
    st.putSamples(block.data(), n);
    drain();
  }
  st.flush();
  drain();
  cpu = cpuSeconds() - start;
  return out;
}
#endif

#ifdef DSPFX_HAVE_RUBBERBAND
// The finer (R3) engine in real-time mode, block by block like the others.
std::vector<float> qualityRubberBand(const QualityCase& c, const std::vector<int16_t>& in, double& cpu) {
  using RB = RubberBand::RubberBandStretcher;
  RB rb(kQualityRate, 1, RB::OptionProcessRealTime | RB::OptionEngineFiner, c.lengthRatio(), c.pitchRatio());
  rb.setMaxProcessSize(kQualityBlock);
  std::vector<float> block(kQualityBlock), got(kQualityBlock * 4), out;
  const double start = cpuSeconds();
  auto drain = [&] {
    for (int avail; (avail = rb.available()) > 0;) {
      float* p = got.data();
      const size_t n = rb.retrieve(&p, std::min<size_t>(static_cast<size_t>(avail), got.size()));
      for (size_t i = 0; i < n; ++i) out.push_back(toPcmGrid(got[i]));
    }
  };
  for (size_t at = 0; at < in.size(); at += kQualityBlock) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(kQualityBlock, in.size() - at));
    for (uint32_t i = 0; i < n; ++i) block[i] = in[at + i] / 32768.0f;
    const float* p = block.data();
    rb.process(&p, n, at + n >= in.size());
    drain();
  }
  drain();
  cpu = cpuSeconds() - start;
  return out;
}
#endif

void qualityRow(benchmark::State& state, const QualityCase& c, const QualitySignal& sig, const std::string& impl) {
  const std::vector<int16_t> in = qualityInput(sig);
  QualityResult r;
  for (auto _ : state) {
    double cpu = 0.0;
    std::vector<float> out;
    if (impl == "dspfx") out = qualityLibrary(c, in, 1, cpu);
    if (impl == "dspfx-grains") out = qualityLibrary(c, in, 0, cpu);
#ifdef DSPFX_HAVE_SOUNDTOUCH
    if (impl == "soundtouch") out = qualitySoundTouch(c, in, cpu);
#endif
#ifdef DSPFX_HAVE_RUBBERBAND
    if (impl == "rubberband-finer") out = qualityRubberBand(c, in, cpu);
#endif
    if (out.empty()) {
      state.SkipWithError("no output");
      return;
    }
    r = measureQuality(c, sig, in, out, cpu);
  }
  state.counters["q_cents"] = r.cents;
  state.counters["q_offDb"] = r.offDb;
  state.counters["q_levelDb"] = r.levelDb;
  state.counters["q_lengthPct"] = r.lengthPct;
  state.counters["q_cpu"] = r.cpuSeconds;
}

const bool registered = [] {
  for (const QualityCase& c : qualityCases()) {
    for (const QualitySignal& sig : qualitySignals()) {
      const std::string kase = c.name + "-" + sig.name;
      std::vector<std::string> impls = {"dspfx", "dspfx-grains"};
#ifdef DSPFX_HAVE_SOUNDTOUCH
      impls.push_back("soundtouch");
#else
      missingPeer("pitchtimeQuality", kase, "soundtouch", "SoundTouch not installed");
#endif
#ifdef DSPFX_HAVE_RUBBERBAND
      impls.push_back("rubberband-finer");
#else
      missingPeer("pitchtimeQuality", kase, "rubberband-finer", "Rubber Band not installed");
#endif
      for (const std::string& impl : impls) {
        row("pitchtimeQuality", kase, impl, [c, sig, impl](benchmark::State& s) { qualityRow(s, c, sig, impl); })
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
      }
    }
  }
  for (int scale : {1000, -1000}) {
    const std::string kase = std::to_string(scale);
    for (uint32_t mode : {0u, 1u}) {
      row("doStretch", kase, mode == 0 ? "dspfx" : "dspfx-aligned",
          [scale, mode](benchmark::State& s) { stretchLibrary(s, static_cast<float>(scale), mode); })
          ->Unit(benchmark::kMillisecond);
    }
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
    for (uint32_t mode : {0u, 1u}) {
      row("doPitchShift", kase, mode == 0 ? "dspfx" : "dspfx-aligned",
          [cents, mode](benchmark::State& s) { pitchShiftLibrary(s, static_cast<float>(cents), mode); })
          ->Unit(benchmark::kMillisecond);
    }
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
