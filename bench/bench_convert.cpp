// Conversion between interleaved 16-bit PCM and planar float, the step at
// both edges of every do call: each processor form beside a plain loop doing
// the same conversion and a memcpy of the same bytes. The PCM side streams
// through the whole 60 s signal in 4096-frame blocks while the float side is
// one block-sized buffer per channel, as in an effect's do call.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench_signal.h"
#include "core/sample_convert.h"
#include "dspfx/dspfx.h"

namespace {

using dspfx::bench::kRate;
using dspfx::bench::kSeconds;

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kFrames = kRate * kSeconds;

enum class Row { kScalar, kSse, k3dnow, kPlainLoop, kMemcpy };

const char* rowName(Row r) {
  switch (r) {
    case Row::kScalar: return "scalar";
    case Row::kSse: return "sse";
    case Row::k3dnow: return "3dnow";
    case Row::kPlainLoop: return "plain_loop";
    case Row::kMemcpy: return "memcpy";
  }
  return "?";
}

void selectForm(Row r) {
  dspEnableMmx(0);
  dspEnable3dnow(r == Row::k3dnow);
  dspEnableSse(r == Row::kSse);
}

// Block-sized buffers from the library's aligned allocator, freed on scope exit.
struct Buffers {
  explicit Buffers(uint32_t frames)
      : left(static_cast<float*>(fastmemAlloc(frames * 4))),
        right(static_cast<float*>(fastmemAlloc(frames * 4))),
        pcm(static_cast<int16_t*>(fastmemAlloc(frames * 4))) {}
  ~Buffers() {
    fastmemFree(left);
    fastmemFree(right);
    fastmemFree(pcm);
  }
  Buffers(const Buffers&) = delete;
  Buffers& operator=(const Buffers&) = delete;
  float* left;
  float* right;
  int16_t* pcm;
};

void plainToFloat(const int16_t* in, uint32_t frames, float* left, float* right, uint32_t channels) {
  constexpr float k = 1.0f / 32767.0f;
  if (channels == 2) {
    for (uint32_t i = 0; i < frames; ++i) {
      left[i] = in[2 * i] * k;
      right[i] = in[2 * i + 1] * k;
    }
  } else {
    for (uint32_t i = 0; i < frames; ++i) left[i] = in[i] * k;
  }
}

void plainToPcm(const float* left, const float* right, uint32_t frames, int16_t* out, uint32_t channels) {
  auto conv = [](float x) { return static_cast<int16_t>(std::clamp(x, -1.0f, 1.0f) * 32767.0f); };
  if (channels == 2) {
    for (uint32_t i = 0; i < frames; ++i) {
      out[2 * i] = conv(left[i]);
      out[2 * i + 1] = conv(right[i]);
    }
  } else {
    for (uint32_t i = 0; i < frames; ++i) out[i] = conv(left[i]);
  }
}

void pcmToFloat(benchmark::State& state, Row row, uint32_t channels) {
  // Mono rows read the signal's first kFrames samples as one channel.
  const int16_t* signal = dspfx::bench::testSignal().data();
  Buffers buf(kBlock);
  selectForm(row);
  for (auto _ : state) {
    for (uint32_t at = 0; at < kFrames; at += kBlock) {
      const uint32_t n = std::min(kBlock, kFrames - at);
      const int16_t* in = signal + size_t{at} * channels;
      switch (row) {
        case Row::kPlainLoop: plainToFloat(in, n, buf.left, buf.right, channels); break;
        case Row::kMemcpy: std::memcpy(buf.left, in, size_t{n} * channels * 2); break;
        default: dspfx::pcm16ToFloat(in, n * channels * 2, buf.left, buf.right, channels); break;
      }
      benchmark::ClobberMemory();
    }
  }
  selectForm(Row::kScalar);
  dspfx::bench::reportRealTime(state, kFrames);
}

void floatToPcm(benchmark::State& state, Row row, uint32_t channels) {
  // One block of the signal in float, written out again for every block of
  // a host-sized PCM stream.
  Buffers buf(kBlock);
  dspfx::pcm16ToFloat(dspfx::bench::testSignal().data(), kBlock * 4, buf.left, buf.right, 2);
  std::vector<int16_t> host(size_t{kFrames} * 2);
  selectForm(row);
  for (auto _ : state) {
    for (uint32_t at = 0; at < kFrames; at += kBlock) {
      const uint32_t n = std::min(kBlock, kFrames - at);
      int16_t* out = host.data() + size_t{at} * channels;
      switch (row) {
        case Row::kPlainLoop: plainToPcm(buf.left, buf.right, n, out, channels); break;
        case Row::kMemcpy: std::memcpy(out, buf.left, size_t{n} * channels * 2); break;
        default: dspfx::floatToPcm16(buf.left, buf.right, n, out, channels); break;
      }
      benchmark::ClobberMemory();
    }
  }
  selectForm(Row::kScalar);
  dspfx::bench::reportRealTime(state, kFrames);
}

const bool registered = [] {
  for (uint32_t channels : {2u, 1u}) {
    for (Row row : {Row::kScalar, Row::kSse, Row::k3dnow, Row::kPlainLoop, Row::kMemcpy}) {
      const std::string suffix =
          std::string(channels == 2 ? "/stereo/" : "/mono/") + rowName(row);
      benchmark::RegisterBenchmark(("pcm16ToFloat" + suffix).c_str(),
                                   [=](benchmark::State& s) { pcmToFloat(s, row, channels); })
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("floatToPcm16" + suffix).c_str(),
                                   [=](benchmark::State& s) { floatToPcm(s, row, channels); })
          ->Unit(benchmark::kMillisecond);
    }
  }
  return true;
}();

}  // namespace
