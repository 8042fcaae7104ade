// The real FFT at 256 ... 32768 points in ns per transform, and the
// analysers on the shared stereo signal in blocks per second. When FFTW
// (single precision) or KissFFT are installed, their real forward
// transforms of the same sizes run in the same binary, so the ratios come
// from one run on one machine.
//
// realFft works in place, and an unscaled transform repeated on its own
// output overflows within a few dozen runs, so every timed transform first
// copies the input in; BM_copyOnly measures that copy. The peers transform
// out of place from an input they leave intact, so they need no copy.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/real_fft.h"
#include "bench_signal.h"
#include "dspfx/dspfx.h"

#ifdef DSPFX_HAVE_FFTW3F
#include <fftw3.h>
#endif
#ifdef DSPFX_HAVE_KISSFFT_FLOAT
#include <kissfft/kiss_fftr.h>
#endif

namespace {

using namespace dspfx::bench;

std::vector<float> fftInput(size_t n) {
  std::vector<float> x(n);
  const std::vector<int16_t>& s = testSignal();
  for (size_t i = 0; i < n; ++i) x[i] = static_cast<float>(s[2 * i] / 32767.0);
  return x;
}

void reportTransforms(benchmark::State& state) {
  state.counters["ns/transform"] = benchmark::Counter(
      1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_realFft(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const std::vector<float> x = fftInput(n);
  std::vector<float> data(n), table(dspfx::kFftTableFloats);
  std::vector<int32_t> work(dspfx::kFftWorkInts, 0);
  for (auto _ : state) {
    std::memcpy(data.data(), x.data(), n * sizeof(float));
    dspfx::realFft(static_cast<int32_t>(n), data.data(), work.data(), table.data());
    benchmark::DoNotOptimize(data.data());
    benchmark::ClobberMemory();
  }
  reportTransforms(state);
}
BENCHMARK(BM_realFft)->Arg(256)->Arg(1024)->Arg(4096)->Arg(32768);

void BM_copyOnly(benchmark::State& state) {
  const auto n = static_cast<size_t>(state.range(0));
  const std::vector<float> x = fftInput(n);
  std::vector<float> data(n);
  for (auto _ : state) {
    std::memcpy(data.data(), x.data(), n * sizeof(float));
    benchmark::DoNotOptimize(data.data());
    benchmark::ClobberMemory();
  }
  reportTransforms(state);
}
BENCHMARK(BM_copyOnly)->Arg(256)->Arg(1024)->Arg(4096)->Arg(32768);

#ifdef DSPFX_HAVE_FFTW3F
void BM_fftwR2c(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  float* in = fftwf_alloc_real(static_cast<size_t>(n));
  fftwf_complex* out = fftwf_alloc_complex(static_cast<size_t>(n / 2 + 1));
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
  const std::vector<float> x = fftInput(static_cast<size_t>(n));
  std::memcpy(in, x.data(), x.size() * sizeof(float));  // planning scribbles on in
  for (auto _ : state) {
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  reportTransforms(state);
  fftwf_destroy_plan(plan);
  fftwf_free(out);
  fftwf_free(in);
}
BENCHMARK(BM_fftwR2c)->Arg(256)->Arg(1024)->Arg(4096)->Arg(32768);
#endif

#ifdef DSPFX_HAVE_KISSFFT_FLOAT
void BM_kissFftr(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  kiss_fftr_cfg cfg = kiss_fftr_alloc(n, 0, nullptr, nullptr);
  const std::vector<float> x = fftInput(static_cast<size_t>(n));
  std::vector<kiss_fft_cpx> out(static_cast<size_t>(n / 2 + 1));
  for (auto _ : state) {
    kiss_fftr(cfg, x.data(), out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  reportTransforms(state);
  kiss_fftr_free(cfg);
}
BENCHMARK(BM_kissFftr)->Arg(256)->Arg(1024)->Arg(4096)->Arg(32768);
#endif

// One block of the shared stereo signal per iteration, a different block
// each time; items/s are blocks per second.
template <class Call>
void runBlocks(benchmark::State& state, uint32_t blockFrames, Call&& call) {
  const std::vector<int16_t>& s = testSignal();
  const size_t blocks = s.size() / 2 / blockFrames;
  size_t b = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(call(s.data() + b * blockFrames * 2));
    benchmark::ClobberMemory();
    b = (b + 1) % blocks;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void BM_doFft(benchmark::State& state) {
  const auto size = static_cast<uint32_t>(state.range(0));
  const auto spectra = static_cast<uint32_t>(state.range(1));
  DspEffect* h = initFft(size, 2, spectra, 120);
  if (!h) {
    state.SkipWithError("initFft failed");
    return;
  }
  std::vector<float> out(size);
  runBlocks(state, size, [&](const int16_t* in) { return doFft(h, in, out.data(), size * 4); });
  state.SetLabel(spectra == 1 ? "stereo, downmix" : "stereo, two spectra");
  termFft(h);
}
BENCHMARK(BM_doFft)->Args({1024, 1})->Args({1024, 2})->Args({4096, 1})->Args({4096, 2});

void BM_doFftAnalyze(benchmark::State& state) {
  const auto size = static_cast<uint32_t>(state.range(0));
  // Half-overlapping spectra: blocks of half the transform.
  DspEffect* h = initFftAnalyze(size / 2, 2, size, size);
  if (!h) {
    state.SkipWithError("initFftAnalyze failed");
    return;
  }
  std::vector<float> out(size);
  runBlocks(state, size / 2, [&](const int16_t* in) { return doFftAnalyze(h, in, out.data(), size * 2); });
  state.SetLabel("stereo, hop = size/2");
  termFftAnalyze(h);
}
BENCHMARK(BM_doFftAnalyze)->Arg(1024)->Arg(4096);

void BM_doEnvAnalyze(benchmark::State& state) {
  constexpr uint32_t kBlock = 4096;
  DspEffect* h = initEnvAnalyze(kBlock, 2, kRate);
  if (!h) {
    state.SkipWithError("initEnvAnalyze failed");
    return;
  }
  std::vector<float> out(2 * kBlock);
  runBlocks(state, kBlock, [&](const int16_t* in) { return doEnvAnalyze(h, in, out.data(), kBlock * 4); });
  reportRealTime(state, kBlock);
  termEnvAnalyze(h);
}
BENCHMARK(BM_doEnvAnalyze);

}  // namespace
