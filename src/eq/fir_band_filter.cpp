#include "eq/fir_band_filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numbers>

#include "eq/complex_fft.h"
#include "eq/linear_gain.h"

namespace dspfx {
namespace {

std::unique_ptr<float[]> makeFloats(size_t count) {
  return std::unique_ptr<float[]>(new (std::nothrow) float[count]);
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
  if (n <= 0 || n > kLargestBandCount) return false;
  const size_t taps = 4 * static_cast<size_t>(n) - 1;
  const size_t bins = 2 * static_cast<size_t>(n);
  if (!allocated || n > N) {
    delayLine = makeFloats(taps - 1 + kChunk);
    coefficients = makeFloats(taps);
    binGains = makeFloats(bins);
    window = makeFloats(taps);
    fftRe = makeFloats(bins);
    fftIm = makeFloats(bins);
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
    std::fill_n(delayLine.get(), taps - 1 + kChunk, 0.0f);
    std::fill_n(coefficients.get(), taps, 0.0f);
  } else if (n < N) {
    // The line is kept, oldest first: the latest 4n - 2 inputs move to the
    // front so the shorter filter continues from them.
    const size_t oldPast = tapCount() - 1;
    std::memmove(delayLine.get(), delayLine.get() + (oldPast - (taps - 1)), (taps - 1) * sizeof(float));
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
// double in exactly that order. The tile computes kTile neighbouring outputs
// per tap so the vector lanes run across outputs, never across the sum,
// which keeps the result identical to the one-output-at-a-time form.
void FirBandFilter::runChunk(float* out, uint32_t count) const {
  const uint32_t taps = tapCount();
  const float* h = coefficients.get();
  const float* newest = delayLine.get() + (taps - 1);
  const double level = outputLevel;
  uint32_t n = 0;
  for (; n + kTile <= count; n += kTile) {
    const float* x = newest + n;
    double acc[kTile];
    const double h0 = h[0];
    for (uint32_t k = 0; k < kTile; ++k) acc[k] = h0 * x[k];
    for (uint32_t j = 1; j < taps; ++j) {
      const double c = h[j];
      const float* xj = x - j;
      for (uint32_t k = 0; k < kTile; ++k) acc[k] += c * xj[k];
    }
    for (uint32_t k = 0; k < kTile; ++k) out[n + k] = static_cast<float>(level * acc[k]);
  }
  for (; n < count; ++n) {
    const float* x = newest + n;
    double acc = double{h[0]} * x[0];
    for (uint32_t j = 1; j < taps; ++j) acc += double{h[j]} * x[-static_cast<int64_t>(j)];
    out[n] = static_cast<float>(level * acc);
  }
}

uint32_t FirBandFilter::process(const float* in, float* out, uint32_t frames) {
  if (!allocated) return 0;
  const uint32_t past = tapCount() - 1;
  float* line = delayLine.get();
  for (uint32_t done = 0; done < frames;) {
    const uint32_t count = std::min(kChunk, frames - done);
    // The chunk's inputs are taken in before any output is written, so in
    // and out may be the same buffer.
    std::memcpy(line + past, in + done, count * sizeof(float));
    runChunk(out + done, count);
    std::memmove(line, line + count, past * sizeof(float));
    done += count;
  }
  return frames;
}

}  // namespace dspfx
