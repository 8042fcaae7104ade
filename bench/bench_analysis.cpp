// The real FFT alone at 256 ... 32768 points, the block spectrum analyser
// (doFft) at 1024 and 4096, and the envelope follower. With FFTW (single
// precision) or KissFFT installed their real forward transforms run beside
// the library's, and doFft's whole pipeline is rebuilt around FFTW's.
//
// realFft works in place, and an unscaled transform repeated on its own
// output overflows within a few dozen runs, so every timed library transform
// first copies its frame in; the peers transform out of place from an input
// they leave intact and get no such copy. The library pays for the copy.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <numbers>
#include <string>
#include <vector>

#include "dsp/real_fft.h"
#include "bench_rows.h"
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

void reportTransforms(benchmark::State& state) { reportCost(state, "s/transform", 1.0); }

void realFftLibrary(benchmark::State& state, size_t n) {
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

#ifdef DSPFX_HAVE_FFTW3F
void realFftFftw(benchmark::State& state, size_t n) {
  float* in = fftwf_alloc_real(n);
  fftwf_complex* out = fftwf_alloc_complex(n / 2 + 1);
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(static_cast<int>(n), in, out, FFTW_MEASURE);
  const std::vector<float> x = fftInput(n);
  std::memcpy(in, x.data(), n * sizeof(float));  // planning scribbles on in
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
#endif

#ifdef DSPFX_HAVE_KISSFFT_FLOAT
void realFftKiss(benchmark::State& state, size_t n) {
  kiss_fftr_cfg cfg = kiss_fftr_alloc(static_cast<int>(n), 0, nullptr, nullptr);
  const std::vector<float> x = fftInput(n);
  std::vector<kiss_fft_cpx> out(n / 2 + 1);
  for (auto _ : state) {
    kiss_fftr(cfg, x.data(), out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  reportTransforms(state);
  kiss_fftr_free(cfg);
}
#endif

// One block of the signal per iteration, a different block each time.
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
  reportRealTime(state, blockFrames);
}

constexpr uint32_t kFloorDb = 120;

// Stereo in, one spectrum of the downmix out.
void doFftLibrary(benchmark::State& state, uint32_t size) {
  DspEffect* h = initFft(size, 2, 1, kFloorDb);
  if (!h) {
    state.SkipWithError("initFft failed");
    return;
  }
  std::vector<float> out(size / 2);
  runBlocks(state, size, [&](const int16_t* in) { return doFft(h, in, out.data(), size * 4); });
  termFft(h);
}

#ifdef DSPFX_HAVE_FFTW3F
// doFft's pipeline with FFTW's transform in the middle: the same downmix,
// raised-cosine window, transform and floored dB of each bin, bin 0 holding
// both 0 Hz and half the rate, written as a host would write it.
class FftwSpectrum {
 public:
  explicit FftwSpectrum(uint32_t size)
      : n_(size), in_(fftwf_alloc_real(size)), out_(fftwf_alloc_complex(size / 2 + 1)), window_(size) {
    plan_ = fftwf_plan_dft_r2c_1d(static_cast<int>(size), in_, out_, FFTW_MEASURE);
    const double step = 2.0 * std::numbers::pi / size;
    for (uint32_t i = 0; i < size; ++i) window_[i] = static_cast<float>(0.5 * (1.0 - std::cos(step * (i - 0.5))));
  }
  ~FftwSpectrum() {
    fftwf_destroy_plan(plan_);
    fftwf_free(out_);
    fftwf_free(in_);
  }
  FftwSpectrum(const FftwSpectrum&) = delete;
  FftwSpectrum& operator=(const FftwSpectrum&) = delete;

  uint32_t run(const int16_t* pcm, float* db) {
    constexpr float kScale = 1.0f / 32767.0f;
    for (uint32_t i = 0; i < n_; ++i) {
      const int32_t mid = (int32_t{pcm[2 * i]} + pcm[2 * i + 1]) >> 1;
      in_[i] = static_cast<float>(mid) * kScale * window_[i];
    }
    fftwf_execute(plan_);
    const uint32_t bins = n_ / 2;
    for (uint32_t k = 0; k < bins; ++k) {
      const double re = out_[k][0];
      const double im = k == 0 ? out_[bins][0] : out_[k][1];
      const double power = re * re + im * im;
      // 10 log10(power) through the natural logarithm, as the library does.
      double value = power == 0.0 ? -double{kFloorDb} : 4.3429448190325182765 * std::log(power);
      if (value < -double{kFloorDb}) value = -double{kFloorDb};
      db[k] = static_cast<float>(value);
    }
    return bins;
  }

 private:
  uint32_t n_;
  float* in_;
  fftwf_complex* out_;
  fftwf_plan plan_;
  std::vector<float> window_;
};

// The largest difference in dB between the two pipelines on the first
// block, over the bins within 60 dB of its peak, with the library's scalar
// forms. The two transforms round differently by about 1e-7 of the peak,
// which moves those bins by up to about 1e-4 dB; 0.001 dB is allowed.
double pipelineDifferenceDb(uint32_t size) {
  scalarFormsOnly();
  DspEffect* h = initFft(size, 2, 1, kFloorDb);
  std::vector<float> ours(size / 2), theirs(size / 2);
  if (h) doFft(h, testSignal().data(), ours.data(), size * 4);
  termFft(h);
  enableAllForms();
  if (!h) return INFINITY;
  FftwSpectrum peer(size);
  peer.run(testSignal().data(), theirs.data());
  float peak = -INFINITY;
  for (float v : ours) peak = std::max(peak, v);
  double worst = 0.0;
  for (uint32_t k = 0; k < size / 2; ++k) {
    if (ours[k] > peak - 60.0f) worst = std::max(worst, std::fabs(double{ours[k]} - theirs[k]));
  }
  return worst;
}

void doFftFftw(benchmark::State& state, uint32_t size) {
  // Google Benchmark calls a row several times while it sizes the run.
  static std::map<uint32_t, double> difference;
  if (!difference.count(size)) difference[size] = pipelineDifferenceDb(size);
  if (difference[size] > 0.001) {
    state.SkipWithError("the FFTW pipeline's spectrum differs from doFft's by more than 0.001 dB");
    return;
  }
  FftwSpectrum peer(size);
  std::vector<float> out(size / 2);
  runBlocks(state, size, [&](const int16_t* in) { return peer.run(in, out.data()); });
}
#endif

void doEnvAnalyzeLibrary(benchmark::State& state) {
  DspEffect* h = initEnvAnalyze(kBlockFrames, 2, kRate);
  if (!h) {
    state.SkipWithError("initEnvAnalyze failed");
    return;
  }
  std::vector<float> out(2 * kBlockFrames);
  streamSignal(state, 2, [&](const int16_t* in) { doEnvAnalyze(h, in, out.data(), kBlockFrames * 4); });
  reportCost(state, "s/sample", 2.0 * kWholeBlockFrames);
  termEnvAnalyze(h);
}

const bool registered = [] {
  for (size_t n : {256u, 1024u, 4096u, 32768u}) {
    const std::string kase = std::to_string(n);
    row("realFft", kase, "dspfx", [n](benchmark::State& s) { realFftLibrary(s, n); });
#ifdef DSPFX_HAVE_FFTW3F
    row("realFft", kase, "fftw", [n](benchmark::State& s) { realFftFftw(s, n); });
#else
    missingPeer("realFft", kase, "fftw", "FFTW (fftw3f) not installed");
#endif
#ifdef DSPFX_HAVE_KISSFFT_FLOAT
    row("realFft", kase, "kissfft", [n](benchmark::State& s) { realFftKiss(s, n); });
#else
    missingPeer("realFft", kase, "kissfft", "KissFFT (kissfft-float) not installed");
#endif
  }
  for (uint32_t size : {1024u, 4096u}) {
    const std::string kase = std::to_string(size);
    row("doFft", kase, "dspfx", [size](benchmark::State& s) { doFftLibrary(s, size); });
#ifdef DSPFX_HAVE_FFTW3F
    row("doFft", kase, "fftw", [size](benchmark::State& s) { doFftFftw(s, size); });
#else
    missingPeer("doFft", kase, "fftw", "FFTW (fftw3f) not installed");
#endif
  }
  row("doEnvAnalyze", "stereo", "dspfx", doEnvAnalyzeLibrary)->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
