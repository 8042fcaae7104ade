#include "dsp/kaiser_fir.h"

#include <bit>
#include <numbers>
#include <cmath>
#include <cstring>

#include "core/processor_flags.h"

#include "core/simd_detect.h"

#if DSPFX_SIMD_SSE2
#include <emmintrin.h>
#endif

namespace dspfx {
namespace {

constexpr double kPi = std::numbers::pi;

KaiserFir::AlignedFloats alignedFloats(size_t n) {
  void* p = ::operator new[](n * sizeof(float), std::align_val_t{16}, std::nothrow);
  return KaiserFir::AlignedFloats(static_cast<float*>(p));
}

bool isPowerOfTwo(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

// Four lanes of float arithmetic: one register where SSE2 is there, four
// plain floats elsewhere. Each lane rounds as a lone float operation would,
// so the lane kernels give the same bits either way.
#if DSPFX_SIMD_SSE2
using Quad = __m128;
inline Quad load4(const float* p) { return _mm_load_ps(p); }
inline void store4(float* p, Quad a) { _mm_store_ps(p, a); }
inline Quad add4(Quad a, Quad b) { return _mm_add_ps(a, b); }
inline Quad mul4(Quad a, Quad b) { return _mm_mul_ps(a, b); }
inline Quad zero4() { return _mm_setzero_ps(); }
// Four rows of four floats become columns at dst[i * dstStride]; the flags
// say which side is 16-byte aligned.
template <bool DstAligned, bool SrcAligned>
inline void transpose4(const float* s0, const float* s1, const float* s2, const float* s3, float* dst,
                       size_t dstStride) {
  __m128 r0 = SrcAligned ? _mm_load_ps(s0) : _mm_loadu_ps(s0);
  __m128 r1 = SrcAligned ? _mm_load_ps(s1) : _mm_loadu_ps(s1);
  __m128 r2 = SrcAligned ? _mm_load_ps(s2) : _mm_loadu_ps(s2);
  __m128 r3 = SrcAligned ? _mm_load_ps(s3) : _mm_loadu_ps(s3);
  _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
  if (DstAligned) {
    _mm_store_ps(dst, r0);
    _mm_store_ps(dst + dstStride, r1);
    _mm_store_ps(dst + 2 * dstStride, r2);
    _mm_store_ps(dst + 3 * dstStride, r3);
  } else {
    _mm_storeu_ps(dst, r0);
    _mm_storeu_ps(dst + dstStride, r1);
    _mm_storeu_ps(dst + 2 * dstStride, r2);
    _mm_storeu_ps(dst + 3 * dstStride, r3);
  }
}
#else
struct Quad {
  float v[4];
};
inline Quad load4(const float* p) { return Quad{{p[0], p[1], p[2], p[3]}}; }
inline void store4(float* p, Quad a) {
  for (int l = 0; l < 4; ++l) p[l] = a.v[l];
}
inline Quad add4(Quad a, Quad b) {
  for (int l = 0; l < 4; ++l) a.v[l] += b.v[l];
  return a;
}
inline Quad mul4(Quad a, Quad b) {
  for (int l = 0; l < 4; ++l) a.v[l] *= b.v[l];
  return a;
}
inline Quad zero4() { return Quad{{0.0f, 0.0f, 0.0f, 0.0f}}; }
template <bool DstAligned, bool SrcAligned>
inline void transpose4(const float* s0, const float* s1, const float* s2, const float* s3, float* dst,
                       size_t dstStride) {
  const float* rows[4] = {s0, s1, s2, s3};
  float t[4][4];
  for (size_t i = 0; i < 4; ++i) {
    for (size_t j = 0; j < 4; ++j) t[j][i] = rows[i][j];
  }
  for (size_t j = 0; j < 4; ++j) {
    for (size_t i = 0; i < 4; ++i) dst[j * dstStride + i] = t[j][i];
  }
}
#endif

}  // namespace

KaiserFir::~KaiserFir() { release(); }

void KaiserFir::release() {
  coef.reset();
  table.reset();
  lanesIn.reset();
  lanesOut.reset();
  coefQuads.reset();
  proto.reset();
  history.reset();
  window.reset();
  capacityOrder = 0;
  allocated = false;
}

double KaiserFir::kaiserBeta(double a) {
  if (a >= 50.0) return 0.1102 * (a - 8.7);
  if (a >= 21.0) return 0.5842 * std::pow(a - 21.0, 0.4) + 0.07886 * (a - 21.0);
  return 0.0;
}

// Nineteen terms of the power series: enough for the betas a 100 dB design
// asks for, and a fixed count keeps the window identical on every platform.
double KaiserFir::besselI0(double z) {
  const double h = z * 0.5;
  double term = 1.0;
  double sum = 1.0;
  for (int j = 1; j <= 19; ++j) {
    term *= h / j;
    sum += term * term;
  }
  return sum;
}

bool KaiserFir::prepare(float attenuation, uint32_t n, int32_t filterKind) {
  kind = filterKind;
  attenuationDb = attenuation;
  if (!isPowerOfTwo(n) || n < 2 || n > kMaxOrder) {
    release();
    return false;
  }
  const uint32_t m = n / 2;
  if (!allocated || n > capacityOrder) {
    release();
    coef = alignedFloats(n + 1);
    table = alignedFloats(size_t{n} * n);
    history = alignedFloats(n);
    proto.reset(new (std::nothrow) double[m + 1]);
    window.reset(new (std::nothrow) double[m + 1]);
    lanesIn = alignedFloats(size_t{2} * n * 4 * kMaxVectors + n);
    lanesOut = alignedFloats(size_t{n} * 4 * kMaxVectors);
    coefQuads = alignedFloats(size_t{2 * n + 1} * 4);
    if (!coef || !table || !history || !proto || !window || !lanesIn || !lanesOut || !coefQuads) {
      release();
      return false;
    }
    std::memset(coef.get(), 0, (n + 1) * sizeof(float));
    std::memset(table.get(), 0, size_t{n} * n * sizeof(float));
    std::memset(coefQuads.get(), 0, size_t{2 * n + 1} * 4 * sizeof(float));
    capacityOrder = n;
    allocated = true;
  }
  order = n;
  designed = false;
  std::memset(history.get(), 0, n * sizeof(float));
  mask = n - 1;
  position = 0;
  half = m;

  const double beta = kaiserBeta(attenuation);
  const double norm = besselI0(beta);
  for (uint32_t k = 0; k <= m; ++k) {
    const double r = 2.0 * k / n;
    window[k] = besselI0(beta * std::sqrt(1.0 - r * r)) / norm;
  }
  return true;
}

void KaiserFir::design(float fs, float f1, float /*f2*/) {
  if (!allocated) return;
  // The adaptive exciter redesigns every block, mostly for the edge it
  // found the block before.
  if (designed && std::bit_cast<uint32_t>(fs) == std::bit_cast<uint32_t>(designedRate) &&
      std::bit_cast<uint32_t>(f1) == std::bit_cast<uint32_t>(designedEdge)) {
    return;
  }
  sampleRate = fs;
  cutoff = kind == kHighpass ? static_cast<float>(0.5 * fs - f1) : f1;
  const uint32_t n = order;
  const uint32_t m = half;
  const double fc = cutoff;
  const double rate = fs;

  proto[0] = (2.0 / rate) * fc;
  for (uint32_t k = 1; k <= m; ++k) {
    proto[k] = window[k] / (kPi * k) * std::sin((2.0 * kPi / rate) * fc * k);
  }
  // Unity gain at 0 Hz for the prototype; the high-pass mirror then has
  // unity gain at half the sample rate.
  double s = proto[0];
  for (uint32_t k = 1; k <= m; ++k) s += 2.0 * proto[k];
  const double g = 1.0 / s;
  for (uint32_t k = 0; k <= m; ++k) proto[k] *= g;
  if (kind == kHighpass) {
    for (uint32_t k = 0; k <= m; ++k) proto[k] *= std::cos(k * kPi);
  }

  for (uint32_t k = 0; k <= m; ++k) {
    coef[m - k] = static_cast<float>(proto[k]);
    coef[m + k] = static_cast<float>(proto[k]);
  }
  for (uint32_t i = 0; i < n; ++i) {
    for (uint32_t j = 0; j < n; ++j) {
      table[size_t{i} * n + j] = coef[1 + ((n - i + j) & mask)];
    }
  }
  // Twice round the delays, so that a rotated pass over them reads the
  // quads in one straight run.
  for (uint32_t k = 0; k <= 2 * n; ++k) {
    const float c = k == 0 ? coef[0] : coef[1 + ((k - 1) & mask)];
    for (uint32_t l = 0; l < 4; ++l) coefQuads[4 * k + l] = c;
  }
  log2Order = static_cast<uint32_t>(std::log(static_cast<double>(n)) / std::log(2.0));
  designed = true;
  designedRate = fs;
  designedEdge = f1;
}

void KaiserFir::run(const float* in, float* out, uint32_t n) {
  if (!allocated || n == 0) return;
  if (amd3dnowOn()) {
    run3dnow(in, out, n);
  } else if (sseOn()) {
    runSse(in, out, n);
  } else {
    runScalar(in, out, n);
  }
}

void KaiserFir::runScalar(const float* in, float* out, uint32_t n) {
  uint32_t done = runGroups<Form::kScalar, kMaxVectors>(in, out, n);
  done += runGroups<Form::kScalar, 1>(in + done, out + done, n - done);
  stepScalar(in + done, out + done, n - done);
}

void KaiserFir::run3dnow(const float* in, float* out, uint32_t n) {
  uint32_t done = runGroups<Form::kTwoLane, kMaxVectors>(in, out, n);
  done += runGroups<Form::kTwoLane, 1>(in + done, out + done, n - done);
  step3dnow(in + done, out + done, n - done);
}

// Orders below 8 have no block to vectorise. The four-lane form keeps eight
// partial sums per output, so one vector per group is all the registers
// hold.
void KaiserFir::runSse(const float* in, float* out, uint32_t n) {
  if (order < 8) {
    runScalar(in, out, n);
    return;
  }
  const uint32_t done = runGroups<Form::kSse, 1>(in, out, n);
  stepSse(in + done, out + done, n - done);
}

template <KaiserFir::Form F, uint32_t Vectors>
uint32_t KaiserFir::runGroups(const float* in, float* out, uint32_t n) {
  const uint32_t taps = order;
  const uint32_t lanes = 4 * Vectors;
  const uint32_t group = lanes * taps;
  // The transposes move blocks of four rows.
  if (!allocated || taps < 4) return 0;
  float* const rows = lanesIn.get();
  float* const past = rows + size_t{2} * taps * lanes;
  const float* const results = lanesOut.get();
  float* const h = history.get();
  uint32_t done = 0;
  for (; n - done >= group; done += group) {
    const float* src = in + done;
    // Row q, lane l holds sample l * N + q - N of the group, counted from
    // its first input: rows N .. 2N - 1 the lane's own inputs, rows
    // 0 .. N - 1 the N samples before them, which for lane 0 come from the
    // history.
    for (uint32_t q = 0; q < taps; ++q) past[q] = h[(position + taps - 1 - q) & mask];
    for (uint32_t l = 0; l < lanes; l += 4) {
      for (uint32_t q = 0; q < 2 * taps; q += 4) {
        // Lane 0 reads its first N rows from the history copy.
        const float* s1 = src + size_t{l} * taps + q;
        const float* s0 = l == 0 && q < taps ? past + q : s1 - taps;
        transpose4<true, false>(s0, s1, s1 + taps, s1 + 2 * taps, rows + size_t{q} * lanes + l, lanes);
      }
    }
    // A group is a whole number of turns of the circular history: the
    // position stays, and the slots end up holding the group's last N
    // samples, as the per-sample loops would leave them.
    for (uint32_t m = 0; m < taps; ++m) h[(position + m) & mask] = src[group - 1 - m];
    for (uint32_t r = 0; r < taps; ++r) groupRow<F, Vectors>(r, (r - position) & mask);
    float* dst = out + done;
    for (uint32_t r = 0; r < taps; r += 4) {
      for (uint32_t l = 0; l < lanes; l += 4) {
        const float* t = results + size_t{r} * lanes + l;
        transpose4<false, true>(t, t + lanes, t + 2 * lanes, t + 3 * lanes, dst + size_t{l} * taps + r, taps);
      }
    }
  }
  return done;
}

// Output r of every lane. Its per-sample counterpart starts at history slot
// 0, which holds the sample k0 + 1 steps back: step j takes the sample
// (k0 + j) mod N + 1 steps back and the coefficient of that delay. Up to the
// wrap the sample rows run down one by one from the first; after it they run
// on N rows higher.
template <KaiserFir::Form F, uint32_t Vectors>
void KaiserFir::groupRow(uint32_t r, uint32_t k0) {
  const uint32_t taps = order;
  const size_t lanes = 4 * Vectors;
  const float* const rows = lanesIn.get();
  const float* const x = rows + (taps + r) * lanes;
  float* const y = lanesOut.get() + r * lanes;
  const float* const quads = coefQuads.get();
  const Quad c0 = load4(quads);
  const float* const first = rows + (taps + r - 1 - k0) * lanes;
  const float* const wrapped = first + taps * lanes;
  const uint32_t wrap = taps - k0;
  auto samples = [&](uint32_t j) { return (j < wrap ? first : wrapped) - j * lanes; };
  auto coefficient = [&](uint32_t j) { return load4(quads + 4 * (k0 + 1 + j)); };

  if constexpr (F == Form::kScalar) {
    Quad acc[Vectors];
    for (uint32_t v = 0; v < Vectors; ++v) acc[v] = mul4(c0, load4(x + 4 * v));
    auto steps = [&](const float* base, uint32_t from, uint32_t to) {
      for (uint32_t j = from; j < to; ++j) {
        const float* s = base - j * lanes;
        const Quad c = coefficient(j);
        for (uint32_t v = 0; v < Vectors; ++v) acc[v] = add4(acc[v], mul4(load4(s + 4 * v), c));
      }
    };
    steps(first, 0, wrap);
    steps(wrapped, wrap, taps);
    for (uint32_t v = 0; v < Vectors; ++v) store4(y + 4 * v, acc[v]);
  } else if constexpr (F == Form::kTwoLane) {
    Quad a0[Vectors];
    Quad a1[Vectors];
    for (uint32_t v = 0; v < Vectors; ++v) a0[v] = a1[v] = zero4();
    auto pair = [&](const float* s0, const float* s1, uint32_t j) {
      const Quad c0j = coefficient(j);
      const Quad c1j = coefficient(j + 1);
      for (uint32_t v = 0; v < Vectors; ++v) {
        a0[v] = add4(a0[v], mul4(load4(s0 + 4 * v), c0j));
        a1[v] = add4(a1[v], mul4(load4(s1 + 4 * v), c1j));
      }
    };
    // An odd k0 puts the wrap between the two halves of one pair.
    uint32_t j = 0;
    for (; j + 1 < wrap; j += 2) pair(first - j * lanes, first - (j + 1) * lanes, j);
    if (j < wrap) {
      pair(first - j * lanes, wrapped - (j + 1) * lanes, j);
      j += 2;
    }
    for (; j < taps; j += 2) pair(wrapped - j * lanes, wrapped - (j + 1) * lanes, j);
    for (uint32_t v = 0; v < Vectors; ++v) {
      store4(y + 4 * v, add4(mul4(c0, load4(x + 4 * v)), add4(a0[v], a1[v])));
    }
  } else {
    // The four-lane form takes its products out of step order, so each
    // step's sample row is looked up rather than followed.
    auto product = [&](uint32_t j, uint32_t v) {
      return mul4(load4(samples(j) + 4 * v), coefficient(j));
    };
    for (uint32_t v = 0; v < Vectors; ++v) {
      Quad part[4];
      if (taps == 16) {
        for (uint32_t l = 0; l < 4; ++l) {
          part[l] = add4(add4(product(l, v), product(l + 4, v)), add4(product(l + 8, v), product(l + 12, v)));
        }
      } else {
        Quad acc0[4];
        Quad acc1[4];
        for (uint32_t l = 0; l < 4; ++l) acc0[l] = acc1[l] = zero4();
        // Runs of eight steps on one side of the wrap need no test.
        for (uint32_t j = 0; j < taps; j += 8) {
          if (j + 8 <= wrap || j >= wrap) {
            const float* base = j < wrap ? first : wrapped;
            for (uint32_t l = 0; l < 4; ++l) {
              acc0[l] = add4(acc0[l], mul4(load4(base - (j + l) * lanes + 4 * v), coefficient(j + l)));
              acc1[l] = add4(acc1[l], mul4(load4(base - (j + 4 + l) * lanes + 4 * v), coefficient(j + 4 + l)));
            }
          } else {
            for (uint32_t l = 0; l < 4; ++l) {
              acc0[l] = add4(acc0[l], product(j + l, v));
              acc1[l] = add4(acc1[l], product(j + 4 + l, v));
            }
          }
        }
        for (uint32_t l = 0; l < 4; ++l) part[l] = add4(acc0[l], acc1[l]);
      }
      const Quad sum = add4(add4(part[0], part[1]), add4(part[2], part[3]));
      store4(y + 4 * v, add4(mul4(c0, load4(x + 4 * v)), sum));
    }
  }
}

void KaiserFir::stepScalar(const float* in, float* out, uint32_t n) {
  const uint32_t taps = order;
  float* const h = history.get();
  for (uint32_t i = 0; i < n; ++i) {
    const float x = in[i];
    const float* row = table.get() + size_t{position} * taps;
    float y = coef[0] * x;
    for (uint32_t j = 0; j < taps; ++j) y += h[j] * row[j];
    position = (position - 1) & mask;
    h[position] = x;
    out[i] = y;
  }
}

// Pairs of products in two running lanes, folded at the end, as a two-wide
// vector unit sums them.
void KaiserFir::step3dnow(const float* in, float* out, uint32_t n) {
  const uint32_t taps = order;
  float* const h = history.get();
  for (uint32_t i = 0; i < n; ++i) {
    const float x = in[i];
    const float* row = table.get() + size_t{position} * taps;
    float a0 = 0.0f;
    float a1 = 0.0f;
    for (uint32_t j = 0; j < taps; j += 2) {
      a0 += h[j] * row[j];
      a1 += h[j + 1] * row[j + 1];
    }
    const float y = coef[0] * x + (a0 + a1);
    position = (position - 1) & mask;
    h[position] = x;
    out[i] = y;
  }
}

// Four lanes: fully unrolled for order 16, blocks of eight products in two
// accumulators otherwise.
void KaiserFir::stepSse(const float* in, float* out, uint32_t n) {
  const uint32_t taps = order;
  float* const h = history.get();
  for (uint32_t i = 0; i < n; ++i) {
    const float x = in[i];
    const float* row = table.get() + size_t{position} * taps;
    float lanes[4];
#if DSPFX_SIMD_SSE2
    __m128 acc;
    if (taps == 16) {
      const __m128 p0 = _mm_mul_ps(_mm_load_ps(h), _mm_load_ps(row));
      const __m128 p1 = _mm_mul_ps(_mm_load_ps(h + 4), _mm_load_ps(row + 4));
      const __m128 p2 = _mm_mul_ps(_mm_load_ps(h + 8), _mm_load_ps(row + 8));
      const __m128 p3 = _mm_mul_ps(_mm_load_ps(h + 12), _mm_load_ps(row + 12));
      acc = _mm_add_ps(_mm_add_ps(p0, p1), _mm_add_ps(p2, p3));
    } else {
      __m128 acc0 = _mm_setzero_ps();
      __m128 acc1 = _mm_setzero_ps();
      for (uint32_t j = 0; j < taps; j += 8) {
        acc0 = _mm_add_ps(acc0, _mm_mul_ps(_mm_load_ps(h + j), _mm_load_ps(row + j)));
        acc1 = _mm_add_ps(acc1, _mm_mul_ps(_mm_load_ps(h + j + 4), _mm_load_ps(row + j + 4)));
      }
      acc = _mm_add_ps(acc0, acc1);
    }
    _mm_storeu_ps(lanes, acc);
#else
    if (taps == 16) {
      for (int l = 0; l < 4; ++l) {
        lanes[l] = (h[l] * row[l] + h[l + 4] * row[l + 4]) + (h[l + 8] * row[l + 8] + h[l + 12] * row[l + 12]);
      }
    } else {
      float acc0[4] = {0.0f, 0.0f, 0.0f, 0.0f};
      float acc1[4] = {0.0f, 0.0f, 0.0f, 0.0f};
      for (uint32_t j = 0; j < taps; j += 8) {
        for (int l = 0; l < 4; ++l) {
          acc0[l] += h[j + l] * row[j + l];
          acc1[l] += h[j + 4 + l] * row[j + 4 + l];
        }
      }
      for (int l = 0; l < 4; ++l) lanes[l] = acc0[l] + acc1[l];
    }
#endif
    const float y = coef[0] * x + ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3]));
    position = (position - 1) & mask;
    h[position] = x;
    out[i] = y;
  }
}

}  // namespace dspfx
