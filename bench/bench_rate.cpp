// Rate conversion 44100 -> 48000 Hz and the IIR filter on the shared signal
// in 4096-frame blocks, PCM in and PCM out. With libsamplerate or soxr
// installed, the same signal goes through their converters on equal terms
// (16-bit in, 16-bit out, the same blocks, one thread).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "bench_rows.h"
#include "bench_signal.h"
#include "dspfx/dspfx.h"
#include "dsp/biquad_cascade.h"

#ifdef DSPFX_HAVE_SAMPLERATE
#include <samplerate.h>
#endif
#ifdef DSPFX_HAVE_SOXR
#include <soxr.h>
#endif

namespace {

using namespace dspfx::bench;

constexpr uint32_t kDstRate = 48000;
constexpr const char* kRateCase = "44100-48000";

void resamplerLibrary(benchmark::State& state, int32_t interpolation) {
  DspEffect* h = initResampler(kBlockFrames, 2, 2, kRate, kDstRate, interpolation, 60.0f, 60.0f, 1);
  if (!h) {
    state.SkipWithError("initResampler failed");
    return;
  }
  std::vector<int16_t> out(size_t{getResamplerDstSize(h, kBlockFrames)} * 2);
  streamSignal(state, 2, [&](const int16_t* in) {
    benchmark::DoNotOptimize(doResampler(h, in, out.data(), kBlockFrames * 4));
  });
  termResampler(h);
}

#ifdef DSPFX_HAVE_SAMPLERATE
// Conversions to and from float inside the loop, as the library does them.
void resamplerLibsamplerate(benchmark::State& state) {
  int error = 0;
  SRC_STATE* src = src_new(SRC_LINEAR, 2, &error);
  if (!src) {
    state.SkipWithError(src_strerror(error));
    return;
  }
  const double ratio = static_cast<double>(kDstRate) / kRate;
  const long outCapacity = static_cast<long>(kBlockFrames * ratio) + 64;
  std::vector<float> in(kBlockFrames * 2), out(static_cast<size_t>(outCapacity) * 2);
  std::vector<int16_t> pcm(out.size());
  streamSignal(state, 2, [&](const int16_t* block) {
    src_short_to_float_array(block, in.data(), kBlockFrames * 2);
    SRC_DATA data{};
    data.data_in = in.data();
    data.input_frames = kBlockFrames;
    data.src_ratio = ratio;
    while (data.input_frames > 0) {
      data.data_out = out.data();
      data.output_frames = outCapacity;
      if (src_process(src, &data) != 0) break;
      src_float_to_short_array(out.data(), pcm.data(), static_cast<int>(data.output_frames_gen * 2));
      benchmark::DoNotOptimize(pcm.data());
      data.data_in += data.input_frames_used * 2;
      data.input_frames -= data.input_frames_used;
      if (data.input_frames_used == 0 && data.output_frames_gen == 0) break;
    }
  });
  src_delete(src);
}
#endif

#ifdef DSPFX_HAVE_SOXR
// The quick (cubic) quality, 16-bit interleaved on both sides.
void resamplerSoxr(benchmark::State& state) {
  const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_QQ, 0);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  soxr_error_t error = nullptr;
  soxr_t soxr = soxr_create(kRate, kDstRate, 2, &error, &io, &quality, &runtime);
  if (!soxr) {
    state.SkipWithError(error ? error : "soxr_create failed");
    return;
  }
  const size_t outCapacity = kBlockFrames * kDstRate / kRate + 64;
  std::vector<int16_t> out(outCapacity * 2);
  streamSignal(state, 2, [&](const int16_t* block) {
    size_t left = kBlockFrames;
    while (left > 0) {
      size_t used = 0, made = 0;
      if (soxr_process(soxr, block, left, &used, out.data(), outCapacity, &made) != nullptr) break;
      benchmark::DoNotOptimize(out.data());
      block += used * 2;
      left -= used;
      if (used == 0 && made == 0) break;
    }
  });
  soxr_delete(soxr);
}
#endif

constexpr int32_t kIirOrder = 8;
constexpr float kIirCutoff = 5000.0f;

void iirLibrary(benchmark::State& state) {
  DspEffect* h = initIirFilter(kBlockFrames, 1, kRate, kIirOrder, kIirCutoff, 0);
  if (!h) {
    state.SkipWithError("initIirFilter failed");
    return;
  }
  std::vector<int16_t> out(kBlockFrames);
  streamSignal(state, 1, [&](const int16_t* in) {
    benchmark::DoNotOptimize(doIirFilter(h, in, out.data(), kBlockFrames * 2));
  });
  termIirFilter(h);
}

// The same sections run the plain way: each one over the whole block in
// double before the next, so every sample waits on the one before it in the
// same section. That serial chain is what bounds any direct-form cascade.
class SerialBiquads {
 public:
  SerialBiquads() {
    dspfx::ChebyshevCascade design;
    design.setOrder(kIirOrder, dspfx::kLowPass);
    design.design(static_cast<float>(kRate), kIirCutoff);
    for (int32_t i = 0; i < design.sections; ++i) {
      sections_.push_back({design.b0[i], design.b1[i], design.b2[i], design.a1[i], design.a2[i], 0.0, 0.0});
    }
  }

  void run(const int16_t* in, int16_t* out, uint32_t frames) {
    for (uint32_t n = 0; n < frames; ++n) x_[n] = in[n] * (1.0 / 32767.0);
    for (Section& s : sections_) {
      double w1 = s.w1, w2 = s.w2;
      for (uint32_t n = 0; n < frames; ++n) {
        // Feedback coefficients are stored negated, as the design gives them.
        const double w = (s.a2 * w2 + s.a1 * w1) + x_[n];
        x_[n] = s.b0 * w + (s.b2 * w2 + s.b1 * w1);
        w2 = w1;
        w1 = w;
      }
      s.w1 = w1;
      s.w2 = w2;
    }
    for (uint32_t n = 0; n < frames; ++n) {
      out[n] = static_cast<int16_t>(std::clamp(x_[n], -1.0, 1.0) * 32767.0);
    }
  }

 private:
  struct Section {
    double b0, b1, b2, a1, a2, w1, w2;
  };
  std::vector<Section> sections_;
  std::vector<double> x_ = std::vector<double>(kBlockFrames);
};

// The largest difference in LSB between the two over the first second, with
// the library's scalar forms: it rounds its input and output through float,
// so 1 is expected.
int iirDifference() {
  scalarFormsOnly();
  DspEffect* h = initIirFilter(kBlockFrames, 1, kRate, kIirOrder, kIirCutoff, 0);
  if (!h) {
    enableAllForms();
    return 1 << 16;
  }
  SerialBiquads peer;
  std::vector<int16_t> ours(kBlockFrames), theirs(kBlockFrames);
  int worst = 0;
  for (uint32_t at = 0; at + kBlockFrames <= kRate; at += kBlockFrames) {
    const int16_t* in = testSignalLeft().data() + at;
    doIirFilter(h, in, ours.data(), kBlockFrames * 2);
    peer.run(in, theirs.data(), kBlockFrames);
    for (uint32_t i = 0; i < kBlockFrames; ++i) worst = std::max(worst, std::abs(ours[i] - theirs[i]));
  }
  termIirFilter(h);
  enableAllForms();
  return worst;
}

void iirSerialBiquads(benchmark::State& state) {
  // Google Benchmark calls a row several times while it sizes the run.
  static const int difference = iirDifference();
  if (difference > 1) {
    state.SkipWithError("the serial biquads differ from doIirFilter by more than 1 LSB");
    return;
  }
  SerialBiquads peer;
  std::vector<int16_t> out(kBlockFrames);
  streamSignal(state, 1, [&](const int16_t* in) {
    peer.run(in, out.data(), kBlockFrames);
    benchmark::DoNotOptimize(out.data());
  });
}

const bool registered = [] {
  row("doResampler", kRateCase, "dspfx-linear", [](benchmark::State& s) { resamplerLibrary(s, 0); })
      ->Unit(benchmark::kMillisecond);
  row("doResampler", kRateCase, "dspfx-cubic", [](benchmark::State& s) { resamplerLibrary(s, 1); })
      ->Unit(benchmark::kMillisecond);
#ifdef DSPFX_HAVE_SAMPLERATE
  row("doResampler", kRateCase, "libsamplerate-linear", resamplerLibsamplerate)->Unit(benchmark::kMillisecond);
#else
  missingPeer("doResampler", kRateCase, "libsamplerate-linear", "libsamplerate not installed");
#endif
#ifdef DSPFX_HAVE_SOXR
  row("doResampler", kRateCase, "soxr-quick", resamplerSoxr)->Unit(benchmark::kMillisecond);
#else
  missingPeer("doResampler", kRateCase, "soxr-quick", "soxr not installed");
#endif
  row("doIirFilter", "order8-mono", "dspfx", iirLibrary)->Unit(benchmark::kMillisecond);
  row("doIirFilter", "order8-mono", "biquads", iirSerialBiquads)->Unit(benchmark::kMillisecond);
  return true;
}();

}  // namespace
