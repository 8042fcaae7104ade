#pragma once
// Four-lane float vectors for the transform's inner loops. On x86 they are
// SSE2 registers; elsewhere, or with DSPFX_PORTABLE_SIMD, four plain floats
// with the same operations in the same order, so both forms give the same
// bits (every operation is a single IEEE float add, subtract or multiply).
#include "core/simd_detect.h"

#if DSPFX_SIMD_SSE2
#include <emmintrin.h>
#endif

namespace dspfx::fftv {

#if DSPFX_SIMD_SSE2

struct V4 {
  __m128 v;
};

inline V4 load(const float* p) { return {_mm_loadu_ps(p)}; }
inline void store(float* p, V4 a) { _mm_storeu_ps(p, a.v); }
inline V4 set(float a, float b, float c, float d) { return {_mm_setr_ps(a, b, c, d)}; }
inline V4 splat(float a) { return {_mm_set1_ps(a)}; }
inline V4 operator+(V4 a, V4 b) { return {_mm_add_ps(a.v, b.v)}; }
inline V4 operator-(V4 a, V4 b) { return {_mm_sub_ps(a.v, b.v)}; }
inline V4 operator*(V4 a, V4 b) { return {_mm_mul_ps(a.v, b.v)}; }
// (a0, a2, b0, b2) and (a1, a3, b1, b3): the real and imaginary parts of two
// vectors of interleaved complex values.
inline V4 evens(V4 a, V4 b) { return {_mm_shuffle_ps(a.v, b.v, _MM_SHUFFLE(2, 0, 2, 0))}; }
inline V4 odds(V4 a, V4 b) { return {_mm_shuffle_ps(a.v, b.v, _MM_SHUFFLE(3, 1, 3, 1))}; }
// The same in reverse lane order: (b2, b0, a2, a0) and (b3, b1, a3, a1).
inline V4 evensReversed(V4 a, V4 b) { return {_mm_shuffle_ps(b.v, a.v, _MM_SHUFFLE(0, 2, 0, 2))}; }
inline V4 oddsReversed(V4 a, V4 b) { return {_mm_shuffle_ps(b.v, a.v, _MM_SHUFFLE(1, 3, 1, 3))}; }
// (a0, b0, a1, b1) and (a2, b2, a3, b3).
inline V4 unpackLo(V4 a, V4 b) { return {_mm_unpacklo_ps(a.v, b.v)}; }
inline V4 unpackHi(V4 a, V4 b) { return {_mm_unpackhi_ps(a.v, b.v)}; }
inline V4 reverse(V4 a) { return {_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(0, 1, 2, 3))}; }
inline void transpose(V4& r0, V4& r1, V4& r2, V4& r3) { _MM_TRANSPOSE4_PS(r0.v, r1.v, r2.v, r3.v); }

#else

struct V4 {
  float f[4];
};

inline V4 load(const float* p) { return {{p[0], p[1], p[2], p[3]}}; }
inline void store(float* p, V4 a) {
  for (int i = 0; i < 4; ++i) p[i] = a.f[i];
}
inline V4 set(float a, float b, float c, float d) { return {{a, b, c, d}}; }
inline V4 splat(float a) { return {{a, a, a, a}}; }
inline V4 operator+(V4 a, V4 b) { return {{a.f[0] + b.f[0], a.f[1] + b.f[1], a.f[2] + b.f[2], a.f[3] + b.f[3]}}; }
inline V4 operator-(V4 a, V4 b) { return {{a.f[0] - b.f[0], a.f[1] - b.f[1], a.f[2] - b.f[2], a.f[3] - b.f[3]}}; }
inline V4 operator*(V4 a, V4 b) { return {{a.f[0] * b.f[0], a.f[1] * b.f[1], a.f[2] * b.f[2], a.f[3] * b.f[3]}}; }
inline V4 evens(V4 a, V4 b) { return {{a.f[0], a.f[2], b.f[0], b.f[2]}}; }
inline V4 odds(V4 a, V4 b) { return {{a.f[1], a.f[3], b.f[1], b.f[3]}}; }
inline V4 evensReversed(V4 a, V4 b) { return {{b.f[2], b.f[0], a.f[2], a.f[0]}}; }
inline V4 oddsReversed(V4 a, V4 b) { return {{b.f[3], b.f[1], a.f[3], a.f[1]}}; }
inline V4 unpackLo(V4 a, V4 b) { return {{a.f[0], b.f[0], a.f[1], b.f[1]}}; }
inline V4 unpackHi(V4 a, V4 b) { return {{a.f[2], b.f[2], a.f[3], b.f[3]}}; }
inline V4 reverse(V4 a) { return {{a.f[3], a.f[2], a.f[1], a.f[0]}}; }
inline void transpose(V4& r0, V4& r1, V4& r2, V4& r3) {
  const V4 a = r0, b = r1, c = r2, d = r3;
  r0 = {{a.f[0], b.f[0], c.f[0], d.f[0]}};
  r1 = {{a.f[1], b.f[1], c.f[1], d.f[1]}};
  r2 = {{a.f[2], b.f[2], c.f[2], d.f[2]}};
  r3 = {{a.f[3], b.f[3], c.f[3], d.f[3]}};
}

#endif

}  // namespace dspfx::fftv
