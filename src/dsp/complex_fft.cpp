#include "dsp/complex_fft.h"

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <numbers>
#include <utility>

namespace dspfx {
namespace {

struct FftTables {
  ~FftTables() { release(); }

  void release() {
    std::free(sineTable);
    std::free(bitReverse);
    sineTable = nullptr;
    bitReverse = nullptr;
    lastSize = 0;
    tableCapacity = 0;
  }

  // Grows the blocks for n points; false (and nothing cached) when they
  // cannot be had.
  bool reserve(int32_t n) {
    if (n <= tableCapacity && sineTable && bitReverse) return true;
    const size_t sines = static_cast<size_t>(n) + static_cast<size_t>(n / 4);
    void* s = std::realloc(sineTable, sines * sizeof(float));
    if (s) sineTable = static_cast<float*>(s);
    void* r = s ? std::realloc(bitReverse, static_cast<size_t>(n) * sizeof(int32_t)) : nullptr;
    if (r) bitReverse = static_cast<int32_t*>(r);
    if (!s || !r) {
      release();
      return false;
    }
    tableCapacity = n;
    return true;
  }

  void build(int32_t n) {
    const int32_t half = n / 2;
    const int32_t quarter = n / 4;
    const int32_t eighth = n / 8;
    float* table = sineTable;

    // Sine and cosine advance together by a second-order recurrence, so the
    // first octant costs no trigonometric call per entry.
    const double t = std::sin(std::numbers::pi / n);
    double dc = 2.0 * t * t;
    double ds = std::sqrt(dc * (2.0 - dc));
    const double step = 2.0 * dc;
    double cosAcc = 1.0;
    double sinAcc = 0.0;
    table[quarter] = 1.0f;
    table[0] = 0.0f;
    for (int32_t i = 1; i < eighth; ++i) {
      cosAcc -= dc;
      dc += step * cosAcc;
      sinAcc += ds;
      ds -= step * sinAcc;
      table[i] = static_cast<float>(sinAcc);
      table[quarter - i] = static_cast<float>(cosAcc);
    }
    if (eighth != 0) table[eighth] = static_cast<float>(std::sqrt(0.5));
    for (int32_t i = 0; i < quarter; ++i) table[half - i] = table[i];
    for (int32_t i = 0; i < half + quarter; ++i) table[i + half] = -table[i];

    int32_t i = 0;
    int32_t j = 0;
    for (;;) {
      bitReverse[i] = j;
      if (++i >= n) break;
      int32_t k = half;
      while (k <= j) {
        j -= k;
        k /= 2;
      }
      j += k;
    }
  }

  std::mutex mutex;
  int32_t lastSize = 0;
  int32_t tableCapacity = 0;
  float* sineTable = nullptr;
  int32_t* bitReverse = nullptr;
};

FftTables& fftTables() {
  static FftTables tables;
  return tables;
}

bool isPowerOfTwo(int32_t n) { return n > 0 && (n & (n - 1)) == 0; }

}  // namespace

int complexFft(int32_t n, float* re, float* im) {
  FftTables& tables = fftTables();
  std::lock_guard<std::mutex> lock(tables.mutex);
  if (n == 0) {
    tables.release();
    return 0;
  }
  if (!isPowerOfTwo(n) || !re || !im) return 1;
  if (n != tables.lastSize) {
    if (!tables.reserve(n)) return 1;
    tables.lastSize = n;
    tables.build(n);
  }

  const float* table = tables.sineTable;
  const int32_t* rev = tables.bitReverse;
  const int32_t quarter = n / 4;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t j = rev[i];
    if (i < j) {
      std::swap(re[i], re[j]);
      std::swap(im[i], im[j]);
    }
  }

  for (int32_t k = 1; k < n; k *= 2) {
    const int32_t d = n / (2 * k);
    int32_t h = 0;
    for (int32_t j = 0; j < k; ++j) {
      // With two points the cosine slot of angle 0 is the sine slot itself
      // (quarter = 0), which holds sin 0; the cosine there is 1.
      const double cosine = quarter == 0 ? 1.0 : table[h + quarter];
      const double sine = table[h];
      for (int32_t i = j; i < n; i += 2 * k) {
        const int32_t m = i + k;
        const double dx = sine * im[m] + cosine * re[m];
        const double dy = cosine * im[m] - sine * re[m];
        re[m] = static_cast<float>(re[i] - dx);
        re[i] = static_cast<float>(re[i] + dx);
        im[m] = static_cast<float>(im[i] - dy);
        im[i] = static_cast<float>(im[i] + dy);
      }
      h += d;
    }
  }

  const double scale = 1.0 / n;
  for (int32_t i = 0; i < n; ++i) {
    re[i] = static_cast<float>(re[i] * scale);
    im[i] = static_cast<float>(im[i] * scale);
  }
  return 0;
}

int32_t complexFftCachedSize() {
  FftTables& tables = fftTables();
  std::lock_guard<std::mutex> lock(tables.mutex);
  return tables.lastSize;
}

}  // namespace dspfx
