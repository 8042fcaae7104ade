// Conversion between interleaved 16-bit PCM and planar float, the step at
// both edges of every do call: the library's SSE form beside a plain SSE2
// loop doing the same conversion and a memcpy of the same bytes. The PCM side
// streams through the whole 60 s signal in 4096-frame blocks while the float
// side is one block-sized buffer per channel, as in an effect's do call.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define DSPFX_BENCH_SSE2 1
#endif

#include "bench_rows.h"
#include "bench_signal.h"
#include "core/sample_convert.h"
#include "dspfx/dspfx.h"

namespace {

using namespace dspfx::bench;

// Block-sized buffers from the library's aligned allocator, freed on scope exit.
struct Buffers {
  Buffers()
      : left(static_cast<float*>(fastmemAlloc(kBlockFrames * 4))),
        right(static_cast<float*>(fastmemAlloc(kBlockFrames * 4))) {}
  ~Buffers() {
    fastmemFree(left);
    fastmemFree(right);
  }
  Buffers(const Buffers&) = delete;
  Buffers& operator=(const Buffers&) = delete;
  float* left;
  float* right;
};

enum class Impl { kLibrarySse, kSse2Loop, kMemcpy };

#ifdef DSPFX_BENCH_SSE2
// Four frames per step: the eight samples widened to 32 bits, converted and
// scaled, then split into the two channels.
void sse2ToFloat(const int16_t* in, uint32_t frames, float* left, float* right) {
  const __m128 scale = _mm_set1_ps(1.0f / 32767.0f);
  uint32_t i = 0;
  for (; i + 4 <= frames; i += 4) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
    const __m128 lo = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16)), scale);
    const __m128 hi = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(x, x), 16)), scale);
    _mm_storeu_ps(left + i, _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
    _mm_storeu_ps(right + i, _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
  }
  for (; i < frames; ++i) {
    left[i] = in[2 * i] * (1.0f / 32767.0f);
    right[i] = in[2 * i + 1] * (1.0f / 32767.0f);
  }
}

// Four frames per step: clamped, scaled, interleaved, rounded and packed
// with saturation.
void sse2ToPcm(const float* left, const float* right, uint32_t frames, int16_t* out) {
  const __m128 scale = _mm_set1_ps(32767.0f);
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 minusOne = _mm_set1_ps(-1.0f);
  uint32_t i = 0;
  for (; i + 4 <= frames; i += 4) {
    const __m128 l = _mm_mul_ps(_mm_min_ps(_mm_max_ps(_mm_loadu_ps(left + i), minusOne), one), scale);
    const __m128 r = _mm_mul_ps(_mm_min_ps(_mm_max_ps(_mm_loadu_ps(right + i), minusOne), one), scale);
    const __m128i lo = _mm_cvtps_epi32(_mm_unpacklo_ps(l, r));
    const __m128i hi = _mm_cvtps_epi32(_mm_unpackhi_ps(l, r));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_packs_epi32(lo, hi));
  }
  for (; i < frames; ++i) {
    out[2 * i] = static_cast<int16_t>(std::clamp(left[i], -1.0f, 1.0f) * 32767.0f);
    out[2 * i + 1] = static_cast<int16_t>(std::clamp(right[i], -1.0f, 1.0f) * 32767.0f);
  }
}
#endif

// The SSE form alone: the flags pick 3DNow! first when it is on.
void selectSse() {
  dspEnableMmx(1);
  dspEnable3dnow(0);
  dspEnableSse(1);
}

void pcmToFloat(benchmark::State& state, Impl impl) {
  Buffers buf;
  selectSse();
  streamSignal(state, 2, [&](const int16_t* in) {
    switch (impl) {
#ifdef DSPFX_BENCH_SSE2
      case Impl::kSse2Loop: sse2ToFloat(in, kBlockFrames, buf.left, buf.right); break;
#endif
      case Impl::kMemcpy: std::memcpy(buf.left, in, kBlockFrames * 4); break;
      default: dspfx::pcm16ToFloat(in, kBlockFrames * 4, buf.left, buf.right, 2); break;
    }
  });
  enableAllForms();
}

void floatToPcm(benchmark::State& state, Impl impl) {
  // One block of the signal in float, written out again for every block of
  // a host-sized PCM stream.
  Buffers buf;
  dspfx::pcm16ToFloat(testSignal().data(), kBlockFrames * 4, buf.left, buf.right, 2);
  std::vector<int16_t> host(size_t{kWholeBlockFrames} * 2);
  selectSse();
  for (auto _ : state) {
    for (uint32_t at = 0; at < kWholeBlockFrames; at += kBlockFrames) {
      int16_t* out = host.data() + size_t{at} * 2;
      switch (impl) {
#ifdef DSPFX_BENCH_SSE2
        case Impl::kSse2Loop: sse2ToPcm(buf.left, buf.right, kBlockFrames, out); break;
#endif
        case Impl::kMemcpy: std::memcpy(out, buf.left, kBlockFrames * 4); break;
        default: dspfx::floatToPcm16(buf.left, buf.right, kBlockFrames, out, 2); break;
      }
      benchmark::ClobberMemory();
    }
  }
  enableAllForms();
  reportRealTime(state, kWholeBlockFrames);
}

const bool registered = [] {
  const struct {
    Impl impl;
    const char* name;
  } impls[] = {{Impl::kLibrarySse, "dspfx-sse"}, {Impl::kSse2Loop, "sse2-loop"}, {Impl::kMemcpy, "memcpy"}};
  for (const auto& [impl, name] : impls) {
#ifndef DSPFX_BENCH_SSE2
    if (impl == Impl::kSse2Loop) {
      missingPeer("pcm16ToFloat", "stereo", name, "no SSE2 on this processor");
      missingPeer("floatToPcm16", "stereo", name, "no SSE2 on this processor");
      continue;
    }
#endif
    row("pcm16ToFloat", "stereo", name, [impl](benchmark::State& s) { pcmToFloat(s, impl); })
        ->Unit(benchmark::kMillisecond);
    row("floatToPcm16", "stereo", name, [impl](benchmark::State& s) { floatToPcm(s, impl); })
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
