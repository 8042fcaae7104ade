#pragma once
// Two doubles handled as one value, for recursive filters that run two
// independent sections side by side.
//
// Each operation is the IEEE operation of each lane on its own (no fused
// multiply-add, no reordering), so the lanes hold exactly the bits that
// scalar code computing the same expressions would hold. That is why the
// filters may use this in their scalar forms: it changes the speed, never the
// result. SSE2 where the build has it; elsewhere and under
// DSPFX_PORTABLE_SIMD the compiler's generic vectors, or two plain doubles.
#include "core/simd_detect.h"

#if DSPFX_SIMD_SSE2
#include <emmintrin.h>
#endif

namespace dspfx {

#if DSPFX_SIMD_SSE2

struct DoublePair {
  __m128d v;
};

inline DoublePair pairOf(double lo, double hi) { return {_mm_set_pd(hi, lo)}; }
inline DoublePair splat(double x) { return {_mm_set1_pd(x)}; }
inline DoublePair operator+(DoublePair a, DoublePair b) { return {_mm_add_pd(a.v, b.v)}; }
inline DoublePair operator*(DoublePair a, DoublePair b) { return {_mm_mul_pd(a.v, b.v)}; }
inline double low(DoublePair a) { return _mm_cvtsd_f64(a.v); }
inline double high(DoublePair a) { return _mm_cvtsd_f64(_mm_unpackhi_pd(a.v, a.v)); }
// (a.lo, b.lo) and (a.hi, b.hi): turns two steps of a pair of sections into
// two samples of each section.
inline DoublePair lows(DoublePair a, DoublePair b) { return {_mm_unpacklo_pd(a.v, b.v)}; }
inline DoublePair highs(DoublePair a, DoublePair b) { return {_mm_unpackhi_pd(a.v, b.v)}; }
// (a.hi, b.lo): moves a value one lane along a chain of pairs.
inline DoublePair across(DoublePair a, DoublePair b) { return {_mm_shuffle_pd(a.v, b.v, 1)}; }
// Both lanes rounded to float and widened back: what storing to a float
// variable and reading it again gives.
inline DoublePair roundToFloat(DoublePair a) { return {_mm_cvtps_pd(_mm_cvtpd_ps(a.v))}; }
// Two consecutive floats, widened; no alignment needed.
inline DoublePair loadFloats(const float* p) {
  return {_mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))))};
}
inline void storeFloats(float* p, DoublePair a) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_cvtpd_ps(a.v)));
}

#elif defined(__GNUC__)

// The compiler's own two-lane vector rather than two named doubles: GCC 12's
// basic-block vectoriser has been seen to pack the named doubles of
// consecutive filter steps into one vector and lose a rounding on the way.
// Vector operations are lowered lane by lane where the target has no SIMD.
typedef double DoubleLanes __attribute__((vector_size(16)));
typedef float FloatLanes __attribute__((vector_size(8)));

struct DoublePair {
  DoubleLanes v;
};

inline DoublePair pairOf(double lo, double hi) { return {DoubleLanes{lo, hi}}; }
inline DoublePair splat(double x) { return {DoubleLanes{x, x}}; }
inline DoublePair operator+(DoublePair a, DoublePair b) { return {a.v + b.v}; }
inline DoublePair operator*(DoublePair a, DoublePair b) { return {a.v * b.v}; }
inline double low(DoublePair a) { return a.v[0]; }
inline double high(DoublePair a) { return a.v[1]; }
inline DoublePair lows(DoublePair a, DoublePair b) { return {DoubleLanes{a.v[0], b.v[0]}}; }
inline DoublePair highs(DoublePair a, DoublePair b) { return {DoubleLanes{a.v[1], b.v[1]}}; }
inline DoublePair across(DoublePair a, DoublePair b) { return {DoubleLanes{a.v[1], b.v[0]}}; }
inline DoublePair roundToFloat(DoublePair a) {
  return {__builtin_convertvector(__builtin_convertvector(a.v, FloatLanes), DoubleLanes)};
}
inline DoublePair loadFloats(const float* p) { return {DoubleLanes{p[0], p[1]}}; }
inline void storeFloats(float* p, DoublePair a) {
  const FloatLanes f = __builtin_convertvector(a.v, FloatLanes);
  p[0] = f[0];
  p[1] = f[1];
}

#else

struct DoublePair {
  double lo;
  double hi;
};

inline DoublePair pairOf(double lo, double hi) { return {lo, hi}; }
inline DoublePair splat(double x) { return {x, x}; }
inline DoublePair operator+(DoublePair a, DoublePair b) { return {a.lo + b.lo, a.hi + b.hi}; }
inline DoublePair operator*(DoublePair a, DoublePair b) { return {a.lo * b.lo, a.hi * b.hi}; }
inline double low(DoublePair a) { return a.lo; }
inline double high(DoublePair a) { return a.hi; }
inline DoublePair lows(DoublePair a, DoublePair b) { return {a.lo, b.lo}; }
inline DoublePair highs(DoublePair a, DoublePair b) { return {a.hi, b.hi}; }
inline DoublePair across(DoublePair a, DoublePair b) { return {a.hi, b.lo}; }
inline DoublePair roundToFloat(DoublePair a) {
  return {static_cast<float>(a.lo), static_cast<float>(a.hi)};
}
inline DoublePair loadFloats(const float* p) { return {p[0], p[1]}; }
inline void storeFloats(float* p, DoublePair a) {
  p[0] = static_cast<float>(a.lo);
  p[1] = static_cast<float>(a.hi);
}

#endif

}  // namespace dspfx
