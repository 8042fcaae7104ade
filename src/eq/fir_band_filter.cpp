#include "eq/fir_band_filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

#include "dsp/complex_fft.h"
#include "eq/linear_gain.h"

namespace dspfx {
namespace {

template <class T>
std::unique_ptr<T[]> makeArray(size_t count) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]);
}

// Sizes for which the tap count 4N - 1 and every array still fit in 32 bits.
constexpr int32_t kLargestBandCount = 1 << 27;

}  // namespace

FirBandFilter::~FirBandFilter() {
  delayLine.reset();
  coefficients.reset();
  binGains.reset();
  window.reset();
  fftRe.reset();
  fftIm.reset();
  // The design tables are shared by every filter; dropping them here keeps
  // a process that no longer equalises from holding them.
  complexFft(0, nullptr, nullptr);
}

bool FirBandFilter::allocate(int32_t n) {
  // The design transform runs on 2N points and needs a power of two.
  if (n <= 0 || n > kLargestBandCount || (n & (n - 1)) != 0) return false;
  const size_t taps = 4 * static_cast<size_t>(n) - 1;
  const size_t bins = 2 * static_cast<size_t>(n);
  if (!allocated || n > N) {
    delayLine = makeArray<double>(taps - 1 + kChunk);
    coefficients = makeArray<float>(taps);
    binGains = makeArray<float>(bins);
    window = makeArray<float>(taps);
    fftRe = makeArray<float>(bins);
    fftIm = makeArray<float>(bins);
    if (!delayLine || !coefficients || !binGains || !window || !fftRe || !fftIm) {
      delayLine.reset();
      coefficients.reset();
      binGains.reset();
      window.reset();
      fftRe.reset();
      fftIm.reset();
      allocated = false;
      N = 0;
      return false;
    }
    std::fill_n(delayLine.get(), taps - 1 + kChunk, 0.0);
    std::fill_n(coefficients.get(), taps, 0.0f);
  } else if (n < N) {
    // The line is kept, oldest first: the latest 4n - 2 inputs move to the
    // front so the shorter filter continues from them.
    const size_t oldPast = tapCount() - 1;
    std::memmove(delayLine.get(), delayLine.get() + (oldPast - (taps - 1)), (taps - 1) * sizeof(double));
  }
  N = n;
  // The denominator is the tap count, not the tap count less one: the first
  // tap is zeroed, the last is not.
  for (size_t m = 0; m < taps; ++m) {
    window[m] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(m) /
                                                        static_cast<double>(taps)));
  }
  allocated = true;
  return true;
}

void FirBandFilter::designAll(const float* gainsDb, float outputLevelDb) {
  if (!allocated) return;
  for (int32_t i = 0; i < N; ++i) {
    binGains[i] = linearFromDb(gainsDb[i]);
    binGains[N + i] = linearFromDb(gainsDb[N - 1 - i]);
  }
  design();
  outputLevel = linearFromDb(outputLevelDb);
}

bool FirBandFilter::setBandGain(int32_t band, float gainDb) {
  if (!allocated || band < 0 || band >= N) return false;
  const float g = linearFromDb(gainDb);
  binGains[band] = g;
  binGains[2 * N - 1 - band] = g;
  design();
  return true;
}

void FirBandFilter::setOutputLevel(float outputLevelDb) { outputLevel = linearFromDb(outputLevelDb); }

void FirBandFilter::design() {
  const int32_t bins = 2 * N;
  std::copy_n(binGains.get(), bins, fftRe.get());
  std::fill_n(fftIm.get(), bins, 0.0f);
  // A failed transform leaves the template in fftRe; the design goes on
  // with it rather than keep stale taps for other gains.
  complexFft(bins, fftRe.get(), fftIm.get());
  // Taps at equal distance from the centre share one transform value; the
  // centre tap is written twice with the same value.
  for (int32_t k = 0; k < bins; ++k) {
    coefficients[k] = fftRe[bins - 1 - k] * window[k];
    coefficients[bins - 1 + k] = fftRe[k] * window[bins - 1 + k];
  }
}

// Each output is outputLevel * (h[0] x[n] + h[1] x[n-1] + ... ), summed in
// double in exactly that order. The loops run across the outputs of a chunk
// (one vector lane per output) and over the taps eight at a time, so the
// compiler vectorises without reordering any sum and each output's partial
// sum is loaded and stored once per eight taps.
void FirBandFilter::runChunk(float* out, uint32_t count) const {
  const uint32_t taps = tapCount();
  const float* h = coefficients.get();
  const double* x = delayLine.get() + (taps - 1);
  double acc[kChunk];
  const double first = h[0];
  for (uint32_t k = 0; k < count; ++k) acc[k] = first * x[k];
  uint32_t j = 1;
  for (; j + 8 <= taps; j += 8) {
    const double c0 = h[j], c1 = h[j + 1], c2 = h[j + 2], c3 = h[j + 3];
    const double c4 = h[j + 4], c5 = h[j + 5], c6 = h[j + 6], c7 = h[j + 7];
    const double* x0 = x - j;
    const double* x1 = x0 - 1;
    const double* x2 = x0 - 2;
    const double* x3 = x0 - 3;
    const double* x4 = x0 - 4;
    const double* x5 = x0 - 5;
    const double* x6 = x0 - 6;
    const double* x7 = x0 - 7;
    for (uint32_t k = 0; k < count; ++k) {
      double t = acc[k] + c0 * x0[k];
      t = t + c1 * x1[k];
      t = t + c2 * x2[k];
      t = t + c3 * x3[k];
      t = t + c4 * x4[k];
      t = t + c5 * x5[k];
      t = t + c6 * x6[k];
      acc[k] = t + c7 * x7[k];
    }
  }
  for (; j < taps; ++j) {
    const double c = h[j];
    const double* xj = x - j;
    for (uint32_t k = 0; k < count; ++k) acc[k] = acc[k] + c * xj[k];
  }
  const double level = outputLevel;
  for (uint32_t k = 0; k < count; ++k) out[k] = static_cast<float>(level * acc[k]);
}

uint32_t FirBandFilter::process(const float* in, float* out, uint32_t frames) {
  if (!allocated) return 0;
  const uint32_t past = tapCount() - 1;
  double* line = delayLine.get();
  for (uint32_t done = 0; done < frames;) {
    const uint32_t count = std::min(kChunk, frames - done);
    // The chunk's inputs are taken in before any output is written, so in
    // and out may be the same buffer.
    std::copy_n(in + done, count, line + past);
    runChunk(out + done, count);
    std::memmove(line, line + count, past * sizeof(double));
    done += count;
  }
  return frames;
}

}  // namespace dspfx
