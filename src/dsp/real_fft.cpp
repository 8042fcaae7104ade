#include "dsp/real_fft.h"

#include <bit>
#include <cmath>
#include <numbers>

#include "dsp/fft_vector.h"

// The real transform of n samples runs as a complex transform of N = n/2
// points z[m] = x[2m] + i x[2m+1], followed by a pass that separates the
// spectra of the even and odd samples and combines them.
//
// The complex transform keeps its data in blocks of four points, the four
// real parts followed by the four imaginary parts, so that every butterfly
// works on whole vectors without shuffles. The first pass reads the caller's
// interleaved layout and writes blocks. Then come decimation-in-frequency
// passes: one radix-2 pass when log2 N is odd, then radix-4 passes down to
// length 16, after which every block holds one 4-point transform. Those run
// inside the bit reversal, which transposes 4 x 4 tiles anyway, and which
// writes interleaved points in natural order. Above kChunk points each
// radix-4 pass is followed by recursion into its quarters, so that
// everything below stays in the first-level cache; at or below it the
// remaining passes run one after another over the chunk, each twiddle
// serving every sub-transform.
//
// Table layout. The twiddles w_L^k = exp(2 pi i k / L) for 0 <= k < L/4 serve
// both a pass of length L (w^2k and w^3k are formed by multiplication) and the
// final pass of a real transform of n = L. For every L from 16 up to
// kDirectMax there is a table of its own: L/4 cosines then L/4 sines, at
// offset (L - 16)/2. Larger sizes read one shared table built for the largest
// size M, at kBigOffset, with a stride of M/L (1, 2 or 4). 4088 + 16384 floats
// fit the 20480 of the caller's area.
namespace dspfx {
namespace {

using fftv::V4;

constexpr uint32_t kDirectMax = 4096;
constexpr uint32_t kBigOffset = (2 * kDirectMax - 16) / 2;
constexpr uint32_t kChunk = 1024;
static_assert(kBigOffset + static_cast<uint32_t>(kFftMaxSize) / 2 <= kFftTableFloats);

struct Twiddles {
  const float* cosine;
  const float* sine;
  uint32_t stride;

  // w^k ... w^(k+3) for k a multiple of 4.
  void load4(uint32_t k, V4& re, V4& im) const {
    if (stride == 1) {
      re = fftv::load(cosine + k);
      im = fftv::load(sine + k);
    } else if (stride == 2) {
      re = fftv::evens(fftv::load(cosine + 2 * k), fftv::load(cosine + 2 * k + 4));
      im = fftv::evens(fftv::load(sine + 2 * k), fftv::load(sine + 2 * k + 4));
    } else {
      const uint32_t i = stride * k;
      re = fftv::set(cosine[i], cosine[i + stride], cosine[i + 2 * stride], cosine[i + 3 * stride]);
      im = fftv::set(sine[i], sine[i + stride], sine[i + 2 * stride], sine[i + 3 * stride]);
    }
  }
  float cosAt(uint32_t k) const { return cosine[stride * k]; }
  float sinAt(uint32_t k) const { return sine[stride * k]; }
};

struct Tables {
  const float* table;
  uint32_t built;  // the largest n the tables serve

  Twiddles forLength(uint32_t length) const {
    if (length <= kDirectMax) {
      const float* t = table + (length - 16) / 2;
      return {t, t + length / 4, 1};
    }
    const float* t = table + kBigOffset;
    return {t, t + built / 4, built / length};
  }
};

void fillTwiddles(float* t, uint32_t length) {
  const uint32_t quarter = length / 4;
  const double step = 2.0 * std::numbers::pi / length;
  for (uint32_t k = 0; k < quarter; ++k) {
    // Taking the smaller angle of each pair keeps cos and sin symmetric
    // about pi/4 to the last bit.
    if (2 * k <= quarter) {
      t[k] = static_cast<float>(std::cos(step * k));
      t[quarter + k] = static_cast<float>(std::sin(step * k));
    } else {
      t[k] = static_cast<float>(std::sin(step * (quarter - k)));
      t[quarter + k] = static_cast<float>(std::cos(step * (quarter - k)));
    }
  }
}

void buildTables(float* table, uint32_t n) {
  for (uint32_t length = 16; length <= n && length <= kDirectMax; length *= 2) {
    fillTwiddles(table + (length - 16) / 2, length);
  }
  if (n > kDirectMax) fillTwiddles(table + kBigOffset, n);
}

// ---- complex passes on blocked data -------------------------------------

struct CV {
  V4 re, im;
};

template <bool kInterleaved>
inline CV loadBlock(const float* p) {
  const V4 a = fftv::load(p), b = fftv::load(p + 4);
  if constexpr (kInterleaved) {
    return {fftv::evens(a, b), fftv::odds(a, b)};
  } else {
    return {a, b};
  }
}

inline void storeBlock(float* p, CV v) {
  fftv::store(p, v.re);
  fftv::store(p + 4, v.im);
}

inline CV mul(CV a, V4 wr, V4 wi) { return {a.re * wr - a.im * wi, a.re * wi + a.im * wr}; }

// Radix-2 pass over the whole transform of length points, reading the
// interleaved input. The second half of the twiddles, w^(k + L/4), is i w^k.
void radix2Pass(float* x, uint32_t length, const Twiddles& tw) {
  const uint32_t q = length / 2;  // floats per quarter
  for (uint32_t k = 0; k < length / 4; k += 4) {
    V4 wr, wi;
    tw.load4(k, wr, wi);
    float* p = x + 2 * k;
    const CV a = loadBlock<true>(p), b = loadBlock<true>(p + q);
    const CV c = loadBlock<true>(p + 2 * q), d = loadBlock<true>(p + 3 * q);
    storeBlock(p, {a.re + c.re, a.im + c.im});
    storeBlock(p + q, {b.re + d.re, b.im + d.im});
    storeBlock(p + 2 * q, mul({a.re - c.re, a.im - c.im}, wr, wi));
    storeBlock(p + 3 * q, mul({b.re - d.re, b.im - d.im}, fftv::splat(0.0f) - wi, wr));
  }
}

// Radix-4 pass of length points over subs consecutive sub-transforms. The
// outputs go to the quarters in bit-reversed order (0, 2, 1, 3), so that the
// passes together leave the spectrum in plain bit-reversed order.
template <bool kInterleaved>
void radix4Pass(float* x, uint32_t length, uint32_t subs, const Twiddles& tw) {
  const uint32_t q = length / 2;  // floats per quarter
  for (uint32_t k = 0; k < length / 4; k += 4) {
    V4 w1r, w1i;
    tw.load4(k, w1r, w1i);
    const V4 cross = w1r * w1i;
    const V4 w2r = w1r * w1r - w1i * w1i, w2i = cross + cross;
    const V4 w3r = w2r * w1r - w2i * w1i, w3i = w2r * w1i + w2i * w1r;
    float* p = x + 2 * k;
    for (uint32_t s = 0; s < subs; ++s, p += 2 * length) {
      const CV a = loadBlock<kInterleaved>(p), b = loadBlock<kInterleaved>(p + q);
      const CV c = loadBlock<kInterleaved>(p + 2 * q), d = loadBlock<kInterleaved>(p + 3 * q);
      const V4 sr = a.re + c.re, si = a.im + c.im, tr = b.re + d.re, ti = b.im + d.im;
      const V4 ur = a.re - c.re, ui = a.im - c.im, vr = b.re - d.re, vi = b.im - d.im;
      storeBlock(p, {sr + tr, si + ti});
      storeBlock(p + q, mul({sr - tr, si - ti}, w2r, w2i));
      storeBlock(p + 2 * q, mul({ur - vi, ui + vr}, w1r, w1i));
      storeBlock(p + 3 * q, mul({ur + vi, ui - vr}, w3r, w3i));
    }
  }
}

template <bool kInterleaved>
void radix4Chunk(float* x, uint32_t length, const Tables& t) {
  bool first = kInterleaved;
  for (uint32_t len = length; len >= 16; len /= 4) {
    if (first) {
      radix4Pass<true>(x, len, length / len, t.forLength(len));
    } else {
      radix4Pass<false>(x, len, length / len, t.forLength(len));
    }
    first = false;
  }
}

template <bool kInterleaved>
void radix4Tree(float* x, uint32_t length, const Tables& t) {
  if (length <= kChunk) {
    radix4Chunk<kInterleaved>(x, length, t);
    return;
  }
  radix4Pass<kInterleaved>(x, length, 1, t.forLength(length));
  const uint32_t quarter = length / 2;  // floats
  for (uint32_t i = 0; i < 4; ++i) radix4Tree<false>(x + i * quarter, length / 4, t);
}

// The last radix-4 step and the bit reversal, in 4 x 4 tiles. After the
// passes every block holds the four points of a 4-point transform. Point
// (a, b, c) with two-bit a and c belongs in natural order at (rev c, rev b,
// rev a), so the four blocks of a tile (fixed middle bits b, N/16 blocks
// apart) land, transposed, in the tile of rev b. Transposing puts the four
// points of each block into one lane of four vectors, where the 4-point
// transform runs across the vectors; loading the rows in the order
// (0, 2, 1, 3) makes the lanes come out reversed as they must.
inline void finishTile(CV& r0, CV& r1, CV& r2, CV& r3) {
  fftv::transpose(r0.re, r2.re, r1.re, r3.re);
  fftv::transpose(r0.im, r2.im, r1.im, r3.im);
  // The transposed vectors are now t0 = r0, t1 = r2, t2 = r1, t3 = r3.
  const V4 sr = r0.re + r1.re, si = r0.im + r1.im, tr = r2.re + r3.re, ti = r2.im + r3.im;
  const V4 ur = r0.re - r1.re, ui = r0.im - r1.im, vr = r2.re - r3.re, vi = r2.im - r3.im;
  r0 = {sr + tr, si + ti};
  r1 = {ur - vi, ui + vr};
  r2 = {sr - tr, si - ti};
  r3 = {ur + vi, ui - vr};
}

inline void storeInterleaved(float* p, CV v) {
  fftv::store(p, fftv::unpackLo(v.re, v.im));
  fftv::store(p + 4, fftv::unpackHi(v.re, v.im));
}

void finishAndReverse(float* x, uint32_t points) {
  const uint32_t rows = points / 16;  // tiles, and the block distance of their rows
  const uint32_t rowStride = 8 * rows;
  uint32_t rb = 0;  // rev(b), stepped along with b
  for (uint32_t b = 0; b < rows; ++b) {
    if (rb >= b) {
      float* p = x + 8 * b;
      CV a0 = loadBlock<false>(p), a1 = loadBlock<false>(p + rowStride);
      CV a2 = loadBlock<false>(p + 2 * rowStride), a3 = loadBlock<false>(p + 3 * rowStride);
      finishTile(a0, a1, a2, a3);
      if (rb == b) {
        storeInterleaved(p, a0);
        storeInterleaved(p + rowStride, a1);
        storeInterleaved(p + 2 * rowStride, a2);
        storeInterleaved(p + 3 * rowStride, a3);
      } else {
        float* r = x + 8 * rb;
        CV b0 = loadBlock<false>(r), b1 = loadBlock<false>(r + rowStride);
        CV b2 = loadBlock<false>(r + 2 * rowStride), b3 = loadBlock<false>(r + 3 * rowStride);
        finishTile(b0, b1, b2, b3);
        storeInterleaved(p, b0);
        storeInterleaved(p + rowStride, b1);
        storeInterleaved(p + 2 * rowStride, b2);
        storeInterleaved(p + 3 * rowStride, b3);
        storeInterleaved(r, a0);
        storeInterleaved(r + rowStride, a1);
        storeInterleaved(r + 2 * rowStride, a2);
        storeInterleaved(r + 3 * rowStride, a3);
      }
    }
    // Reversed increment: clear the leading ones from the top, set the next.
    uint32_t bit = rows >> 1;
    while (bit != 0 && (rb & bit) != 0) {
      rb ^= bit;
      bit >>= 1;
    }
    rb |= bit;
  }
}

void complexFftBlocked(float* x, uint32_t points, const Tables& t) {
  if (std::countr_zero(points) % 2 != 0) {
    radix2Pass(x, points, t.forLength(points));
    radix4Tree<false>(x, points / 2, t);
    radix4Tree<false>(x + points, points / 2, t);
  } else {
    radix4Tree<true>(x, points, t);
  }
  finishAndReverse(x, points);
}

// ---- small transforms: 2, 4 and 8 points, natural order ------------------

void complexFftSmall(float* x, uint32_t points) {
  if (points == 2) {
    const float ar = x[0], ai = x[1], br = x[2], bi = x[3];
    x[0] = ar + br;
    x[1] = ai + bi;
    x[2] = ar - br;
    x[3] = ai - bi;
    return;
  }
  auto dft4 = [](const float* in, float* out, uint32_t stride) {
    const float z0r = in[0], z0i = in[1], z1r = in[stride], z1i = in[stride + 1];
    const float z2r = in[2 * stride], z2i = in[2 * stride + 1];
    const float z3r = in[3 * stride], z3i = in[3 * stride + 1];
    const float sr = z0r + z2r, si = z0i + z2i, tr = z1r + z3r, ti = z1i + z3i;
    const float ur = z0r - z2r, ui = z0i - z2i, vr = z1r - z3r, vi = z1i - z3i;
    out[0] = sr + tr;
    out[1] = si + ti;
    out[2] = ur - vi;
    out[3] = ui + vr;
    out[4] = sr - tr;
    out[5] = si - ti;
    out[6] = ur + vi;
    out[7] = ui - vr;
  };
  if (points == 4) {
    float out[8];
    dft4(x, out, 2);
    for (int i = 0; i < 8; ++i) x[i] = out[i];
    return;
  }
  // 8 points: even outputs from z[m] + z[m+4], odd ones from
  // (z[m] - z[m+4]) w8^m.
  constexpr float r2 = 0.707106781186547524f;
  float u[8], v[8];
  for (int m = 0; m < 4; ++m) {
    u[2 * m] = x[2 * m] + x[2 * m + 8];
    u[2 * m + 1] = x[2 * m + 1] + x[2 * m + 9];
    v[2 * m] = x[2 * m] - x[2 * m + 8];
    v[2 * m + 1] = x[2 * m + 1] - x[2 * m + 9];
  }
  const float v1r = v[2], v1i = v[3], v2r = v[4], v2i = v[5], v3r = v[6], v3i = v[7];
  v[2] = r2 * v1r - r2 * v1i;
  v[3] = r2 * v1r + r2 * v1i;
  v[4] = 0.0f - v2i;
  v[5] = v2r;
  v[6] = -r2 * v3r - r2 * v3i;
  v[7] = r2 * v3r - r2 * v3i;
  float even[8], odd[8];
  dft4(u, even, 2);
  dft4(v, odd, 2);
  for (int r = 0; r < 4; ++r) {
    x[4 * r] = even[2 * r];
    x[4 * r + 1] = even[2 * r + 1];
    x[4 * r + 2] = odd[2 * r];
    x[4 * r + 3] = odd[2 * r + 1];
  }
}

// ---- real post-pass ----------------------------------------------------------
//
// With Z = FFT(z), A = Z[k], B = Z[N-k] and w = w_n^k:
//   E = (A + conj B)/2, O = (A - conj B)/(2i)
//   X[k] = E + w O, X[N-k] = conj(E - w O).
// X[N/2] = Z[N/2], and X[0], X[N] are the sum and difference of Z[0]'s parts.

inline void postPair(float* x, uint32_t points, uint32_t k, float c, float s) {
  float* a = x + 2 * k;
  float* b = x + 2 * (points - k);
  const float hr = 0.5f * (a[0] + b[0]), hi = 0.5f * (a[1] - b[1]);
  const float orr = 0.5f * (a[1] + b[1]), oi = 0.5f * (b[0] - a[0]);
  const float tr = c * orr - s * oi, ti = c * oi + s * orr;
  a[0] = hr + tr;
  a[1] = hi + ti;
  b[0] = hr - tr;
  b[1] = ti - hi;
}

void postPass(float* x, uint32_t points, const Twiddles& tw) {
  const uint32_t half = points / 2;
  for (uint32_t k = 1; k < half && k < 4; ++k) postPair(x, points, k, tw.cosAt(k), tw.sinAt(k));
  const V4 h = fftv::splat(0.5f);
  for (uint32_t k = 4; k < half; k += 4) {
    float* a = x + 2 * k;
    float* b = x + 2 * (points - k - 3);
    const V4 a0 = fftv::load(a), a1 = fftv::load(a + 4);
    const V4 b0 = fftv::load(b), b1 = fftv::load(b + 4);
    const V4 ar = fftv::evens(a0, a1), ai = fftv::odds(a0, a1);
    const V4 br = fftv::evensReversed(b0, b1), bi = fftv::oddsReversed(b0, b1);
    V4 wr, wi;
    tw.load4(k, wr, wi);
    const V4 hr = h * (ar + br), hi = h * (ai - bi);
    const V4 orr = h * (ai + bi), oi = h * (br - ar);
    const V4 tr = wr * orr - wi * oi, ti = wr * oi + wi * orr;
    const V4 xr = hr + tr, xi = hi + ti;
    const V4 yr = fftv::reverse(hr - tr), yi = fftv::reverse(ti - hi);
    fftv::store(a, fftv::unpackLo(xr, xi));
    fftv::store(a + 4, fftv::unpackHi(xr, xi));
    fftv::store(b, fftv::unpackLo(yr, yi));
    fftv::store(b + 4, fftv::unpackHi(yr, yi));
  }
}

bool isPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

void realFft(int32_t n, float* data, int32_t* work, float* table) {
  if (n < 2 || n > kFftMaxSize || !isPowerOfTwo(static_cast<uint32_t>(n)) || !data) return;
  const auto size = static_cast<uint32_t>(n);
  const uint32_t points = size / 2;
  Tables tables{table, 0};
  if (size >= 16) {
    if (!work || !table) return;
    // work[0] holds a quarter of the size the tables were built for; a value
    // no build could have left is treated as "not built".
    const int32_t mark = work[0];
    const bool valid = mark >= 4 && mark <= kFftMaxSize / 4 && isPowerOfTwo(static_cast<uint32_t>(mark));
    if (!valid || size > 4 * static_cast<uint32_t>(mark)) {
      buildTables(table, size);
      work[0] = static_cast<int32_t>(size / 4);
      work[1] = static_cast<int32_t>(size / 4);
    }
    tables.built = 4 * static_cast<uint32_t>(work[0]);
  }

  if (points >= 16) {
    complexFftBlocked(data, points, tables);
  } else if (points >= 2) {
    complexFftSmall(data, points);
  }
  if (size == 8) {
    static const float kCos8[2] = {1.0f, 0.707106781186547524f};
    static const float kSin8[2] = {0.0f, 0.707106781186547524f};
    postPass(data, points, Twiddles{kCos8, kSin8, 1});
  } else if (size >= 16) {
    postPass(data, points, tables.forLength(size));
  }
  const float t = data[0] - data[1];
  data[0] = data[0] + data[1];
  data[1] = t;
}

}  // namespace dspfx
