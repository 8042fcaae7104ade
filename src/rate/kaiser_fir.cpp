#include "rate/kaiser_fir.h"

#include <cmath>
#include <cstring>

#include "core/processor_flags.h"

#if (defined(__SSE2__) || defined(_M_X64)) && !defined(DSPFX_PORTABLE_SIMD)
#include <emmintrin.h>
#define DSPFX_KAISER_SSE2 1
#endif

namespace dspfx {
namespace {

constexpr double kPi = 3.14159265358979323846;

KaiserFir::AlignedFloats alignedFloats(size_t n) {
  void* p = ::operator new[](n * sizeof(float), std::align_val_t{16}, std::nothrow);
  return KaiserFir::AlignedFloats(static_cast<float*>(p));
}

bool isPowerOfTwo(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

}  // namespace

KaiserFir::~KaiserFir() { release(); }

void KaiserFir::release() {
  coef.reset();
  table.reset();
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
    if (!coef || !table || !history || !proto || !window) {
      release();
      return false;
    }
    std::memset(coef.get(), 0, (n + 1) * sizeof(float));
    std::memset(table.get(), 0, size_t{n} * n * sizeof(float));
    capacityOrder = n;
    allocated = true;
  }
  order = n;
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
  log2Order = static_cast<uint32_t>(std::log(static_cast<double>(n)) / std::log(2.0));
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
void KaiserFir::run3dnow(const float* in, float* out, uint32_t n) {
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
// accumulators otherwise. Orders below 8 have no block to vectorise.
void KaiserFir::runSse(const float* in, float* out, uint32_t n) {
  const uint32_t taps = order;
  if (taps < 8) {
    runScalar(in, out, n);
    return;
  }
  float* const h = history.get();
  for (uint32_t i = 0; i < n; ++i) {
    const float x = in[i];
    const float* row = table.get() + size_t{position} * taps;
    float lanes[4];
#ifdef DSPFX_KAISER_SSE2
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
