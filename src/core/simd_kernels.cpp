#include "core/simd_kernels.h"

#include <cmath>
#include <limits>

#if DSPFX_SIMD_SSE2
#include <emmintrin.h>
#endif

namespace dspfx::simd {
namespace {

constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kIntMax = std::numeric_limits<int32_t>::max();
constexpr float kTwoPow31 = 2147483648.0f;
constexpr float kPcmScale = 32767.0f;

// The sample goes into the upper half and is repeated in the lower half. The
// lower half only nudges the value by at most 2^-16 of a step; repeating the
// sample makes that nudge a function of the sample alone, so every form and
// every build gives the same bits.
inline float upperHalfToFloat(int16_t s) {
  const uint32_t u = static_cast<uint16_t>(s);
  return static_cast<float>(static_cast<int32_t>((u << 16) | u)) * kUpperHalfScale;
}

// No halving in integers: the sum is scaled by 1/65534 directly.
inline float pairSumToFloat(int16_t l, int16_t r) {
  return static_cast<float>(int32_t{l} + int32_t{r}) * kPairSumScale;
}

template <ToInt R>
inline int32_t toInt32(float p) {
  if constexpr (R == ToInt::kNearest) {
    if (!(p >= -kTwoPow31 && p < kTwoPow31)) return kIntMin;
    return static_cast<int32_t>(std::nearbyint(p));
  } else {
    if (p >= kTwoPow31) return kIntMax;
    if (p >= -kTwoPow31) return static_cast<int32_t>(p);
    return kIntMin;
  }
}

inline int16_t saturate16(int32_t v) {
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<int16_t>(v);
}

template <ToInt R>
inline int16_t toPcm(float x) {
  return saturate16(toInt32<R>(x * kPcmScale));
}

#if DSPFX_SIMD_SSE2
template <ToInt R>
inline __m128i toInt32x4(__m128 p) {
  if constexpr (R == ToInt::kNearest) {
    return _mm_cvtps_epi32(p);
  } else {
    // The truncating conversion gives INT32_MIN for every out-of-range lane;
    // flipping all bits of those above the range turns them into INT32_MAX.
    const __m128i over = _mm_castps_si128(_mm_cmpge_ps(p, _mm_set1_ps(kTwoPow31)));
    return _mm_xor_si128(_mm_cvttps_epi32(p), over);
  }
}

inline __m128 upperHalfToFloatx4(__m128i repeated) {
  return _mm_mul_ps(_mm_cvtepi32_ps(repeated), _mm_set1_ps(kUpperHalfScale));
}

inline __m128i load128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void store128(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
#endif

template <ToInt R>
void toPcmStereoT(const float* left, const float* right, int16_t* out, uint32_t frames) {
  uint32_t i = 0;
#if DSPFX_SIMD_SSE2
  const __m128 k = _mm_set1_ps(kPcmScale);
  for (; i + 4 <= frames; i += 4) {
    const __m128i l = toInt32x4<R>(_mm_mul_ps(_mm_loadu_ps(left + i), k));
    const __m128i r = toInt32x4<R>(_mm_mul_ps(_mm_loadu_ps(right + i), k));
    store128(out + 2 * i, _mm_unpacklo_epi16(_mm_packs_epi32(l, l), _mm_packs_epi32(r, r)));
  }
#endif
  for (; i < frames; ++i) {
    out[2 * i] = toPcm<R>(left[i]);
    out[2 * i + 1] = toPcm<R>(right[i]);
  }
}

template <ToInt R>
void toPcmDuplicateT(const float* left, int16_t* out, uint32_t frames) {
  uint32_t i = 0;
#if DSPFX_SIMD_SSE2
  const __m128 k = _mm_set1_ps(kPcmScale);
  for (; i + 4 <= frames; i += 4) {
    const __m128i l = toInt32x4<R>(_mm_mul_ps(_mm_loadu_ps(left + i), k));
    const __m128i packed = _mm_packs_epi32(l, l);
    store128(out + 2 * i, _mm_unpacklo_epi16(packed, packed));
  }
#endif
  for (; i < frames; ++i) {
    const int16_t v = toPcm<R>(left[i]);
    out[2 * i] = v;
    out[2 * i + 1] = v;
  }
}

template <ToInt R>
void toPcmMonoT(const float* left, int16_t* out, uint32_t samples) {
  uint32_t i = 0;
#if DSPFX_SIMD_SSE2
  const __m128 k = _mm_set1_ps(kPcmScale);
  for (; i + 8 <= samples; i += 8) {
    const __m128i a = toInt32x4<R>(_mm_mul_ps(_mm_loadu_ps(left + i), k));
    const __m128i b = toInt32x4<R>(_mm_mul_ps(_mm_loadu_ps(left + i + 4), k));
    store128(out + i, _mm_packs_epi32(a, b));
  }
#endif
  for (; i < samples; ++i) out[i] = toPcm<R>(left[i]);
}

template <ToInt R>
void encodeT(const float* in, int16_t* out, uint32_t count) {
  uint32_t i = 0;
#if DSPFX_SIMD_SSE2
  for (; i + 8 <= count; i += 8) {
    const __m128i a = toInt32x4<R>(_mm_loadu_ps(in + i));
    const __m128i b = toInt32x4<R>(_mm_loadu_ps(in + i + 4));
    store128(out + i, _mm_packs_epi32(a, b));
  }
#endif
  for (; i < count; ++i) out[i] = saturate16(toInt32<R>(in[i]));
}

}  // namespace

void pcmStereoRun(const int16_t* in, float* left, float* right, uint32_t frames) {
  uint32_t i = 0;
#if DSPFX_SIMD_SSE2
  for (; i + 4 <= frames; i += 4) {
    const __m128i v = load128(in + 2 * i);
    const __m128 a = upperHalfToFloatx4(_mm_unpacklo_epi16(v, v));  // L0 R0 L1 R1
    const __m128 b = upperHalfToFloatx4(_mm_unpackhi_epi16(v, v));  // L2 R2 L3 R3
    _mm_storeu_ps(left + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    _mm_storeu_ps(right + i, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
  }
#endif
  for (; i < frames; ++i) {
    left[i] = upperHalfToFloat(in[2 * i]);
    right[i] = upperHalfToFloat(in[2 * i + 1]);
  }
}

void pcmDownmixRun(const int16_t* in, float* left, uint32_t frames) {
  uint32_t i = 0;
#if DSPFX_SIMD_SSE2
  const __m128 k = _mm_set1_ps(kPairSumScale);
  for (; i + 4 <= frames; i += 4) {
    const __m128i v = load128(in + 2 * i);  // each 32-bit lane: L low, R high
    const __m128i l = _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
    const __m128i r = _mm_srai_epi32(v, 16);
    _mm_storeu_ps(left + i, _mm_mul_ps(_mm_cvtepi32_ps(_mm_add_epi32(l, r)), k));
  }
#endif
  for (; i < frames; ++i) left[i] = pairSumToFloat(in[2 * i], in[2 * i + 1]);
}

void pcmMonoRun(const int16_t* in, float* left, uint32_t samples) {
  uint32_t i = 0;
#if DSPFX_SIMD_SSE2
  for (; i + 8 <= samples; i += 8) {
    const __m128i v = load128(in + i);
    _mm_storeu_ps(left + i, upperHalfToFloatx4(_mm_unpacklo_epi16(v, v)));
    _mm_storeu_ps(left + i + 4, upperHalfToFloatx4(_mm_unpackhi_epi16(v, v)));
  }
#endif
  for (; i < samples; ++i) left[i] = upperHalfToFloat(in[i]);
}

void toPcmStereoRun(ToInt rule, const float* left, const float* right, int16_t* out,
                    uint32_t frames) {
  if (rule == ToInt::kNearest) {
    toPcmStereoT<ToInt::kNearest>(left, right, out, frames);
  } else {
    toPcmStereoT<ToInt::kTruncate>(left, right, out, frames);
  }
}

void toPcmDuplicateRun(ToInt rule, const float* left, int16_t* out, uint32_t frames) {
  if (rule == ToInt::kNearest) {
    toPcmDuplicateT<ToInt::kNearest>(left, out, frames);
  } else {
    toPcmDuplicateT<ToInt::kTruncate>(left, out, frames);
  }
}

void toPcmMonoRun(ToInt rule, const float* left, int16_t* out, uint32_t samples) {
  if (rule == ToInt::kNearest) {
    toPcmMonoT<ToInt::kNearest>(left, out, samples);
  } else {
    toPcmMonoT<ToInt::kTruncate>(left, out, samples);
  }
}

void encodeRun(ToInt rule, const float* in, int16_t* out, uint32_t count) {
  if (rule == ToInt::kNearest) {
    encodeT<ToInt::kNearest>(in, out, count);
  } else {
    encodeT<ToInt::kTruncate>(in, out, count);
  }
}

void mixRun(float* y, const float* x, float g, uint32_t count) {
  uint32_t i = 0;
#if DSPFX_SIMD_SSE2
  const __m128 gain = _mm_set1_ps(g);
  for (; i + 4 <= count; i += 4) {
    const __m128 sum = _mm_add_ps(_mm_loadu_ps(y + i), _mm_mul_ps(gain, _mm_loadu_ps(x + i)));
    _mm_storeu_ps(y + i, sum);
  }
#endif
  for (; i < count; ++i) y[i] = y[i] + g * x[i];
}

void subtractRun(const float* a, float* b, uint32_t count) {
  uint32_t i = 0;
#if DSPFX_SIMD_SSE2
  for (; i + 4 <= count; i += 4) {
    _mm_storeu_ps(b + i, _mm_sub_ps(_mm_loadu_ps(a + i), _mm_loadu_ps(b + i)));
  }
#endif
  for (; i < count; ++i) b[i] = a[i] - b[i];
}

}  // namespace dspfx::simd
