// Rate conversion 44100 -> 48000 Hz and the IIR filter on the shared stereo
// signal in 4096-frame blocks, PCM in and PCM out. When libsamplerate is
// installed, the same signal goes through two of its converters in the same
// binary, so the ratios come from one run on one machine.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_signal.h"
#include "dspfx/dspfx.h"

#ifdef DSPFX_HAVE_SAMPLERATE
#include <samplerate.h>
#endif

namespace {

using namespace dspfx::bench;

constexpr uint32_t kBlockFrames = 4096;
constexpr uint32_t kDstRate = 48000;

uint32_t wholeBlocksFrames() {
  return static_cast<uint32_t>(testSignal().size() / 2) / kBlockFrames * kBlockFrames;
}

void BM_doResampler(benchmark::State& state) {
  const auto interpolation = static_cast<int32_t>(state.range(0));
  DspEffect* h =
      initResampler(kBlockFrames, 2, 2, kRate, kDstRate, interpolation, 60.0f, 60.0f, 1);
  if (!h) {
    state.SkipWithError("initResampler failed");
    return;
  }
  const std::vector<int16_t>& signal = testSignal();
  const uint32_t frames = wholeBlocksFrames();
  std::vector<int16_t> out(size_t{getResamplerDstSize(h, kBlockFrames)} * 2);
  for (auto _ : state) {
    for (uint32_t at = 0; at < frames; at += kBlockFrames) {
      benchmark::DoNotOptimize(
          doResampler(h, signal.data() + size_t{at} * 2, out.data(), kBlockFrames * 4));
      benchmark::ClobberMemory();
    }
  }
  state.SetLabel(interpolation == 0 ? "linear, anti-alias" : "cubic, anti-alias");
  reportRealTime(state, frames);
  termResampler(h);
}
BENCHMARK(BM_doResampler)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_doIirFilter(benchmark::State& state) {
  const auto order = static_cast<int32_t>(state.range(0));
  DspEffect* h = initIirFilter(kBlockFrames, 2, kRate, order, 5000.0f, 0);
  if (!h) {
    state.SkipWithError("initIirFilter failed");
    return;
  }
  const std::vector<int16_t>& signal = testSignal();
  const uint32_t frames = wholeBlocksFrames();
  std::vector<int16_t> out(kBlockFrames * 2);
  for (auto _ : state) {
    for (uint32_t at = 0; at < frames; at += kBlockFrames) {
      benchmark::DoNotOptimize(
          doIirFilter(h, signal.data() + size_t{at} * 2, out.data(), kBlockFrames * 4));
      benchmark::ClobberMemory();
    }
  }
  reportRealTime(state, frames);
  termIirFilter(h);
}
BENCHMARK(BM_doIirFilter)->Arg(8)->Unit(benchmark::kMillisecond);

#ifdef DSPFX_HAVE_SAMPLERATE
// The peer on equal terms: 16-bit stereo in, 16-bit stereo out, 4096-frame
// blocks, conversions to and from float inside the loop.
void BM_libsamplerate(benchmark::State& state) {
  const auto type = static_cast<int>(state.range(0));
  int error = 0;
  SRC_STATE* src = src_new(type, 2, &error);
  if (!src) {
    state.SkipWithError(src_strerror(error));
    return;
  }
  const std::vector<int16_t>& signal = testSignal();
  const uint32_t frames = wholeBlocksFrames();
  const double ratio = static_cast<double>(kDstRate) / kRate;
  const long outCapacity = static_cast<long>(kBlockFrames * ratio) + 64;
  std::vector<float> in(kBlockFrames * 2), out(static_cast<size_t>(outCapacity) * 2);
  std::vector<int16_t> pcm(out.size());
  for (auto _ : state) {
    src_reset(src);
    for (uint32_t at = 0; at < frames; at += kBlockFrames) {
      src_short_to_float_array(signal.data() + size_t{at} * 2, in.data(), kBlockFrames * 2);
      SRC_DATA data{};
      data.data_in = in.data();
      data.input_frames = kBlockFrames;
      data.src_ratio = ratio;
      while (data.input_frames > 0) {
        data.data_out = out.data();
        data.output_frames = outCapacity;
        if (src_process(src, &data) != 0) break;
        src_float_to_short_array(out.data(), pcm.data(),
                                 static_cast<int>(data.output_frames_gen * 2));
        benchmark::DoNotOptimize(pcm.data());
        data.data_in += data.input_frames_used * 2;
        data.input_frames -= data.input_frames_used;
        if (data.input_frames_used == 0 && data.output_frames_gen == 0) break;
      }
    }
  }
  state.SetLabel(src_get_name(type));
  reportRealTime(state, frames);
  src_delete(src);
}
BENCHMARK(BM_libsamplerate)->Arg(SRC_LINEAR)->Arg(SRC_SINC_FASTEST)->Unit(benchmark::kMillisecond);
#else
void BM_libsamplerate(benchmark::State& state) {
  state.SkipWithError("libsamplerate not installed");
}
BENCHMARK(BM_libsamplerate);
#endif

}  // namespace
